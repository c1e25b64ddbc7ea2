// The expansion of a payload's zlib stream in fixed pieces, as the setup program expands it (32 KiB
// window at most, no dictionary, less than 4 GiB), with every defect named where it shows.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "byte_stream.h"

class PayloadInflater {
 public:
  // The most it reads from the stream and hands out at a time; nothing else grows with the
  // payload. The pieces handed out start smaller and double while the expansion fills them, so a
  // small payload never takes the largest.
  static constexpr size_t kPieceSize = size_t{1} << 20;
  static constexpr size_t kFirstPieceSize = size_t{64} << 10;

  // Reads and checks the zlib header. Throws ToolError naming `path` for a header that the setup
  // program cannot expand.
  PayloadInflater(ByteSource& stream, const std::string& path);
  ~PayloadInflater();
  PayloadInflater(const PayloadInflater&) = delete;
  PayloadInflater& operator=(const PayloadInflater&) = delete;

  // Sets `data` and `size` to the next piece of the expansion, valid until the next call. Returns
  // false once the stream has ended and its Adler-32 matched. Throws ToolError naming the path and
  // what is wrong: the deflate data (with the offset where it broke), a truncation, the 4 GiB
  // limit, or the checksum.
  bool Next(const uint8_t*& data, size_t& size);

  uint64_t expandedSize() const { return expanded_; }
  // The bytes after the Adler-32 trailer, known once Next() returned false.
  uint64_t trailingBytes() const { return trailing_; }

 private:
  void Refill();
  [[noreturn]] void Refuse(const std::string& failure);
  [[noreturn]] void RefuseTruncated();
  void CheckTrailer();

  ByteSource& stream_;
  std::string path_;
  z_stream inflater_{};
  std::vector<uint8_t> input_;  // no larger than the stream
  std::unique_ptr<uint8_t[]> output_;
  size_t outputSize_ = kFirstPieceSize;
  bool grow_ = false;  // the last piece filled the buffer
  uint64_t unread_ = 0;    // bytes of the stream not yet taken from the source
  uint64_t consumed_ = 0;  // deflate bytes that the inflater has used
  uint64_t expanded_ = 0;
  uint64_t trailing_ = 0;
  uLong adler_ = 0;
  bool ended_ = false;
};
