// The payload compressor: one zlib stream (32 KiB window, no dictionary, level 9 unless asked
// otherwise) made from independently deflated chunks on several threads, byte-identical for any
// thread count.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "byte_stream.h"

// Each chunk is deflated on its own, primed with the 32 KiB before it, and ends byte-aligned, so
// the chunks join into one stream. Larger chunks cost less at the joins but share out less well.
constexpr size_t kDeflateChunkSize = 1u << 20;

// A stream is read in batches of this many chunks per thread: enough that the threads rarely wait
// for each other at a batch's end, few enough that memory stays small whatever the input's size.
constexpr size_t kDeflateChunksPerThread = 4;

// Called on the calling thread after chunks finish: bytes of input compressed so far, and in all.
using DeflateProgress = std::function<void(uint64_t done, uint64_t total)>;

constexpr int kDefaultDeflateLevel = 9;

// The zlib header's second byte (FLG) for a stream compressed at `level` (1 to 9): FLEVEL says how
// hard the producer tried, as zlib itself records it (0 fastest, 1 fast, 2 default, 3 maximum),
// and the check bits make CMF 0x78 and FLG a multiple of 31. Readers do not act on FLEVEL.
uint8_t ZlibHeaderFlags(int level);

// Compresses everything `source` yields into `sink` as CompressParallel does, reading ahead at most
// two batches, and returns the length of the stream. A failure of the source (ToolError) or the
// sink stops the compression and comes out unchanged.
uint64_t CompressStream(ByteSource& source, ByteSink& sink, unsigned threads, const DeflateProgress& progress = nullptr,
                        int level = kDefaultDeflateLevel);

// Compresses `size` bytes at `level` into one zlib stream that begins 0x78 and
// ZlibHeaderFlags(level) and ends with the big-endian Adler-32 of the input. `threads` of 0 means
// one per processor. The result depends only on the input and the level. Throws std::bad_alloc
// when memory runs out and std::runtime_error if zlib fails.
std::vector<uint8_t> CompressParallel(const uint8_t* data, size_t size, unsigned threads,
                                      const DeflateProgress& progress = nullptr, int level = kDefaultDeflateLevel);
