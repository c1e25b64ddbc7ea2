#include "payload/payload_inflater.h"

#include <cstdio>
#include <new>

#include "tool_error.h"

namespace {

constexpr uint64_t kFourGiB = uint64_t{1} << 32;
constexpr uint32_t kZlibHeaderSize = 2;
constexpr uint32_t kAdlerSize = 4;

const char kTooLarge[] = "the payload expands to 4 GiB or more, which the setup program cannot hold";

std::string Hex32(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%08X", value);
  return text;
}

std::string Hex8(uint8_t value) {
  char text[8];
  std::snprintf(text, sizeof(text), "0x%02X", value);
  return text;
}

void CheckZlibHeader(uint8_t cmf, uint8_t flg, const std::string& path) {
  if ((cmf & 0x0F) != 8) {
    throw ToolError(path, "the zlib header (" + Hex8(cmf) + " " + Hex8(flg) + ") names compression method " +
                              std::to_string(cmf & 0x0F) + ", not deflate (8)");
  }
  if ((cmf >> 4) > 7) {
    throw ToolError(path, "the zlib header asks for a window of " + std::to_string(uint64_t{1} << ((cmf >> 4) + 8)) +
                              " bytes; the setup program allows at most 32 KiB");
  }
  if ((cmf * 256u + flg) % 31 != 0) {
    throw ToolError(path, "the zlib header check fails (" + Hex8(cmf) + " " + Hex8(flg) + " is not a multiple of 31)");
  }
  if (flg & 0x20) throw ToolError(path, "the zlib stream needs a preset dictionary, which the setup program cannot supply");
}

}  // namespace

PayloadInflater::PayloadInflater(ByteSource& stream, const std::string& path) : stream_(stream), path_(path) {
  if (stream.Size() < kZlibHeaderSize) throw ToolError(path, "the payload stream is too short to hold a zlib header");
  uint8_t header[kZlibHeaderSize];
  stream.Read(header, sizeof header);
  CheckZlibHeader(header[0], header[1], path);
  unread_ = stream.Size() - kZlibHeaderSize;
  input_.resize(static_cast<size_t>(unread_ < kPieceSize ? unread_ : kPieceSize));
  output_.reset(new uint8_t[outputSize_]);
  if (inflateInit2(&inflater_, -15) != Z_OK) throw std::bad_alloc();
  adler_ = adler32(0, nullptr, 0);
}

PayloadInflater::~PayloadInflater() { inflateEnd(&inflater_); }

void PayloadInflater::Refill() {
  const size_t length = unread_ < kPieceSize ? static_cast<size_t>(unread_) : kPieceSize;
  stream_.Read(input_.data(), length);
  unread_ -= length;
  inflater_.next_in = input_.data();
  inflater_.avail_in = static_cast<uInt>(length);
}

void PayloadInflater::Refuse(const std::string& failure) {
  ended_ = true;
  throw ToolError(path_, failure);
}

void PayloadInflater::RefuseTruncated() {
  Refuse("the compressed data ends after " + std::to_string(stream_.Size()) +
       " bytes before its final block: the stream is truncated");
}

// The trailer may straddle what is left in the input buffer and what the source still holds.
void PayloadInflater::CheckTrailer() {
  if (expanded_ >= kFourGiB) Refuse(kTooLarge);
  const uint64_t left = inflater_.avail_in + unread_;
  if (left < kAdlerSize) Refuse("the Adler-32 trailer is missing or incomplete: the stream is truncated");
  uint8_t trailer[kAdlerSize];
  const size_t buffered = inflater_.avail_in < kAdlerSize ? inflater_.avail_in : kAdlerSize;
  for (size_t i = 0; i < buffered; ++i) trailer[i] = inflater_.next_in[i];
  if (buffered < kAdlerSize) stream_.Read(trailer + buffered, kAdlerSize - buffered);
  const uint32_t stored = (static_cast<uint32_t>(trailer[0]) << 24) | (static_cast<uint32_t>(trailer[1]) << 16) |
                          (static_cast<uint32_t>(trailer[2]) << 8) | trailer[3];
  if (stored != static_cast<uint32_t>(adler_)) {
    Refuse("the Adler-32 trailer reads " + Hex32(stored) + ", but the expanded data gives " +
         Hex32(static_cast<uint32_t>(adler_)));
  }
  trailing_ = left - kAdlerSize;
}

bool PayloadInflater::Next(const uint8_t*& data, size_t& size) {
  while (!ended_) {
    if (expanded_ >= kFourGiB) Refuse(kTooLarge);
    if (inflater_.avail_in == 0 && unread_ != 0) Refill();
    if (grow_) {
      outputSize_ *= 2;
      output_.reset(new uint8_t[outputSize_]);
      grow_ = false;
    }
    inflater_.next_out = output_.get();
    inflater_.avail_out = static_cast<uInt>(outputSize_);
    const uInt offered = inflater_.avail_in;
    const int status = inflate(&inflater_, Z_NO_FLUSH);
    consumed_ += offered - inflater_.avail_in;
    const size_t produced = outputSize_ - inflater_.avail_out;
    const bool inputUsedUp = inflater_.avail_in == 0 && unread_ == 0;
    if (status == Z_BUF_ERROR && inputUsedUp) RefuseTruncated();
    if (status == Z_DATA_ERROR) {
      Refuse(std::string("the compressed data is damaged near byte ") + std::to_string(kZlibHeaderSize + consumed_) +
           " of the stream (" + (inflater_.msg ? inflater_.msg : "invalid deflate data") + ")");
    }
    if (status == Z_MEM_ERROR) throw std::bad_alloc();
    if (status == Z_OK && inputUsedUp && inflater_.avail_out != 0) RefuseTruncated();
    adler_ = adler32(adler_, output_.get(), static_cast<uInt>(produced));
    expanded_ += produced;
    if (status == Z_STREAM_END) {
      CheckTrailer();
      ended_ = true;
    }
    if (produced != 0) {
      data = output_.get();
      size = produced;
      // The piece handed out stays valid until the next call, so a larger one replaces it only then.
      grow_ = produced == outputSize_ && outputSize_ < kPieceSize;
      return true;
    }
  }
  return false;
}
