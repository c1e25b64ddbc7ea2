#include "bench/stream_check.h"

#include <zlib.h>

namespace {

uLong StoredAdler(const std::vector<uint8_t>& stream) {
  const uint8_t* trailer = stream.data() + stream.size() - 4;
  return (uLong{trailer[0]} << 24) | (uLong{trailer[1]} << 16) | (uLong{trailer[2]} << 8) | trailer[3];
}

}  // namespace

StreamCheck CheckStream(const std::vector<uint8_t>& stream) {
  StreamCheck check;
  z_stream z{};
  inflateInit(&z);
  z.next_in = const_cast<Bytef*>(stream.data());
  z.avail_in = static_cast<uInt>(stream.size());
  uint8_t buffer[1 << 16];
  int result = Z_OK;
  while (result == Z_OK) {
    z.next_out = buffer;
    z.avail_out = sizeof buffer;
    result = inflate(&z, Z_NO_FLUSH);
    check.merge.insert(check.merge.end(), buffer, buffer + (sizeof buffer - z.avail_out));
    if (result == Z_BUF_ERROR && z.avail_in == 0) break;
  }
  const uLong remaining = z.avail_in;
  inflateEnd(&z);
  if (result != Z_STREAM_END) {
    check.problem = "does not inflate to its end (zlib " + std::to_string(result) + ")";
    return check;
  }
  if (remaining != 0) {
    check.problem = std::to_string(remaining) + " bytes after the stream";
    return check;
  }
  const uLong adler = adler32(adler32(0, nullptr, 0), check.merge.data(), static_cast<uInt>(check.merge.size()));
  if (adler != StoredAdler(stream)) {
    check.problem = "Adler-32 trailer does not match the expanded data";
    return check;
  }
  check.valid = true;
  return check;
}
