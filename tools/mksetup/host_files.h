// Whole-file reads and writes on the host, with failures as ToolError naming the file, and the
// replacement of an output file that happens whole or not at all.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "format/merge_format.h"

std::vector<uint8_t> ReadFileBytes(const std::string& path);

// Reads exactly `size` bytes of the file into `destination`; a file that is now shorter or longer
// than that (changed since it was looked at) is an error. The file keeps its last-access time:
// where the host cannot read without touching it, it is set back to `accessTime`, the time that
// the folder scan recorded.
void ReadFileInto(const std::string& path, uint8_t* destination, uint64_t size, const FileTime& accessTime);

// Writes `bytes` to a temporary file beside `path` and renames it over `path`. On any failure the
// temporary file is removed and whatever was at `path` before stays untouched.
void ReplaceOutputFile(const std::string& path, const std::vector<uint8_t>& bytes);

bool IsRegularFile(const std::string& path);

// The folder that holds the running program, with a trailing separator; empty when unknown.
std::string ExecutableFolder();

// The command line's arguments after the program name, as UTF-8 like every path of the packer.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// Whether the packer's stderr is a terminal, where a progress line can be redrawn in place.
bool StderrIsTerminal();

// The host's text for the last error of a file operation (errno or GetLastError).
std::string LastErrorText();
