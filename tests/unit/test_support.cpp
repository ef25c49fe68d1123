#include <gtest/gtest.h>

// The programs are built with -municode, so the test runner has a wide entry too.
int wmain(int argc, wchar_t** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
