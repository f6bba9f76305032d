// Fuzzes the resource-search expressions and the resource-name parser of
// the built-in VISA library. The input's first byte splits the rest into an
// expression and a name; the expression is compiled and, when it compiles,
// matched against the name. The name must come out of the parser either
// refused or as a name of at most 255 characters that the parser leaves
// unchanged, and that an expression equal to it (escaped) matches.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "visa/resource_expression.h"
#include "visa/resource_name.h"

using korvax::visa::canonicalResourceName;
using korvax::visa::ResourceExpression;
using korvax::visa::standardResourceName;

namespace {

void checkName(std::string_view name) {
    const auto standard = standardResourceName(name);
    const auto canonical = canonicalResourceName(name);
    if (standard.has_value() != canonical.has_value()) std::abort();
    if (!standard) return;
    if (standard->size() > korvax::visa::kMaxResourceNameLength) std::abort();
    if (standardResourceName(*standard) != standard) std::abort();
    if (canonicalResourceName(*canonical) != canonical) std::abort();
    if (canonicalResourceName(*standard) != canonical) std::abort();
    // Every character escaped: the expression names exactly this resource.
    std::string literal;
    for (const char c : *standard) {
        literal += '\\';
        literal += c;
    }
    if (literal.size() <= korvax::visa::kMaxExpressionLength) {
        const auto exact = ResourceExpression::compile(literal);
        if (!exact || !exact->matches(*standard) || !exact->matches(*canonical)) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    const std::string_view rest(reinterpret_cast<const char *>(data + 1), size - 1);
    const size_t split = data[0] < rest.size() ? data[0] : rest.size();
    const std::string_view expr = rest.substr(0, split);
    const std::string_view name = rest.substr(split);
    if (const auto pattern = ResourceExpression::compile(expr)) pattern->matches(name);
    checkName(name);
    checkName(rest);
    return 0;
}
