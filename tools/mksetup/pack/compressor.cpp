#include "pack/compressor.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <exception>
#include <new>
#include <stdexcept>

#include "host/threads.h"

namespace {

constexpr size_t kWindowSize = 32768;
constexpr size_t kStoredBlockMax = 65535;
// A sync flush ends a segment with an empty stored block: 3 header bits, padding and 4 length bytes.
constexpr size_t kFlushSlack = 16;
// Already-compressed content is recognised per probe: small enough to follow file boundaries in a
// folder of mixed files, large enough for a byte histogram to tell noise from structure.
constexpr size_t kProbeSize = 65536;
constexpr size_t kMatchHashBits = 14;

// A stretch of a chunk that is either deflated or stored as it is.
struct Segment {
  size_t begin;
  size_t length;
  bool stored;
};

struct Chunk {
  std::vector<uint8_t> bytes;
  uLong adler = 1;
  bool failed = false;
  bool outOfMemory = false;
};

// Near-uniform bytes: the sum of the squared byte counts stays within 1/128 of what equally
// frequent bytes give (plus sampling noise), so Huffman coding could save at most about 0.15 %.
// Integers only, so every platform decides alike.
bool HasFlatHistogram(const uint8_t* data, size_t length) {
  uint32_t counts[256] = {};
  for (size_t i = 0; i < length; ++i) ++counts[data[i]];
  uint64_t squares = 0;
  for (uint32_t count : counts) squares += static_cast<uint64_t>(count) * count;
  const uint64_t n = length;
  return squares * 256 * 128 <= n * n * 129 + n * 256 * 128;
}

// Flat histograms also come from data that repeats itself (a table of all byte values, a block
// copied twice), which deflate shrinks to almost nothing. Counts positions whose next four bytes
// occurred earlier in the probe, remembering the last place of each hashed four-byte sequence.
bool HasFewRepeats(const uint8_t* data, size_t length) {
  if (length < 4) return true;
  std::vector<uint32_t> last(size_t{1} << kMatchHashBits, UINT32_MAX);
  size_t repeats = 0;
  for (size_t i = 0; i + 4 <= length; ++i) {
    const uint32_t word = static_cast<uint32_t>(data[i]) | (static_cast<uint32_t>(data[i + 1]) << 8) |
                          (static_cast<uint32_t>(data[i + 2]) << 16) | (static_cast<uint32_t>(data[i + 3]) << 24);
    const uint32_t hash = (word * 2654435761u) >> (32 - kMatchHashBits);
    const uint32_t previous = last[hash];
    if (previous != UINT32_MAX && std::memcmp(data + previous, data + i, 4) == 0) ++repeats;
    last[hash] = static_cast<uint32_t>(i);
  }
  return repeats < length / 512;
}

bool IsIncompressible(const uint8_t* data, size_t length) {
  return length == kProbeSize && HasFlatHistogram(data, length) && HasFewRepeats(data, length);
}

// Splits a chunk into runs of probes that deflate would not shrink and runs of the rest.
std::vector<Segment> PlanSegments(const uint8_t* data, size_t begin, size_t length) {
  std::vector<Segment> segments;
  for (size_t offset = 0; offset < length; offset += kProbeSize) {
    const size_t probe = std::min(kProbeSize, length - offset);
    const bool stored = IsIncompressible(data + begin + offset, probe);
    if (!segments.empty() && segments.back().stored == stored) {
      segments.back().length += probe;
    } else {
      segments.push_back(Segment{begin + offset, probe, stored});
    }
  }
  return segments;
}

// Raw deflate of one segment, appended to `out`. The window before the segment goes in as a
// dictionary, so matches reach back across the join exactly as in one long stream.
bool DeflateSegment(z_stream& stream, const uint8_t* data, const Segment& segment, bool last,
                    std::vector<uint8_t>& out) {
  if (deflateReset(&stream) != Z_OK) return false;
  if (segment.begin > 0) {
    const size_t dictionary = std::min(segment.begin, kWindowSize);
    if (deflateSetDictionary(&stream, data + segment.begin - dictionary, static_cast<uInt>(dictionary)) != Z_OK) {
      return false;
    }
  }
  const size_t start = out.size();
  out.resize(start + deflateBound(&stream, static_cast<uLong>(segment.length)) + kFlushSlack);
  stream.next_in = const_cast<Bytef*>(data + segment.begin);
  stream.avail_in = static_cast<uInt>(segment.length);
  stream.next_out = out.data() + start;
  stream.avail_out = static_cast<uInt>(out.size() - start);
  // With room for the bound, one call consumes the whole segment.
  const int result = deflate(&stream, last ? Z_FINISH : Z_SYNC_FLUSH);
  out.resize(out.size() - stream.avail_out);
  return stream.avail_in == 0 && (last ? result == Z_STREAM_END : result == Z_OK);
}

// Stored blocks: the data as it is, 5 bytes per 64 KiB. Like a sync flush they leave the stream
// byte-aligned.
void StoreSegment(const uint8_t* data, const Segment& segment, bool last, std::vector<uint8_t>& out) {
  size_t offset = 0;
  do {
    const size_t block = std::min(segment.length - offset, kStoredBlockMax);
    const bool final = last && offset + block == segment.length;
    out.push_back(final ? 1 : 0);
    out.push_back(static_cast<uint8_t>(block));
    out.push_back(static_cast<uint8_t>(block >> 8));
    out.push_back(static_cast<uint8_t>(~block));
    out.push_back(static_cast<uint8_t>(~block >> 8));
    const uint8_t* from = data + segment.begin + offset;
    out.insert(out.end(), from, from + block);
    offset += block;
  } while (offset < segment.length);
}

bool EncodeChunk(const uint8_t* data, size_t begin, size_t length, bool lastChunk, int level, Chunk& chunk) {
  // memLevel 8, as zlib's own level 9 has it: larger blocks cost more on mixed content than they save.
  z_stream stream{};
  const int init = deflateInit2(&stream, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  if (init == Z_MEM_ERROR) throw std::bad_alloc();
  if (init != Z_OK) return false;

  bool ok = true;
  const std::vector<Segment> segments = PlanSegments(data, begin, length);
  for (size_t i = 0; ok && i < segments.size(); ++i) {
    const bool last = lastChunk && i + 1 == segments.size();
    if (segments[i].stored) {
      StoreSegment(data, segments[i], last, chunk.bytes);
    } else {
      ok = DeflateSegment(stream, data, segments[i], last, chunk.bytes);
    }
  }
  deflateEnd(&stream);
  return ok;
}

// One chunk of `data`: `length` bytes from `begin`, with whatever lies before `begin` (up to a
// window) as its dictionary. `last` ends the stream.
void CompressChunk(const uint8_t* data, size_t begin, size_t length, bool last, int level, Chunk& chunk) {
  chunk.bytes.clear();
  chunk.failed = chunk.outOfMemory = false;
  try {
    chunk.adler = adler32(1, data + begin, static_cast<uInt>(length));
    if (length == 0) {
      // An empty input still needs one final block to end the stream.
      StoreSegment(data, Segment{0, 0, true}, true, chunk.bytes);
    } else if (!EncodeChunk(data, begin, length, last, level, chunk)) {
      chunk.failed = true;
    }
  } catch (const std::bad_alloc&) {
    chunk.failed = true;
    chunk.outOfMemory = true;
  }
}

}  // namespace

uint8_t ZlibHeaderFlags(int level) {
  constexpr unsigned kCmf = 0x78;
  const unsigned flevel = level < 2 ? 0 : level < 6 ? 1 : level == 6 ? 2 : 3;
  const unsigned flags = flevel << 6;
  return static_cast<uint8_t>(flags + (31 - (kCmf * 256 + flags) % 31));
}

namespace {

// A run of consecutive chunks read together: the window before it, then its own bytes.
struct Batch {
  std::vector<uint8_t> input;
  size_t window = 0;
  uint64_t begin = 0;  // where its own bytes begin in the whole input
  size_t length = 0;
  std::vector<Chunk> chunks;

