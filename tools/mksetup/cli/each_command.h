// The commands of the command line, one file each. Every one reads its own options from
// `arguments` (arguments[0] is the command's name), prints --help when asked, and throws
// UsageError or ToolError for RunMksetup to report.
#pragma once

#include <ostream>
#include <string>
#include <vector>

// `pack` with a stub, `payload` (withStub false) without.
int RunPackCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err, bool withStub);
int RunListCommand(const std::vector<std::string>& arguments, std::ostream& out);
int RunVerifyCommand(const std::vector<std::string>& arguments, std::ostream& out);
int RunExtractCommand(const std::vector<std::string>& arguments, std::ostream& out);
