// Test entry point shared by every test executable.
#include <gtest/gtest.h>

#include <cstdio>

int main(int argc, char** argv)
{
    // Windows' C runtime fully buffers a piped stdout; a killed test would lose its output.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