  uint64_t end() const { return begin + length; }
};

// Two batches take turns: while every thread compresses one, worker 0 first writes out the other,
// compressed in the turn before, and then reads the next bytes into it. Reading and writing thus
// overlap the compression, and the input held never exceeds two batches.
class StreamCompressor {
 public:
  StreamCompressor(ByteSource& source, ByteSink& sink, unsigned threads, const DeflateProgress& progress, int level)
      : source_(source), sink_(sink), progress_(progress), level_(level), size_(source.Size()) {
    const uint64_t chunkCount = size_ == 0 ? 1 : (size_ + kDeflateChunkSize - 1) / kDeflateChunkSize;
    if (threads == 0) threads = HardwareThreadCount();
    threads_ = static_cast<unsigned>(std::min<uint64_t>(threads, chunkCount));
    batchCapacity_ = kDeflateChunksPerThread * threads_ * kDeflateChunkSize;
  }

  uint64_t Run() {
    // CMF 0x78: deflate with a 32 KiB window; FLG: the level, no dictionary, the check bits.
    const uint8_t header[2] = {0x78, ZlibHeaderFlags(level_)};
    Write(header, sizeof(header));
    Batch* compressing = &batches_[0];
    Batch* other = &batches_[1];
    Fill(*compressing, nullptr);
    bool otherHoldsOutput = false;
    for (;;) {
      const bool more = compressing->end() < size_;
      CompressWhileStreaming(*compressing, otherHoldsOutput ? other : nullptr, more ? other : nullptr);
      if (!more) break;
      std::swap(compressing, other);
      otherHoldsOutput = true;
    }
    Drain(*compressing);
    const uint8_t trailer[4] = {static_cast<uint8_t>(adler_ >> 24), static_cast<uint8_t>(adler_ >> 16),
                                static_cast<uint8_t>(adler_ >> 8), static_cast<uint8_t>(adler_)};
    Write(trailer, sizeof(trailer));
    return written_;
  }

