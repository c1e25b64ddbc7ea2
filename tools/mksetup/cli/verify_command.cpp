#include "cli/each_command.h"
#include "cli/help_text.h"
#include "cli/options.h"
#include "payload/listing.h"
#include "payload/payload_check.h"
#include "payload/payload_source.h"

int RunVerifyCommand(const std::vector<std::string>& arguments, std::ostream& out) {
  const Options options = ParseOptions(arguments, kCodePageOption);
  if (options.help) {
    out << VerifyHelp();
    return 0;
  }
  const std::string& file = OneOperand(options, "the setup program or payload to verify (FILE)");
  const LoadedPayload payload = LoadPayload(file);
  CheckPayload(payload, file, CodePageOf(options));
  const size_t count = payload.contents.entries.size();
  const std::string& launch = payload.contents.launchName;
  out << file << ": OK, " << count << (count == 1 ? " file, " : " files, ") << payload.table.expandedSize
      << " bytes expanded from " << payload.stream.size << ", launch "
      << (launch.empty() ? "(none)" : "\"" + ShownName(launch, CodePageOf(options)) + "\"") << "\n";
  return 0;
}
