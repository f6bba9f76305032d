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
//
// An expression is at most kMaxExpressionLength characters long and nests
// parentheses at most kMaxNesting deep; longer or deeper ones do not compile
// (viFindRsrc answers VI_ERROR_INV_EXPR). Matching runs the expression as a
// state machine over the name, one step per character, so its time grows
// with expression length times name length whatever the expression: a
// search never holds the resource manager for long.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace korvax::visa {

inline constexpr std::size_t kMaxExpressionLength = 256;
inline constexpr int kMaxNesting = 32;

class ResourceExpression {
public:
    // nullopt for a malformed expression (empty, unbalanced parentheses or
    // brackets, a repeat with nothing before it, a trailing backslash, an
    // empty alternative) and for one over the length or nesting bound.
    static std::optional<ResourceExpression> compile(std::string_view text);
    bool matches(std::string_view name) const;

    struct Node;
    struct Machine;

private:
    explicit ResourceExpression(std::shared_ptr<const Machine> machine)
        : machine_(std::move(machine)) {}
    std::shared_ptr<const Machine> machine_;
};

}  // namespace korvax::visa
