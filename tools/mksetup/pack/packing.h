// Packing a folder, the whole way: the stub read and branded, the folder examined with every
// refusal before anything is written, the payload streamed from the files through the compressor
// into the output, and the output replaced only after a whole success.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>

#include "pack/compressor.h"
#include "pack/folder_scan.h"
#include "pack/stub_branding.h"
#include "text/code_pages.h"

struct PackRequest {
  std::string folder;
  std::string output;
  std::string launch;    // as the user typed it, '/' or '\' between folders; empty: launch nothing
  std::string stubPath;  // empty: the bare payload stream, without a program around it
  ScanOptions scan;
  BrandingRequest branding;
  unsigned threads = 0;  // 0: one per processor
  int level = kDefaultDeflateLevel;
  const CodePage* codePage = nullptr;  // names beyond ASCII are refused without one
};

struct PackResult {
  size_t fileCount = 0;
  uint64_t mergeFileSize = 0;
  uint64_t streamSize = 0;
};

// Throws ToolError naming the stub, the folder (with the grouped report of every problem) or the
// output; warnings about what is left out go to `err`.
PackResult PackFolder(const PackRequest& request, std::ostream& err, const DeflateProgress& progress);
