// The one kind of failure the packer reports to its user: a file and what is wrong with it,
// worded as the single line that the command prints before it exits with a non-zero code.
#pragma once

#include <stdexcept>
#include <string>

class ToolError : public std::runtime_error {
 public:
  ToolError(const std::string& file, const std::string& reason) : std::runtime_error(file + ": " + reason) {}
};
