// The file inflater against real files: round trips through the chunked paths, hostile and cut-off
// streams, failing opens and writes, the percentage arithmetic and the abort flag.
#include "inflate/zlib_engine.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "deflate_data.h"
#include "temp_folder.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Alternating runs of random bytes and repeated text, so that streams hold literals and matches.
Bytes TestBytes(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  const char text[] = "entry table\r\ndata region\x1a\n";
  Bytes bytes(size);
  for (size_t i = 0; i < size; ++i) {
    bytes[i] = (i / 700) % 2 ? static_cast<uint8_t>(random()) : static_cast<uint8_t>(text[i % (sizeof text - 1)]);
  }
  return bytes;
}

Bytes RandomBytes(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  Bytes bytes(size);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
  return bytes;
}

// What zlib itself decodes from a cut-off stream when it gets all of it at once.
Bytes DecodablePrefix(const Bytes& stream, size_t expandedSize) {
  z_stream z{};
  EXPECT_EQ(Z_OK, inflateInit(&z));
  Bytes out(expandedSize + 1);
  z.next_in = const_cast<Bytef*>(stream.data());
  z.avail_in = static_cast<uInt>(stream.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  inflate(&z, Z_NO_FLUSH);
  out.resize(z.total_out);
  inflateEnd(&z);
  return out;
}

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

#ifdef __linux__
size_t OpenDescriptorCount() {
  size_t count = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    (void)entry;
    ++count;
  }
  return count;
}
#endif

// Records both notifications, and where the input stood when the status came (both files are still
// open then); can set the abort flag from a chosen progress call.
class RecordingEngine : public ZlibEngine {
 public:
  void OnProgress(int percent) override {
    progress.push_back(percent);
    if (abortAtProgressCall != 0 && progress.size() == abortAtProgressCall) abortFlag = 1;
  }
  void OnStatus(const char* message) override {
    statuses.push_back(message);
    inputPositionAtStatus = inputFile != nullptr ? ftell(inputFile) : -1;
  }

  std::vector<int> progress;
  std::vector<std::string> statuses;
  long inputPositionAtStatus = -1;
  size_t abortAtProgressCall = 0;
};

class ZlibEngineTest : public testing::Test {
 protected:
  int Expand(const Bytes& inputBytes) {
    WriteWholeFile(input, inputBytes);
    return engine.ExpandFile(input.c_str(), output.c_str());
  }
  void ExpectClosed() {
    EXPECT_EQ(nullptr, engine.inputFile);
    EXPECT_EQ(nullptr, engine.outputFile);
  }

  TempFolder folder;
  std::string input = folder.File("payload.tmp");
  std::string output = folder.File("merge.tmp");
  RecordingEngine engine;
};

using Statuses = std::vector<std::string>;

TEST_F(ZlibEngineTest, RoundTripsTinyOddAndMultiBlockSizes) {
  for (size_t size : {0, 1, 7, 4095, 4097, 12345, 100003, 300001}) {
    for (bool compressible : {true, false}) {
      SCOPED_TRACE("size " + std::to_string(size) + (compressible ? " text" : " random"));
      RecordingEngine fresh;
      const Bytes data = compressible ? TestBytes(size, 7) : RandomBytes(size, 7);
      WriteWholeFile(input, Deflate(data));
      EXPECT_EQ(0, fresh.ExpandFile(input.c_str(), output.c_str()));
      EXPECT_EQ(data, ReadWholeFile(output));
      EXPECT_EQ(0, fresh.lastResult);
      EXPECT_EQ(size, fresh.total_out);
      EXPECT_EQ(Statuses{"Success"}, fresh.statuses);
      ASSERT_FALSE(fresh.progress.empty());
      EXPECT_EQ(100, fresh.progress.back());
      for (size_t i = 1; i < fresh.progress.size(); ++i) EXPECT_LE(fresh.progress[i - 1], fresh.progress[i]);
      EXPECT_EQ(nullptr, fresh.inputFile);
      EXPECT_EQ(nullptr, fresh.outputFile);
    }
  }
}

