// Test programs link with the Unicode entry point (-municode), which calls
// wmain; this one hands the arguments to GoogleTest.
#include <gtest/gtest.h>

int wmain(int argc, wchar_t** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
