// The command line's options: which ones each command takes, their values checked as they are
// read, and the usage error that names what is wrong.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "pack/compressor.h"
#include "pack/folder_scan.h"
#include "pack/stub_branding.h"
#include "text/code_pages.h"

// A command line that cannot be carried out as written; the command then exits with 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Options {
  std::vector<std::string> operands;
  std::string output;
  std::string launch;
  std::string stub;
  std::string folder;
  ScanOptions scan;
  BrandingRequest branding;
  unsigned threads = 0;
  int level = kDefaultDeflateLevel;
  std::optional<CodePage> codePage;
  bool json = false;
  bool help = false;
};

// The groups of options a command takes, combined with |; anything else is a usage error.
enum OptionGroup : unsigned {
  kOutputOption = 1u << 0,    // -o, --output
  kLaunchOption = 1u << 1,    // --launch
  kStubOptions = 1u << 2,     // --stub, --icon, --version
  kThreadsOption = 1u << 3,   // --threads
  kJsonOption = 1u << 4,      // --json
  kFolderOption = 1u << 5,    // -C, --directory
  kCodePageOption = 1u << 6,  // --codepage
  kScanOptions = 1u << 7,     // --dereference, --skip-empty, --exclude, --level
};

// Reads the options after the command's name (arguments[0]); throws UsageError.
Options ParseOptions(const std::vector<std::string>& arguments, unsigned accepted);

// The single operand the command needs; `what` names it in the usage error.
const std::string& OneOperand(const Options& options, const char* what);

const CodePage* CodePageOf(const Options& options);
