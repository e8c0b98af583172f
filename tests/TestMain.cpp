// Test entry point: every test sees the same time zone, UTC, whatever the machine's.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

int main(int argc, char** argv)
{
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
