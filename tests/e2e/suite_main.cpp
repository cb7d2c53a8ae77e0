// The main of a black-box suite: `suite <path of sorvane.exe> [<path of the
// build to compare it with>]`.
#include <gtest/gtest.h>
#include "program.h"
#include "watchdog.h"
#include <stdio.h>

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    watchdog::install();
    if (argc < 2) {
        fprintf(stderr, "usage: %s <path of sorvane.exe>\n", argv[0]);
        return 2;
    }
    e2e::programPath = e2e::windows_path(argv[1]);
    if (argc > 2)
        e2e::referencePath = e2e::windows_path(argv[2]);
    return RUN_ALL_TESTS();
}
