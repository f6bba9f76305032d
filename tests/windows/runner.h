// A small self-contained test runner for the Windows test program: cases
// register themselves, checks report file, line and both values, and the run
// closes with the line "N passed, N failed" (N counting cases).
#pragma once

#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>

namespace wintest {

using CaseFn = void (*)();
struct Register {
    Register(const char *name, CaseFn fn);
};

void fail(const char *file, int line, const std::string &what);

template <typename T>
std::string show(const T &v) {
    std::ostringstream os;
    if constexpr (std::is_same_v<T, uint8_t> || std::is_same_v<T, int8_t>)
        os << static_cast<int>(v);
    else if constexpr (std::is_convertible_v<T, std::string_view>)
        os << '"' << std::string_view(v) << '"';
    else
        os << v;
    return os.str();
}

template <typename A, typename B>
bool checkEq(const A &a, const B &b, const char *as, const char *bs, const char *file, int line,
             const std::string &context) {
    bool same;
    if constexpr (std::is_convertible_v<A, std::string_view> &&
                  std::is_convertible_v<B, std::string_view>)
        same = std::string_view(a) == std::string_view(b);
    else
        same = a == b;
    if (!same)
        fail(file, line,
             std::string(as) + " == " + bs + ": " + show(a) + " vs " + show(b) +
                 (context.empty() ? "" : " [" + context + "]"));
    return same;
}

}  // namespace wintest

#define WIN_CONCAT2(a, b) a##b
#define WIN_CONCAT(a, b) WIN_CONCAT2(a, b)
#define WIN_TEST(name)                                                   \
    static void name();                                                  \
    static const wintest::Register WIN_CONCAT(register_, name)(#name, name); \
    static void name()
// CHECK_EQ(actual, expected[, context]) compares numbers or texts.
#define CHECK_EQ(a, b, ...) \
    wintest::checkEq((a), (b), #a, #b, __FILE__, __LINE__, std::string(__VA_ARGS__))
#define CHECK(cond, ...)                                                     \
    ((cond) ? true                                                           \
            : (wintest::fail(__FILE__, __LINE__,                             \
                             std::string(#cond) + " [" + std::string(__VA_ARGS__) + "]"), \
               false))
