// mksetup: the packer's entry point; everything else lives in the library that the tests share.
#include <iostream>
#include <string>
#include <vector>

#include "cli.h"

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  return RunMksetup(arguments, std::cout, std::cerr);
}
