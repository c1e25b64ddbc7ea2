// Test data deflated by zlib itself, with a chosen level, window (a zlib, raw or gzip wrapper),
// strategy and preset dictionary: the inflater's tests and the fuzz seeds make their streams here.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <stdexcept>
#include <vector>

// One whole stream of `data`. A windowBits of 15 with level 9 gives the 0x78 0xDA header of a
// payload, 31 a gzip file, -15 raw deflate. Throws std::runtime_error when zlib refuses.
inline std::vector<uint8_t> Deflate(const std::vector<uint8_t>& data, int level = 9, int windowBits = 15,
                                    int strategy = Z_DEFAULT_STRATEGY, const std::vector<uint8_t>& dictionary = {}) {
  z_stream stream{};
  if (deflateInit2(&stream, level, Z_DEFLATED, windowBits, 8, strategy) != Z_OK) {
    throw std::runtime_error("deflateInit2 refused the settings");
  }
  if (!dictionary.empty() &&
      deflateSetDictionary(&stream, dictionary.data(), static_cast<uInt>(dictionary.size())) != Z_OK) {
    deflateEnd(&stream);
    throw std::runtime_error("deflateSetDictionary refused the dictionary");
  }
  std::vector<uint8_t> out(deflateBound(&stream, static_cast<uLong>(data.size())) + 64);
  stream.next_in = const_cast<Bytef*>(data.data());
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = out.data();
  stream.avail_out = static_cast<uInt>(out.size());
  const int result = deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  if (result != Z_STREAM_END) throw std::runtime_error("deflate did not finish the stream");
  return out;
}
