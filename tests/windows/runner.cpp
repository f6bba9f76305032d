#include "windows/runner.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace wintest {
namespace {

struct Case {
    const char *name;
    CaseFn fn;
};

std::vector<Case> &cases() {
    static std::vector<Case> all;
    return all;
}

int failuresInCase = 0;

}  // namespace

Register::Register(const char *name, CaseFn fn) { cases().push_back({name, fn}); }

void fail(const char *file, int line, const std::string &what) {
    ++failuresInCase;
    std::printf("  %s:%d: %s\n", file, line, what.c_str());
}

}  // namespace wintest

// Runs every case, or those whose name contains the first argument.
int main(int argc, char **argv) {
    const char *filter = argc > 1 ? argv[1] : "";
    int passed = 0, failed = 0;
    for (const auto &c : wintest::cases()) {
        if (std::strstr(c.name, filter) == nullptr) continue;
        wintest::failuresInCase = 0;
        c.fn();
        if (wintest::failuresInCase == 0) {
            ++passed;
            std::printf("ok   %s\n", c.name);
        } else {
            ++failed;
            std::printf("FAIL %s\n", c.name);
        }
        std::fflush(stdout);
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
