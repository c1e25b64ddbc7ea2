// The mksetup command line: pack, payload, list, verify and extract, each with --help. Output goes
// to `out`; a failure prints one line to `err` and gives a non-zero exit code.
#pragma once

#include <ostream>
#include <string>
#include <vector>

// Exit codes: 0 success, 1 the work failed, 2 the command line is wrong.
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// `arguments` excludes the program name.
int RunMksetup(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);
