// Runs a fuzz target without libFuzzer, as an ordinary test: every file of its seed corpus and of
// its regression folder goes through LLVMFuzzerTestOneInput once, in a buffer of exactly its size
// so that the sanitizers see any read past its end. A broken check aborts and names the file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

std::vector<std::filesystem::path> FilesIn(const std::filesystem::path& folder) {
  std::vector<std::filesystem::path> files;
  if (!std::filesystem::is_directory(folder)) return files;
  for (const auto& item : std::filesystem::directory_iterator(folder)) {
    if (item.is_regular_file()) files.push_back(item.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

void Replay(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  ASSERT_TRUE(in) << file;
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // A fresh block of the exact size; an empty input still gets a valid, unreadable pointer.
  std::unique_ptr<uint8_t[]> block(new uint8_t[bytes.size()]);
  std::copy(bytes.begin(), bytes.end(), block.get());
  const std::string name = file.string();
  g_fuzzInputName = name.c_str();
  EXPECT_EQ(0, LLVMFuzzerTestOneInput(block.get(), bytes.size())) << name;
  g_fuzzInputName = nullptr;
}

}  // namespace

TEST(FuzzReplay, EverySeedRunsClean) {
  const std::vector<std::filesystem::path> files = FilesIn(FUZZ_CORPUS_DIR);
  ASSERT_FALSE(files.empty()) << "no seeds in " << FUZZ_CORPUS_DIR;
  for (const auto& file : files) Replay(file);
}

TEST(FuzzReplay, EveryRegressionRunsClean) {
  const std::vector<std::filesystem::path> files = FilesIn(FUZZ_REGRESSION_DIR);
  if (files.empty()) GTEST_SKIP() << "no regressions recorded in " << FUZZ_REGRESSION_DIR;
  for (const auto& file : files) Replay(file);
}
