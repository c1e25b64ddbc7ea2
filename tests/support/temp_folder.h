// A fresh, empty folder below the temporary directory for one test case, removed with everything
// in it when the case ends; plus the small file helpers that the tests share.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "folder_guard.h"

// Named after the test case, so that a folder left behind by a crash says whose it was.
class TempFolder : public FolderGuard {
 public:
  TempFolder() : FolderGuard(std::filesystem::temp_directory_path() / CaseName()) {}

 private:
  static std::string CaseName() {
    static std::atomic<unsigned> counter{0};
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "case";
    for (char& c : name) {
      if (c == '/') c = '_';
    }
    return name + "." + std::to_string(counter++);
  }
};

inline std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}
