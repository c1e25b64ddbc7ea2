#include "pack/compressor.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include "inflate/zlib_engine.h"
#include "packer_test_support.h"
#include "tool_error.h"

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

// Hands out the data piece by piece, checking at every request how far it has run ahead of what
// the sink has already expanded: the compressor may hold two batches, never the whole input.
class ReadAheadSource : public ByteSource {
 public:
  ReadAheadSource(const std::vector<uint8_t>& data, const uint64_t& expanded) : data_(data), expanded_(expanded) {}
  uint64_t Size() const override { return data_.size(); }
  void Read(uint8_t* destination, size_t size) override {
    ASSERT_LE(size, data_.size() - offset_);
    std::copy(data_.begin() + offset_, data_.begin() + offset_ + size, destination);
    offset_ += size;
    aheadMost = std::max<uint64_t>(aheadMost, offset_ - expanded_);
  }
  uint64_t aheadMost = 0;

 private:
  const std::vector<uint8_t>& data_;
  const uint64_t& expanded_;
  size_t offset_ = 0;
};

// Expands what it is given at once, so the test knows how much input the output so far stands for.
class ExpandingSink : public ByteSink {
 public:
  ExpandingSink() {
    EXPECT_EQ(inflateInit(&stream_), Z_OK);
  }
  ~ExpandingSink() override { inflateEnd(&stream_); }
  void Write(const uint8_t* data, size_t size) override {
    received += size;
    stream_.next_in = const_cast<Bytef*>(data);
    stream_.avail_in = static_cast<uInt>(size);
    uint8_t piece[65536];
    do {
      stream_.next_out = piece;
      stream_.avail_out = sizeof(piece);
      status = inflate(&stream_, Z_NO_FLUSH);
      ASSERT_TRUE(status == Z_OK || status == Z_STREAM_END || status == Z_BUF_ERROR) << status;
      expanded.insert(expanded.end(), piece, piece + (sizeof(piece) - stream_.avail_out));
      expandedCount = expanded.size();
    } while (stream_.avail_out == 0);
  }
  std::vector<uint8_t> expanded;
  uint64_t expandedCount = 0;
  uint64_t received = 0;
  int status = Z_OK;

 private:
  z_stream stream_{};
};

TEST(ParallelDeflate, StreamsThroughAFewBatchesWhateverTheInputsSize) {
  const unsigned threads = 2;
  const uint64_t batch = kDeflateChunksPerThread * threads * kDeflateChunkSize;
  const std::vector<uint8_t> data = RealisticMix(static_cast<size_t>(4 * batch + 4321));
  ExpandingSink sink;
  ReadAheadSource source(data, sink.expandedCount);
  const uint64_t written = CompressStream(source, sink, threads);

  EXPECT_EQ(sink.status, Z_STREAM_END);
  EXPECT_TRUE(sink.expanded == data);
  EXPECT_EQ(written, sink.received);
  // The batch being compressed, the one written out meanwhile and the one read next.
  EXPECT_LE(source.aheadMost, 3 * batch);
  EXPECT_GT(source.aheadMost, batch) << "the reading never overlapped the compression";
}

class FailingSource : public ByteSource {
 public:
  uint64_t Size() const override { return 40 * kDeflateChunkSize; }
  void Read(uint8_t* destination, size_t size) override {
    if (given_ + size > 20 * kDeflateChunkSize) throw ToolError("tree/c.bin", "the file changed while the folder was packed");
    std::fill(destination, destination + size, static_cast<uint8_t>(given_ / 4096));
    given_ += size;
  }

 private:
  uint64_t given_ = 0;
};

TEST(ParallelDeflate, AFailingSourceStopsTheStreamWithItsError) {
  FailingSource source;
  std::vector<uint8_t> out;
  VectorSink sink(out);
  try {
    CompressStream(source, sink, 2);
    FAIL() << "the stream went on past a failed read";
  } catch (const ToolError& error) {
    EXPECT_STREQ(error.what(), "tree/c.bin: the file changed while the folder was packed");
  }
}

}  // namespace
