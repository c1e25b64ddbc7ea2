#include "bench/inflate_compare.h"

#include <zlib.h>

#include <cstdio>
#include <memory>
#include <stdexcept>

#include "bench/bench_files.h"
#include "inflate/zlib_engine.h"

double TimeEngineInflate(const std::string& input, const std::string& output) {
  const timespec start = Now();
  const int result = InflateFileToFile(input.c_str(), output.c_str());
  const double seconds = SecondsSince(start);
  if (result != 0) throw std::runtime_error("InflateFileToFile returned " + std::to_string(result));
  return seconds;
}

double TimeBareLoopInflate(const std::string& input, const std::string& output) {
  const timespec start = Now();
  FILE* in = fopen(input.c_str(), "rb");
  FILE* out = fopen(output.c_str(), "wb");
  if (in == nullptr || out == nullptr) throw std::runtime_error("bare loop: cannot open its files");
  unsigned char inBuffer[4096];
  unsigned char outBuffer[4096];
  z_stream stream{};
  if (inflateInit(&stream) != Z_OK) throw std::runtime_error("bare loop: inflateInit failed");
  int result = Z_OK;
  while (result == Z_OK) {
    if (stream.avail_in == 0) {
      stream.next_in = inBuffer;
      stream.avail_in = static_cast<uInt>(fread(inBuffer, 1, sizeof inBuffer, in));
      if (stream.avail_in == 0) break;
    }
    stream.next_out = outBuffer;
    stream.avail_out = sizeof outBuffer;
    result = inflate(&stream, Z_NO_FLUSH);
    const size_t produced = sizeof outBuffer - stream.avail_out;
    if (fwrite(outBuffer, 1, produced, out) != produced) throw std::runtime_error("bare loop: write failed");
  }
  inflateEnd(&stream);
  fclose(in);
  fclose(out);
  const double seconds = SecondsSince(start);
  if (result != Z_STREAM_END) throw std::runtime_error("bare loop: inflate ended with " + std::to_string(result));
  return seconds;
}

double TimeWholeBufferInflate(const std::string& input, const std::string& output, size_t expandedSize) {
  const timespec start = Now();
  FILE* in = fopen(input.c_str(), "rb");
  if (in == nullptr) throw std::runtime_error("whole buffer: cannot open " + input);
  fseek(in, 0, SEEK_END);
  const size_t compressedSize = static_cast<size_t>(ftell(in));
  fseek(in, 0, SEEK_SET);
  // Left uninitialised: the read and the expansion fill them, and zeroing first would be work
  // that the floor does not need.
  std::unique_ptr<unsigned char[]> compressed(new unsigned char[compressedSize]);
  if (fread(compressed.get(), 1, compressedSize, in) != compressedSize) {
    throw std::runtime_error("whole buffer: short read");
  }
  fclose(in);
  std::unique_ptr<unsigned char[]> expanded(new unsigned char[expandedSize]);
  uLongf length = static_cast<uLongf>(expandedSize);
  const int result = uncompress(expanded.get(), &length, compressed.get(), static_cast<uLong>(compressedSize));
  FILE* out = fopen(output.c_str(), "wb");
  if (out == nullptr || fwrite(expanded.get(), 1, length, out) != length) {
    throw std::runtime_error("whole buffer: cannot write " + output);
  }
  fclose(out);
  const double seconds = SecondsSince(start);
  if (result != Z_OK) throw std::runtime_error("whole buffer: uncompress returned " + std::to_string(result));
  return seconds;
}
