// The packer's `--icon` and `--version` options: what the user asks for, checked as it is given,
// and the stub branded with it before any of the folder is read.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "pe/version_block.h"

struct BrandingRequest {
  std::string iconPath;                // empty: the stub's icon stays
  std::vector<VersionString> strings;  // in the order given
};

// The keys that `--version` sets, in the order the help lists them.
extern const char* const kVersionKeys[6];

// Adds one `--version KEY=VALUE`. Throws std::invalid_argument, with the text for the user, for a
// key that is not one of kVersionKeys, a key given twice, or a value that is no UTF-8.
void AddVersionOption(BrandingRequest& request, const std::string& keyValue);

// Reads the icon file and returns `stub` with the request applied. Throws ToolError naming the
// icon file or the stub and what is wrong with it. A FileVersion or ProductVersion that is not
// four numbers a.b.c.d sets only the text, and `err` is told so.
std::vector<uint8_t> BrandStubAsRequested(std::vector<uint8_t> stub, const std::string& stubPath,
                                          const BrandingRequest& request, std::ostream& err);
