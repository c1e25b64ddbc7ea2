// The check that every packer output of the benchmark passes: one zlib stream that ends exactly at
// the end of the file, whose Adler-32 trailer matches what it expands to.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct StreamCheck {
  std::vector<uint8_t> merge;  // what the stream expands to, as far as it does
  bool valid = false;
  std::string problem;         // set when not valid
};

StreamCheck CheckStream(const std::vector<uint8_t>& stream);
