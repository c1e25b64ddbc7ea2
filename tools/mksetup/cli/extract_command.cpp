#include "cli/each_command.h"
#include "cli/help_text.h"
#include "cli/options.h"
#include "host/files.h"
#include "payload/extraction.h"
#include "payload/payload_source.h"

int RunExtractCommand(const std::vector<std::string>& arguments, std::ostream& out) {
  const Options options = ParseOptions(arguments, kFolderOption | kCodePageOption);
  if (options.help) {
    out << ExtractHelp();
    return 0;
  }
  const std::string& file = OneOperand(options, "the setup program or payload to extract (FILE)");
  if (options.folder.empty()) throw UsageError("missing -C DIR");
  const InputFile input(file);
  // The first pass checks the whole stream, so that a payload damaged near its end writes nothing.
  const LoadedPayload payload = LoadPayload(input, file);
  ExtractPayload(payload, input, file, options.folder, CodePageOf(options));
  return 0;
}
