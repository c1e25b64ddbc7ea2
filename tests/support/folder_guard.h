// A folder that exists for as long as its guard lives: made fresh and empty, and removed with
// everything in it at the end. The tests' per-case folders and the fuzz targets' scratch folders.
#pragma once

#include <filesystem>
#include <string>
#include <system_error>
#include <utility>

class FolderGuard {
 public:
  explicit FolderGuard(std::filesystem::path path) : path_(std::move(path)) {
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~FolderGuard() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  FolderGuard(const FolderGuard&) = delete;
  FolderGuard& operator=(const FolderGuard&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};
