// The main of every test program. On Windows it first takes the run's fresh temporary folder from
// SETUP_TEST_TMP into TMP and TEMP, because Wine fills those two from its registry, not from Linux.
#include <gtest/gtest.h>

#include <cstdlib>

#ifdef _WIN32
#include <windows.h>
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
  if (const char* tmp = std::getenv("SETUP_TEST_TMP")) {
    SetEnvironmentVariableA("TMP", tmp);
    SetEnvironmentVariableA("TEMP", tmp);
  }
#endif
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
