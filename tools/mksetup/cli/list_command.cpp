#include "cli/each_command.h"
#include "cli/help_text.h"
#include "cli/options.h"
#include "payload/listing.h"
#include "payload/payload_source.h"

int RunListCommand(const std::vector<std::string>& arguments, std::ostream& out) {
  const Options options = ParseOptions(arguments, kJsonOption | kCodePageOption);
  if (options.help) {
    out << ListHelp();
    return 0;
  }
  const std::string& file = OneOperand(options, "the setup program or payload to list (FILE)");
  const LoadedPayload payload = LoadPayload(file);
  if (options.json) {
    WriteJsonListing(payload, out, CodePageOf(options));
  } else {
    WriteListing(payload, out, CodePageOf(options));
  }
  return 0;
}
