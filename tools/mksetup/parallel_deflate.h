// The payload compressor: one zlib stream (maximum compression, 32 KiB window, no dictionary)
// made from independently deflated chunks on several threads, byte-identical for any thread count.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

// Each chunk is deflated on its own, primed with the 32 KiB before it, and ends byte-aligned, so
// the chunks join into one stream. Larger chunks cost less at the joins but share out less well.
constexpr size_t kDeflateChunkSize = 1u << 20;

// Called on the calling thread after chunks finish: bytes of input compressed so far, and in all.
using DeflateProgress = std::function<void(uint64_t done, uint64_t total)>;

// Compresses `size` bytes into one zlib stream that begins 0x78 0xDA and ends with the big-endian
// Adler-32 of the input. `threads` of 0 means one per processor. The result depends only on the
// input. Throws std::bad_alloc when memory runs out and std::runtime_error if zlib fails.
std::vector<uint8_t> CompressParallel(const uint8_t* data, size_t size, unsigned threads,
                                      const DeflateProgress& progress = nullptr);
