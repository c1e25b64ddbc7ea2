// Shared by the packer tests: running mksetup in-process as its command line would, building
// source folders with chosen contents and times, and test data that looks like a real payload.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "temp_folder.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#endif

struct ToolRun {
  int exitCode;
  std::string out;
  std::string err;
};

inline ToolRun Mksetup(const std::vector<std::string>& arguments) {
  std::ostringstream out;
  std::ostringstream err;
  const int exitCode = RunMksetup(arguments, out, err);
  return ToolRun{exitCode, out.str(), err.str()};
}

// The host's spelling of a path below a test folder: forward slashes in the test, the host's
// separator on disk.
inline std::string HostPath(const TempFolder& folder, const std::string& relative) {
  std::string path = folder.File(relative);
#ifdef _WIN32
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
#endif
  return path;
}

inline void MakeFile(const std::string& path, const std::vector<uint8_t>& contents) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  WriteWholeFile(path, contents);
}

inline std::vector<uint8_t> Bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

// 100-ns ticks since 1601 of a Unix time.
inline uint64_t FileTimeOf(int64_t seconds, uint32_t nanoseconds) {
  return static_cast<uint64_t>(seconds + 11644473600LL) * 10000000u + nanoseconds / 100;
}

// Sets last access and last write to the given FILETIMEs (and, on Windows, creation too).
inline void SetFileTimes(const std::string& path, uint64_t creation, uint64_t access, uint64_t write) {
#ifdef _WIN32
  HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  FILETIME c{static_cast<DWORD>(creation), static_cast<DWORD>(creation >> 32)};
  FILETIME a{static_cast<DWORD>(access), static_cast<DWORD>(access >> 32)};
  FILETIME w{static_cast<DWORD>(write), static_cast<DWORD>(write >> 32)};
  ASSERT_TRUE(SetFileTime(file, &c, &a, &w));
  CloseHandle(file);
#else
  (void)creation;
  const auto toTimespec = [](uint64_t fileTime) {
    const uint64_t ticks = fileTime - 116444736000000000ULL;
    return timespec{static_cast<time_t>(ticks / 10000000), static_cast<long>(ticks % 10000000 * 100)};
  };
  const timespec times[2] = {toTimespec(access), toTimespec(write)};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
#endif
}

struct HostTimes {
  uint64_t access;
  uint64_t write;
};

inline HostTimes ReadFileTimes(const std::string& path) {
#ifdef _WIN32
  WIN32_FILE_ATTRIBUTE_DATA data;
  EXPECT_TRUE(GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data));
  const auto value = [](const FILETIME& t) { return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
  return HostTimes{value(data.ftLastAccessTime), value(data.ftLastWriteTime)};
#else
  struct stat status;
  EXPECT_EQ(lstat(path.c_str(), &status), 0);
  return HostTimes{FileTimeOf(status.st_atim.tv_sec, static_cast<uint32_t>(status.st_atim.tv_nsec)),
                   FileTimeOf(status.st_mtim.tv_sec, static_cast<uint32_t>(status.st_mtim.tv_nsec))};
#endif
}

// Text that compresses like source code or documents: words from a small vocabulary with
// punctuation and line breaks.
inline std::vector<uint8_t> TextLikeData(size_t size, uint32_t seed) {
  static const char* const kWords[] = {"the", "setup", "program", "file", "folder", "return", "int", "const",
                                       "void", "struct", "if", "else", "for", "while", "payload", "entry",
                                       "size", "time", "window", "dialog", "error", "message", "path", "data"};
  std::mt19937 random(seed);
  std::vector<uint8_t> data;
  while (data.size() < size) {
    const std::string word = kWords[random() % (sizeof(kWords) / sizeof(kWords[0]))];
    data.insert(data.end(), word.begin(), word.end());
    const uint32_t r = random() % 16;
    data.push_back(r == 0 ? '\n' : r == 1 ? ';' : r == 2 ? '(' : ' ');
  }
  data.resize(size);
  return data;
}

// Bytes that no compressor shrinks, like the archives and images that make up most payloads.
inline std::vector<uint8_t> NoiseData(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> data(size);
  for (uint8_t& byte : data) byte = static_cast<uint8_t>(random());
  return data;
}

// Machine code and tables: runs of structured records with small numbers and repeated opcodes.
inline std::vector<uint8_t> BinaryLikeData(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> data;
  while (data.size() < size) {
    const uint8_t record[] = {0x48, 0x8B, static_cast<uint8_t>(0x40 + random() % 8), static_cast<uint8_t>(random() % 64),
                              0xE8, static_cast<uint8_t>(random()), static_cast<uint8_t>(random() % 4), 0x00, 0x00};
    data.insert(data.end(), record, record + 2 + random() % 7);
  }
  data.resize(size);
  return data;
}

// A payload-like mix: mostly already-compressed content, some code, some text, in file-sized pieces.
inline std::vector<uint8_t> RealisticMix(size_t size) {
  std::vector<uint8_t> data;
  uint32_t seed = 1;
  while (data.size() < size) {
    std::vector<uint8_t> piece;
    const size_t length = 20000 + (seed * 7919) % 700000;
    switch (seed % 5) {
      case 0:
      case 1:
      case 2:
        piece = NoiseData(length, seed);
        break;
      case 3:
        piece = BinaryLikeData(length, seed);
        break;
      default:
        piece = TextLikeData(length, seed);
        break;
    }
    data.insert(data.end(), piece.begin(), piece.end());
    ++seed;
  }
  data.resize(size);
  return data;
}
