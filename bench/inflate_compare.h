// The file inflater and its two yardsticks, each timed from opening the files to closing them:
// InflateFileToFile, a bare zlib loop with the same two 4096-byte buffers and FILE* streams (the
// floor of this design), and one read, one uncompress call and one write (the floor of the machine).
#pragma once

#include <cstddef>
#include <string>

// Each returns the seconds taken and throws std::runtime_error when the expansion fails.
double TimeEngineInflate(const std::string& input, const std::string& output);
double TimeBareLoopInflate(const std::string& input, const std::string& output);
double TimeWholeBufferInflate(const std::string& input, const std::string& output, size_t expandedSize);
