// The simulated-chassis suite runs on the built-in VISA library and on the
// chassis it declares itself, whatever the caller's environment says.
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char **argv) {
    unsetenv("KORVAX_VISA_LIBRARY");
    unsetenv("KORVAX_VISA_ONLY");
    setenv("KORVAX_VISA_RESOURCES", "", 1);
    // Serial ports and USB devices of this machine are never probed.
    setenv("KORVAX_DEV_ROOT", "/nonexistent/korvax-test-root", 1);
    setenv("KORVAX_SYSFS_ROOT", "/nonexistent/korvax-test-root", 1);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