 private:
  void Write(const uint8_t* data, size_t size) {
    sink_.Write(data, size);
    written_ += size;
  }

  // Reads the bytes after `previous` (or the first ones) into `batch`, with the window before them.
  void Fill(Batch& batch, const Batch* previous) {
    batch.window = previous ? std::min(kWindowSize, previous->window + previous->length) : 0;
    batch.begin = previous ? previous->end() : 0;
    batch.length = static_cast<size_t>(std::min<uint64_t>(batchCapacity_, size_ - batch.begin));
    batch.input.resize(batch.window + batch.length);
    if (previous) {
      std::memcpy(batch.input.data(), previous->input.data() + previous->input.size() - batch.window, batch.window);
    }
    source_.Read(batch.input.data() + batch.window, batch.length);
    const size_t chunkCount = batch.length == 0 ? 1 : (batch.length + kDeflateChunkSize - 1) / kDeflateChunkSize;
    batch.chunks.resize(chunkCount);
  }

  // Writes the chunks of a compressed batch in order and adds them to the checksum.
  void Drain(Batch& batch) {
    for (size_t index = 0; index < batch.chunks.size(); ++index) {
      const Chunk& chunk = batch.chunks[index];
      Write(chunk.bytes.data(), chunk.bytes.size());
      adler_ = adler32_combine(adler_, chunk.adler, static_cast<z_off_t>(ChunkLength(batch, index)));
    }
  }

  static size_t ChunkLength(const Batch& batch, size_t index) {
    return std::min(kDeflateChunkSize, batch.length - index * kDeflateChunkSize);
  }

  void CompressWhileStreaming(Batch& batch, Batch* toDrain, Batch* toFill) {
    std::atomic<size_t> next{0};
    std::atomic<bool> stop{false};
    std::exception_ptr streamFailure;
    RunOnThreads(threads_, [&](unsigned worker) {
      if (worker == 0 && (toDrain || toFill)) {
        try {
          if (toDrain) Drain(*toDrain);
          if (toFill) Fill(*toFill, &batch);
        } catch (...) {
          streamFailure = std::current_exception();
          stop = true;
        }
      }
      for (size_t index = next++; !stop && index < batch.chunks.size(); index = next++) {
        const size_t offset = index * kDeflateChunkSize;
        const size_t length = ChunkLength(batch, index);
        CompressChunk(batch.input.data(), batch.window + offset, length, batch.begin + offset + length == size_,
                      level_, batch.chunks[index]);
        const uint64_t finished = compressed_ += length;
        if (worker == 0 && progress_) progress_(finished, size_);
      }
    });
    if (streamFailure) std::rethrow_exception(streamFailure);
    for (const Chunk& chunk : batch.chunks) {
      if (chunk.outOfMemory) throw std::bad_alloc();
      if (chunk.failed) throw std::runtime_error("zlib failed to compress the data");
    }
  }

  ByteSource& source_;
  ByteSink& sink_;
  const DeflateProgress& progress_;
  int level_;
  uint64_t size_;
  unsigned threads_;
  size_t batchCapacity_;
  Batch batches_[2];
  std::atomic<uint64_t> compressed_{0};
  uLong adler_ = 1;
  uint64_t written_ = 0;
};

}  // namespace

uint64_t CompressStream(ByteSource& source, ByteSink& sink, unsigned threads, const DeflateProgress& progress, int level) {
  return StreamCompressor(source, sink, threads, progress, level).Run();
}

std::vector<uint8_t> CompressParallel(const uint8_t* data, size_t size, unsigned threads,
                                      const DeflateProgress& progress, int level) {
  MemorySource source(data, size);
  std::vector<uint8_t> stream;
  VectorSink sink(stream);
  CompressStream(source, sink, threads, progress, level);
  return stream;
}
