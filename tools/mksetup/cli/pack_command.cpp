#include "cli/each_command.h"
#include "cli/help_text.h"
#include "cli/options.h"
#include "cli/progress_bar.h"
#include "cli/stub_location.h"
#include "host/process_calls.h"
#include "pack/packing.h"

int RunPackCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err, bool withStub) {
  const unsigned accepted = kOutputOption | kLaunchOption | kThreadsOption | kCodePageOption | kScanOptions |
                            (withStub ? kStubOptions : 0u);
  const Options options = ParseOptions(arguments, accepted);
  if (options.help) {
    out << (withStub ? PackHelp() : PayloadHelp());
    return 0;
  }
  PackRequest request;
  request.folder = OneOperand(options, "the folder to pack (DIR)");
  request.output = options.output;
  if (request.output.empty()) throw UsageError("missing -o OUT");
  request.launch = options.launch;
  if (withStub) request.stubPath = options.stub.empty() ? FindDefaultStub() : options.stub;
  request.scan = options.scan;
  request.branding = options.branding;
  request.threads = options.threads;
  request.level = options.level;
  request.codePage = CodePageOf(options);

  PackResult result;
  {
    ProgressBar bar(err, StderrIsTerminal());
    result = PackFolder(request, err, [&](uint64_t done, uint64_t total) { bar.Show("packing", done, total); });
  }
  out << request.output << ": " << result.fileCount << (result.fileCount == 1 ? " file, " : " files, ")
      << result.mergeFileSize << " bytes, compressed to " << result.streamSize << " bytes\n";
  return 0;
}
