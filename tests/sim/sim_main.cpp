// The simulator suite runs on the chassis its tests declare and on the
// device trees they build: never on a developer's resource file, serial
// ports or USB instruments.
#include <gtest/gtest.h>

#include <cstdlib>

#include "support/host_support.h"

int main(int argc, char **argv) {
    setenv("KORVAX_VISA_RESOURCES", "", 1);
    setenv("KORVAX_DEV_ROOT", hosttest::HostRoots::kNowhere, 1);
    setenv("KORVAX_SYSFS_ROOT", hosttest::HostRoots::kNowhere, 1);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