TEST_F(ZlibEngineTest, ExpandedSizeOfWholeBlocksComesOutExact) {
  for (size_t blocks : {1, 3, 64}) {
    for (bool zeros : {true, false}) {
      SCOPED_TRACE(std::to_string(blocks) + (zeros ? " blocks of zeros" : " random blocks"));
      const Bytes data = zeros ? Bytes(blocks * kInflateBlockSize, 0) : RandomBytes(blocks * kInflateBlockSize, 3);
      EXPECT_EQ(0, Expand(Deflate(data)));
      EXPECT_EQ(data, ReadWholeFile(output));
    }
  }
}

TEST_F(ZlibEngineTest, WriteOutputBlockWritesOnlyPendingBytesAndReportsRefusedWrites) {
  const Bytes data = TestBytes(kInflateBlockSize, 5);
  std::copy(data.begin(), data.end(), engine.outputBuffer);
  engine.lastResult = 0;
  engine.writeFailed = false;

  engine.outputFile = fopen(output.c_str(), "wb");
  ASSERT_NE(nullptr, engine.outputFile);
  engine.next_out = engine.outputBuffer;
  engine.avail_out = kInflateBlockSize;
  EXPECT_EQ(0u, engine.WriteOutputBlock());
  EXPECT_EQ(0, engine.lastResult);
  EXPECT_EQ(engine.outputBuffer, engine.next_out);
  EXPECT_EQ(kInflateBlockSize, engine.avail_out);

  engine.next_out = engine.outputBuffer + 10;
  engine.avail_out = kInflateBlockSize - 10;
  EXPECT_EQ(10u, engine.WriteOutputBlock());
  EXPECT_EQ(engine.outputBuffer, engine.next_out);
  EXPECT_EQ(kInflateBlockSize, engine.avail_out);
  fclose(engine.outputFile);
  EXPECT_EQ(Bytes(data.begin(), data.begin() + 10), ReadWholeFile(output));

  // A stream opened for reading refuses every write, on both runtimes.
  engine.outputFile = fopen(output.c_str(), "rb");
  ASSERT_NE(nullptr, engine.outputFile);
  engine.next_out = engine.outputBuffer + 100;
  engine.avail_out = kInflateBlockSize - 100;
  EXPECT_EQ(0u, engine.WriteOutputBlock());
  EXPECT_EQ(Z_ERRNO, engine.lastResult);
  EXPECT_TRUE(engine.writeFailed);
  EXPECT_EQ(engine.outputBuffer + 100, engine.next_out);
  EXPECT_EQ(kInflateBlockSize - 100, engine.avail_out);
  fclose(engine.outputFile);
  engine.outputFile = nullptr;
}

TEST_F(ZlibEngineTest, StopsAtEndOfStreamWithoutReadingLaterBlocks) {
  // Stream of 1 block then trailing bytes in the same block, and stream of 2 blocks then 3 more.
  for (size_t dataSize : {1000, 6000}) {
    SCOPED_TRACE("data " + std::to_string(dataSize));
    RecordingEngine fresh;
    const Bytes data = RandomBytes(dataSize, 11);
    const Bytes stream = Deflate(data);
    const long blocksOfStream = static_cast<long>((stream.size() + kInflateBlockSize - 1) / kInflateBlockSize);
    WriteWholeFile(input, Concat(stream, TestBytes(3 * kInflateBlockSize, 1)));
    EXPECT_EQ(0, fresh.ExpandFile(input.c_str(), output.c_str()));
    EXPECT_EQ(data, ReadWholeFile(output));
    EXPECT_EQ(stream.size(), fresh.total_in);
    EXPECT_EQ(blocksOfStream * static_cast<long>(kInflateBlockSize), fresh.inputPositionAtStatus);
    EXPECT_EQ(Statuses{"Success"}, fresh.statuses);
  }
}

