#include <gtest/gtest.h>

// Every test executable starts here (pulled from the support library).
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
