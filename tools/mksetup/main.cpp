// mksetup: the packer's entry point; everything else lives in the library that the tests share.
#include <iostream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "host/process_calls.h"

int main(int argc, char** argv) { return RunMksetup(ProgramArguments(argc, argv), std::cout, std::cerr); }