TEST_F(ZlibEngineTest, EmptyInputGivesBufErrorAndEmptyOutput) {
  EXPECT_EQ(Z_BUF_ERROR, Expand({}));
  ASSERT_TRUE(std::filesystem::exists(output));
  EXPECT_EQ(0u, std::filesystem::file_size(output));
  EXPECT_EQ(std::vector<int>{100}, engine.progress);
  EXPECT_EQ(Statuses{"Zlib Error"}, engine.statuses);
  ExpectClosed();
}

TEST_F(ZlibEngineTest, CutOffStreamKeepsEverythingDecodable) {
  const Bytes data = TestBytes(60000, 9);
  const Bytes stream = Deflate(data);
  ASSERT_GT(stream.size(), 2 * kInflateBlockSize);
  // Header only, mid-block in the first input block, on a block boundary, mid-stream, inside the
  // trailer, one byte short.
  for (size_t cut : {size_t{2}, size_t{1000}, size_t{kInflateBlockSize}, stream.size() / 2 + 3,
                     stream.size() - 3, stream.size() - 1}) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    RecordingEngine fresh;
    const Bytes truncated(stream.begin(), stream.begin() + static_cast<long>(cut));
    WriteWholeFile(input, truncated);
    EXPECT_EQ(Z_BUF_ERROR, fresh.ExpandFile(input.c_str(), output.c_str()));
    const Bytes written = ReadWholeFile(output);
    EXPECT_EQ(DecodablePrefix(truncated, data.size()), written);
    EXPECT_EQ(Bytes(data.begin(), data.begin() + static_cast<long>(written.size())), written);
    if (cut >= stream.size() - 4) {
      EXPECT_EQ(data, written);
    }
    EXPECT_EQ(Statuses{"Zlib Error"}, fresh.statuses);
  }
}

