#include "parallel_deflate.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include "inflate/zlib_engine.h"
#include "packer_test_support.h"

namespace {

std::vector<uint8_t> ZlibInflate(const std::vector<uint8_t>& stream, size_t expectedSize) {
  std::vector<uint8_t> out(expectedSize + 1);
  uLongf length = static_cast<uLongf>(out.size());
  EXPECT_EQ(uncompress(out.data(), &length, stream.data(), static_cast<uLong>(stream.size())), Z_OK);
  out.resize(length);
  return out;
}

std::vector<uint8_t> ZlibLevelNine(const std::vector<uint8_t>& data) {
  uLongf length = compressBound(static_cast<uLong>(data.size()));
  std::vector<uint8_t> out(length);
  EXPECT_EQ(compress2(out.data(), &length, data.data(), static_cast<uLong>(data.size()), 9), Z_OK);
  out.resize(length);
  return out;
}

std::vector<uint8_t> Compress(const std::vector<uint8_t>& data, unsigned threads) {
  return CompressParallel(data.data(), data.size(), threads);
}

// Sizes around the joins: one byte, just under, at and over a chunk, several chunks and a tail.
TEST(ParallelDeflate, RoundTripsThroughZlibAtEveryChunkBoundary) {
  const std::vector<uint8_t> mix = RealisticMix(3 * kDeflateChunkSize + 777);
  for (size_t size : {size_t{0}, size_t{1}, kDeflateChunkSize - 1, kDeflateChunkSize, kDeflateChunkSize + 1,
                      3 * kDeflateChunkSize + 777}) {
    SCOPED_TRACE(size);
    const std::vector<uint8_t> data(mix.begin(), mix.begin() + static_cast<std::ptrdiff_t>(size));
    const std::vector<uint8_t> stream = Compress(data, 2);
    ASSERT_GE(stream.size(), 6u);
    EXPECT_EQ(stream[0], 0x78);
    EXPECT_EQ(stream[1], 0xDA);
    const uint32_t adler = static_cast<uint32_t>(adler32(1, data.data(), static_cast<uInt>(data.size())));
    EXPECT_EQ(stream[stream.size() - 4], static_cast<uint8_t>(adler >> 24));
    EXPECT_EQ(stream[stream.size() - 1], static_cast<uint8_t>(adler));
    EXPECT_EQ(ZlibInflate(stream, size), data);
  }
}

TEST(ParallelDeflate, ExpandsWithTheSetupProgramsInflater) {
  TempFolder folder;
  const std::vector<uint8_t> data = RealisticMix(2 * kDeflateChunkSize + 4099);
  WriteWholeFile(folder.File("stream"), Compress(data, 3));
  ASSERT_EQ(InflateFileToFile(folder.File("stream").c_str(), folder.File("merge").c_str()), 0);
  EXPECT_EQ(ReadWholeFile(folder.File("merge")), data);
}

TEST(ParallelDeflate, GivesTheSameBytesForAnyThreadCount) {
  const std::vector<uint8_t> data = RealisticMix(5 * kDeflateChunkSize + 12345);
  const std::vector<uint8_t> one = Compress(data, 1);
  for (unsigned threads : {2u, 3u, 8u, 0u}) {
    SCOPED_TRACE(threads);
    EXPECT_EQ(Compress(data, threads), one);
  }
}

TEST(ParallelDeflate, StaysWithinATenthOfAPercentOfZlibLevelNine) {
  for (const std::vector<uint8_t>& data : {RealisticMix(6 * kDeflateChunkSize), TextLikeData(4 * kDeflateChunkSize, 9),
                                           BinaryLikeData(3 * kDeflateChunkSize, 4)}) {
    const size_t ours = Compress(data, 2).size();
    const size_t zlib = ZlibLevelNine(data).size();
    EXPECT_LE(static_cast<double>(ours), static_cast<double>(zlib) * 1.001) << "ours " << ours << ", zlib " << zlib;
  }
}

// Already-compressed bytes go out as stored blocks: 5 bytes of framing per 64 KiB and no more.
TEST(ParallelDeflate, StoresNoiseWithOnlyBlockFraming) {
  const size_t size = 2 * kDeflateChunkSize;
  const std::vector<uint8_t> stream = Compress(NoiseData(size, 5), 2);
  const size_t blocks = 2 * ((kDeflateChunkSize + 65534) / 65535);
  EXPECT_LE(stream.size(), 2 + size + 5 * blocks + 4);
  EXPECT_EQ(ZlibInflate(stream, size), NoiseData(size, 5));
}

// Every byte value equally often, yet deflate shrinks it to almost nothing: a flat histogram alone
// must not send data to stored blocks.
TEST(ParallelDeflate, StillCompressesRepeatsWithAFlatHistogram) {
  std::vector<uint8_t> data;
  const std::vector<uint8_t> block = NoiseData(4096, 6);
  while (data.size() < kDeflateChunkSize) data.insert(data.end(), block.begin(), block.end());
  std::vector<uint8_t> counting(kDeflateChunkSize);
  for (size_t i = 0; i < counting.size(); ++i) counting[i] = static_cast<uint8_t>(i);
  data.insert(data.end(), counting.begin(), counting.end());

  const std::vector<uint8_t> stream = Compress(data, 2);
  EXPECT_LT(stream.size(), data.size() / 50);
  EXPECT_EQ(ZlibInflate(stream, data.size()), data);
}

}  // namespace
