// A module that carries a payload resource the way the program does: a copy of a small PE file of
// ours with "SETUP" / 2000 / 1033 added through the resource update calls, loaded as a data file
// and made the instance handle that the worker searches.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

class PayloadModule {
 public:
  // Writes the copy into `folder` (which must exist). With `withResource` false the copy keeps
  // no payload at all.
  PayloadModule(const std::string& folder, const std::vector<uint8_t>& payload, bool withResource = true);
  ~PayloadModule();
  PayloadModule(const PayloadModule&) = delete;
  PayloadModule& operator=(const PayloadModule&) = delete;

  bool loaded() const { return module_ != nullptr; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  HMODULE module_ = nullptr;
  HMODULE savedModule_ = nullptr;
};

// The full path of a program built beside the running test program.
std::string BesideTestProgram(const std::string& name);