TEST_F(ZlibEngineTest, RejectsStreamsThatAreNotValidZlib) {
  const Bytes data = TestBytes(5000, 4);
  Bytes badAdler = Deflate(data);
  badAdler.back() ^= 0x01;
  Bytes randomBytes = RandomBytes(9000, 21);
  randomBytes[0] = 0x12;  // compression method 2
  const Bytes stream = Deflate(data);
  const Bytes dictionary = TestBytes(300, 8);
  struct Case {
    const char* name;
    Bytes input;
    int result;
    Bytes output;
  } cases[] = {
      {"gzip file", Deflate(data, 9, 31), Z_DATA_ERROR, {}},
      {"random bytes", randomBytes, Z_DATA_ERROR, {}},
      {"header check", Concat({0x78, 0xDB}, Bytes(stream.begin() + 2, stream.end())), Z_DATA_ERROR, {}},
      {"64 KiB window", Concat({0x88, 0x1C}, Bytes(stream.begin() + 2, stream.end())), Z_DATA_ERROR, {}},
      {"block type 3", {0x78, 0x9C, 0x07, 0x00, 0x00, 0x00, 0x00}, Z_DATA_ERROR, {}},
      {"wrong Adler-32", badAdler, Z_DATA_ERROR, data},
      {"preset dictionary", Deflate(data, 9, 15, Z_DEFAULT_STRATEGY, dictionary), Z_NEED_DICT, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingEngine fresh;
    WriteWholeFile(input, c.input);
    EXPECT_EQ(c.result, fresh.ExpandFile(input.c_str(), output.c_str()));
    EXPECT_EQ(c.output, ReadWholeFile(output));
    EXPECT_EQ(Statuses{"Zlib Error"}, fresh.statuses);
    EXPECT_EQ(c.result, fresh.lastResult);
  }
}

TEST_F(ZlibEngineTest, ExistingOutputIsTruncated) {
  WriteWholeFile(output, Bytes(20000, 0xEE));
  const Bytes data = TestBytes(100, 2);
  EXPECT_EQ(0, Expand(Deflate(data)));
  EXPECT_EQ(data, ReadWholeFile(output));
}

TEST_F(ZlibEngineTest, MissingOutputFolderFailsAndClosesInput) {
  output = folder.File("missing") + "/merge.tmp";
#ifdef __linux__
  const size_t descriptorsBefore = OpenDescriptorCount();
#endif
  EXPECT_EQ(Z_ERRNO, Expand(Deflate(TestBytes(100, 2))));
  EXPECT_EQ(Statuses{"Zlib Error"}, engine.statuses);
  EXPECT_TRUE(engine.progress.empty());
  ExpectClosed();
  EXPECT_FALSE(std::filesystem::exists(folder.File("missing")));
#ifdef __linux__
  EXPECT_EQ(descriptorsBefore, OpenDescriptorCount());
#endif
  // Windows refuses to delete a file that is still open.
  EXPECT_TRUE(std::filesystem::remove(input));
}

TEST_F(ZlibEngineTest, MissingInputFailsAndLeavesOutputAlone) {
  const Bytes earlier = TestBytes(3000, 6);
  WriteWholeFile(output, earlier);
  EXPECT_EQ(Z_ERRNO, engine.ExpandFile(folder.File("absent.tmp").c_str(), output.c_str()));
  EXPECT_EQ(Statuses{"Zlib Error"}, engine.statuses);
  EXPECT_EQ(earlier, ReadWholeFile(output));
  ExpectClosed();
}

TEST_F(ZlibEngineTest, RefusedWritesEndWithErrno) {
#ifdef _WIN32
  output = "Z:\\dev\\full";
#else
  output = "/dev/full";
#endif
  bool refuses = false;
  if (FILE* probe = fopen(output.c_str(), "wb")) {
    fputc('x', probe);
    refuses = fflush(probe) != 0;
    fclose(probe);
  }
#ifdef _WIN32
  if (!refuses) GTEST_SKIP() << "this Wine cannot open /dev/full as a file that refuses writes";
#else
  ASSERT_TRUE(refuses);
#endif
  const Bytes large = TestBytes(200000, 12);
  const Bytes stream = Deflate(large);
  struct Case {
    const char* name;
    Bytes input;
  } cases[] = {
      // Stays in the runtime's buffer until the flush at the end.
      {"small output", Deflate(TestBytes(100, 12))},
      {"block writes", stream},
      // The write failure must win over the -5 that the cut-off input would give.
      {"cut-off stream", Bytes(stream.begin(), stream.begin() + static_cast<long>(stream.size() / 2))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingEngine fresh;
    WriteWholeFile(input, c.input);
    EXPECT_EQ(Z_ERRNO, fresh.ExpandFile(input.c_str(), output.c_str()));
    EXPECT_EQ(Z_ERRNO, fresh.lastResult);
    EXPECT_EQ(Statuses{"Zlib Error"}, fresh.statuses);
    EXPECT_EQ(nullptr, fresh.outputFile);
  }
}

TEST_F(ZlibEngineTest, PercentDoneUsesTheBranchForTheInputLength) {
  struct Case {
    int32_t length;
    uint32_t consumed;
    int percent;
  } cases[] = {
      {0, 0, 100},
      {0, 17, 100},
      {150, 149, 99},                  // multiplies first: 149 / 1 would be 149
      {10000000, 10000000, 100},       // the multiply-first branch still
      {10000000, 9999999, 99},
      {10000001, 10000001, 100},       // divides the length first
      {10000001, 100000, 1},           // multiplying first would give 0
      {50000000, 50000000, 100},       // multiplying first would overflow 32 bits
      {2000000000, 1000000000, 50},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.consumed) + " of " + std::to_string(c.length));
    engine.inputLength = c.length;
    engine.total_in = c.consumed;
    EXPECT_EQ(c.percent, engine.PercentDone());
  }
}

TEST_F(ZlibEngineTest, AbortFromProgressStopsAfterThatPass) {
  const Bytes data = RandomBytes(20000, 13);
  engine.abortAtProgressCall = 1;
  EXPECT_EQ(kInflateUserAbort, Expand(Deflate(data)));
  EXPECT_EQ(Statuses{"User Abort"}, engine.statuses);
  EXPECT_EQ(2u, engine.progress.size());
  EXPECT_EQ(static_cast<long>(kInflateBlockSize), engine.inputPositionAtStatus);
  EXPECT_EQ(Z_OK, engine.lastResult);
  const Bytes written = ReadWholeFile(output);
  EXPECT_LT(written.size(), data.size());
  EXPECT_EQ(Bytes(data.begin(), data.begin() + static_cast<long>(written.size())), written);
  ExpectClosed();
}

