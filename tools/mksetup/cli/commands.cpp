#include "cli/commands.h"

#include <new>

#include "cli/each_command.h"
#include "cli/help_text.h"
#include "cli/options.h"
#include "tool_error.h"

namespace {

int RunCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
  const std::string& command = arguments[0];
  if (command == "pack") return RunPackCommand(arguments, out, err, true);
  if (command == "payload") return RunPackCommand(arguments, out, err, false);
  if (command == "list") return RunListCommand(arguments, out);
  if (command == "verify") return RunVerifyCommand(arguments, out);
  return RunExtractCommand(arguments, out);
}

bool IsCommand(const std::string& name) {
  return name == "pack" || name == "payload" || name == "list" || name == "verify" || name == "extract";
}

}  // namespace

int RunMksetup(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
  if (arguments.empty()) {
    err << GeneralHelp();
    return kExitUsage;
  }
  if (arguments[0] == "--help" || arguments[0] == "-h" || arguments[0] == "help") {
    out << GeneralHelp();
    return 0;
  }
  if (!IsCommand(arguments[0])) {
    err << "mksetup: unknown command '" << arguments[0] << "' (see 'mksetup --help')\n";
    return kExitUsage;
  }
  try {
    return RunCommand(arguments, out, err);
  } catch (const UsageError& error) {
    err << "mksetup " << arguments[0] << ": " << error.what() << " (see 'mksetup " << arguments[0] << " --help')\n";
    return kExitUsage;
  } catch (const ToolError& error) {
    err << "mksetup: " << error.what() << "\n";
  } catch (const std::bad_alloc&) {
    err << "mksetup: " << arguments[0] << ": not enough memory\n";
  } catch (const std::exception& error) {
    err << "mksetup: " << arguments[0] << ": " << error.what() << "\n";
  }
  return kExitFailure;
}
