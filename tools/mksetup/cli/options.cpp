#include "cli/options.h"

#include <cstdlib>

#include "pack/exclude_patterns.h"

namespace {

unsigned ParseThreads(const std::string& text) {
  char* end = nullptr;
  const unsigned long value = std::strtoul(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value == 0 || value > 1024) {
    throw UsageError("--threads needs a number from 1 to 1024, not '" + text + "'");
  }
  return static_cast<unsigned>(value);
}

int ParseLevel(const std::string& text) {
  if (text.size() != 1 || text[0] < '1' || text[0] > '9') {
    throw UsageError("--level needs a number from 1 (fastest) to 9 (smallest), not '" + text + "'");
  }
  return text[0] - '0';
}

CodePage ParseCodePage(const std::string& text) {
  try {
    return CodePage::Named(text);
  } catch (const std::invalid_argument& error) {
    throw UsageError(error.what());
  }
}

void AddVersion(BrandingRequest& branding, const std::string& keyValue) {
  try {
    AddVersionOption(branding, keyValue);
  } catch (const std::invalid_argument& error) {
    throw UsageError(error.what());
  }
}

void CheckExcludePatterns(const std::vector<std::string>& patterns) {
  try {
    ExcludePatterns{patterns};
  } catch (const PatternError& error) {
    throw UsageError(error.what());
  }
}

}  // namespace

Options ParseOptions(const std::vector<std::string>& arguments, unsigned accepted) {
  Options options;
  const auto takes = [accepted](OptionGroup group) { return (accepted & group) != 0; };
  for (size_t i = 1; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    const auto value = [&](const std::string& name) -> std::string {
      if (i + 1 >= arguments.size()) throw UsageError(name + " needs a value");
      return arguments[++i];
    };
    if (argument == "--help" || argument == "-h") {
      options.help = true;
    } else if (takes(kOutputOption) && (argument == "-o" || argument == "--output")) {
      options.output = value(argument);
    } else if (takes(kLaunchOption) && argument == "--launch") {
      options.launch = value(argument);
    } else if (takes(kStubOptions) && argument == "--stub") {
      options.stub = value(argument);
    } else if (takes(kStubOptions) && argument == "--icon") {
      options.branding.iconPath = value(argument);
      if (options.branding.iconPath.empty()) throw UsageError("--icon needs the path of an .ico file");
    } else if (takes(kStubOptions) && argument == "--version") {
      AddVersion(options.branding, value(argument));
    } else if (takes(kThreadsOption) && argument == "--threads") {
      options.threads = ParseThreads(value(argument));
    } else if (takes(kJsonOption) && argument == "--json") {
      options.json = true;
    } else if (takes(kFolderOption) && (argument == "-C" || argument == "--directory")) {
      options.folder = value(argument);
    } else if (takes(kCodePageOption) && argument == "--codepage") {
      options.codePage = ParseCodePage(value(argument));
    } else if (takes(kScanOptions) && argument == "--dereference") {
      options.scan.dereference = true;
    } else if (takes(kScanOptions) && argument == "--skip-empty") {
      options.scan.skipEmpty = true;
    } else if (takes(kScanOptions) && argument == "--exclude") {
      options.scan.excludes.push_back(value(argument));
    } else if (takes(kScanOptions) && argument == "--level") {
      options.level = ParseLevel(value(argument));
    } else if (argument.size() > 1 && argument[0] == '-') {
      throw UsageError("unknown option '" + argument + "'");
    } else {
      options.operands.push_back(argument);
    }
  }
  CheckExcludePatterns(options.scan.excludes);
  return options;
}

const std::string& OneOperand(const Options& options, const char* what) {
  if (options.operands.empty()) throw UsageError(std::string("missing ") + what);
  if (options.operands.size() > 1) throw UsageError("unexpected argument '" + options.operands[1] + "'");
  return options.operands[0];
}

const CodePage* CodePageOf(const Options& options) { return options.codePage ? &*options.codePage : nullptr; }