voidpf RefuseAllocation(voidpf opaque, uInt, uInt) {
  ++*static_cast<int*>(opaque);
  return Z_NULL;
}

TEST_F(ZlibEngineTest, FailedInitialisationEndsBeforeInflate) {
  int allocations = 0;
  engine.zalloc = RefuseAllocation;
  engine.opaque = &allocations;
  engine.state = Z_NULL;
  // Had the stream gone on to inflate, zlib would have answered Z_STREAM_ERROR instead.
  EXPECT_EQ(Z_MEM_ERROR, Expand(Deflate(TestBytes(100, 2))));
  EXPECT_EQ(1, allocations);
  EXPECT_EQ(Statuses{"Zlib Error"}, engine.statuses);
  EXPECT_TRUE(ReadWholeFile(output).empty());
  ExpectClosed();
}

TEST_F(ZlibEngineTest, EngineRunsAFurtherExpansionFromACleanStream) {
  // The first run leaves unconsumed trailing bytes in zlib's input.
  const Bytes first = TestBytes(500, 14);
  EXPECT_EQ(0, Expand(Concat(Deflate(first), RandomBytes(700, 2))));
  EXPECT_EQ(first, ReadWholeFile(output));
  EXPECT_NE(0u, engine.avail_in);

  const Bytes second = RandomBytes(9000, 15);
  EXPECT_EQ(0, Expand(Deflate(second)));
  EXPECT_EQ(second, ReadWholeFile(output));
  EXPECT_EQ((Statuses{"Success", "Success"}), engine.statuses);
}

TEST_F(ZlibEngineTest, InflateFileToFilePassesTheResultOn) {
  const Bytes data = TestBytes(5000, 16);
  WriteWholeFile(input, Deflate(data));
  EXPECT_EQ(0, InflateFileToFile(input.c_str(), output.c_str()));
  EXPECT_EQ(data, ReadWholeFile(output));

  WriteWholeFile(input, Deflate(data, 9, 31));
  EXPECT_EQ(Z_DATA_ERROR, InflateFileToFile(input.c_str(), output.c_str()));
  EXPECT_TRUE(ReadWholeFile(output).empty());
}

#ifdef __linux__
// An output that takes every write and then fails to close, as a device does whose last flush is
// refused when the file is closed.
ssize_t AcceptWrite(void* sink, const char* bytes, size_t size) {
  static_cast<std::string*>(sink)->append(bytes, size);
  return static_cast<ssize_t>(size);
}
int RefuseClose(void*) { return -1; }

TEST_F(ZlibEngineTest, AFailedCloseAfterACompleteStreamFailsTheExpansionAndKeepsZlibsResult) {
  const Bytes data = TestBytes(20000, 17);
  const Bytes stream = Deflate(data);
  std::string written;
  cookie_io_functions_t functions{};
  functions.write = AcceptWrite;
  functions.close = RefuseClose;
  FILE* in = fmemopen(const_cast<uint8_t*>(stream.data()), stream.size(), "rb");
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(Z_ERRNO, engine.ExpandStreams(in, fopencookie(&written, "wb", functions)));
  // Everything was written; only the close failed. zlib's own verdict on the stream stays.
  EXPECT_EQ(std::string(data.begin(), data.end()), written);
  EXPECT_EQ(Z_OK, engine.lastResult);
  EXPECT_TRUE(engine.writeFailed);
  ExpectClosed();

  // The same engine expands into a sound output afterwards, and streams work like files.
  written.clear();
  functions.close = nullptr;
  in = fmemopen(const_cast<uint8_t*>(stream.data()), stream.size(), "rb");
  EXPECT_EQ(Z_OK, engine.ExpandStreams(in, fopencookie(&written, "wb", functions)));
  EXPECT_EQ(std::string(data.begin(), data.end()), written);
}
#endif

}  // namespace
