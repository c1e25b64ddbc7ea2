// A folder of this fuzz process's own for the files that a target writes and reads back, in
// memory-backed storage where there is one, removed with everything in it at exit.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "folder_guard.h"
#include "fuzz_check.h"

class ScratchFolder : public FolderGuard {
 public:
  explicit ScratchFolder(const std::string& target)
      : FolderGuard(Base() / ("setup-fuzz-" + target + "-" + std::to_string(getpid()))) {}

 private:
  static std::filesystem::path Base() {
    const std::filesystem::path shm = "/dev/shm";
    return std::filesystem::is_directory(shm) ? shm : std::filesystem::temp_directory_path();
  }
};

inline void WriteScratchFile(const std::filesystem::path& path, const uint8_t* data, size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  FUZZ_CHECK(file != nullptr);
  FUZZ_CHECK(std::fwrite(data, 1, size, file) == size);
  FUZZ_CHECK(std::fclose(file) == 0);
}

inline std::vector<uint8_t> ReadScratchFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
