// An extraction target in memory for the fuzz targets, so that an extraction runs its whole
// planning and writing without the disk; and how two FILETIMEs compare.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "fuzz_check.h"
#include "payload/extraction.h"

// The extraction's files as the host would hold them, by the path their folders and name make
// below the extraction folder, with the times each was given.
class MemoryFolder : public ExtractionTarget {
 public:
  struct File {
    std::vector<uint8_t> contents;
    FileTime lastAccess;
    FileTime lastWrite;
  };

  explicit MemoryFolder(const std::filesystem::path& folder) : folder_(folder) {}

  void Begin(const PlannedEntry& entry) override {
    FUZZ_CHECK(open_ == nullptr);
    open_ = &entry;
    pending_.clear();
  }
  void Append(const uint8_t* data, size_t size) override {
    FUZZ_CHECK(open_ != nullptr);
    pending_.insert(pending_.end(), data, data + size);
  }
  void Finish(const StoredEntry& stored) override {
    FUZZ_CHECK(open_ != nullptr);
    files_[PathOf(*open_)] = File{std::move(pending_), stored.fields.lastAccessTime, stored.fields.lastWriteTime};
    pending_.clear();
    open_ = nullptr;
  }
  void Abandon() override {
    open_ = nullptr;
    pending_.clear();
  }
  void Remove(const PlannedEntry& entry) override { files_.erase(PathOf(entry)); }

  const std::map<std::filesystem::path, File>& files() const { return files_; }

 private:
  // Every component must be a plain name, or the host's folder would take the entry elsewhere.
  std::filesystem::path PathOf(const PlannedEntry& entry) const {
    std::filesystem::path path = folder_;
    for (const std::string& part : entry.folders) path /= CheckedComponent(part);
    return path / CheckedComponent(entry.fileName);
  }
  static const std::string& CheckedComponent(const std::string& part) {
    FUZZ_CHECK(!part.empty() && part != "." && part != "..");
    FUZZ_CHECK(part.find('/') == std::string::npos && part.find('\0') == std::string::npos);
    return part;
  }

  std::filesystem::path folder_;
  const PlannedEntry* open_ = nullptr;
  std::vector<uint8_t> pending_;
  std::map<std::filesystem::path, File> files_;
};

inline bool SameTime(const FileTime& a, const FileTime& b) {
  return a.lowDateTime == b.lowDateTime && a.highDateTime == b.highDateTime;
}
