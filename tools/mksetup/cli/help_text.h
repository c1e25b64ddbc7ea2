// What `mksetup --help` and `mksetup COMMAND --help` print: one text per command.
#pragma once

#include <string>

std::string GeneralHelp();
std::string PackHelp();
std::string PayloadHelp();
std::string ListHelp();
std::string VerifyHelp();
std::string ExtractHelp();
