// The end-to-end suite runs on the built-in VISA library and on the chassis
// it declares itself, whatever the caller's environment says.
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char **argv) {
    unsetenv("KORVAX_VISA_LIBRARY");
    setenv("KORVAX_VISA_RESOURCES", "", 1);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
