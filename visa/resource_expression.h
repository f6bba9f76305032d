// The resource-search expressions of viFindRsrc. A resource string matches
// when the whole of it matches the expression, letter case ignored:
//
//   ?        any one character
//   \c       the character c itself (also inside [...])
//   [list]   one character of the list; a-z gives a range
//   [^list]  one character not in the list
//   x*       zero or more of the preceding character, list or group
//   x+       one or more of it
//   a|b      either side (lowest precedence)
//   (...)    grouping
//
// So "(GPIB|USB|ASRL|TCPIP)?*INSTR" finds every INSTR resource of those
// interfaces. Attribute conditions in braces after the expression are not
// supported: such an expression does not compile.
#pragma once

#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace korvax::visa {

class ResourceExpression {
public:
    // nullopt for a malformed expression (empty, unbalanced parentheses or
    // brackets, a repeat with nothing before it, a trailing backslash, an
    // empty alternative).
    static std::optional<ResourceExpression> compile(std::string_view text);
    bool matches(std::string_view name) const;

    struct Node;

private:
    explicit ResourceExpression(std::shared_ptr<const Node> root) : root_(std::move(root)) {}
    std::shared_ptr<const Node> root_;
};

}  // namespace korvax::visa
