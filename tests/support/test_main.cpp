// The main of every unit test program: GoogleTest with the watchdog.
#include <gtest/gtest.h>
#include "watchdog.h"

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    watchdog::install();
    return RUN_ALL_TESTS();
}
