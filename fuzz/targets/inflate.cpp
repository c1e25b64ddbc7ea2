// Fuzz target for the file inflater: arbitrary bytes as the input, expanded by the engine through
// its stream entry (the very path a file takes, with the runtime streams kept in memory) and
// compared with what zlib decodes from the same bytes held whole; then once more into a stream that
// refuses every write, which must never count as a success, and once with a stop asked for after
// the first block. A few inputs a run still go through real files, as the setup program's do.
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

#include "fuzz_check.h"
#include "inflate/zlib_engine.h"
#include "scratch_folder.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The engine works in 4096-byte blocks: inputs of a few blocks and outputs of a few hundred reach
// every turn of its loops, while longer ones only repeat them and slow the search down.
constexpr size_t kMaxInputSize = 32 * 1024;
constexpr size_t kMaxExpandedSize = 64 * 1024;

// The input and output files of the runs through real files.
struct Scratch {
  ScratchFolder folder{"inflate"};
  std::string input = (folder.path() / "payload").string();
  std::string output = (folder.path() / "merge").string();
};

const Scratch& TheScratch() {
  static const Scratch scratch;
  return scratch;
}

// A runtime stream over the fuzz input, and one that collects what is written into memory or, with
// `refuse`, takes nothing.
std::FILE* InputStream(const uint8_t* data, size_t size) {
  std::FILE* stream = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  FUZZ_CHECK(stream != nullptr);
  return stream;
}

ssize_t CollectWrite(void* cookie, const char* bytes, size_t size) {
  Bytes* sink = static_cast<Bytes*>(cookie);
  if (sink == nullptr) return 0;
  const uint8_t* first = reinterpret_cast<const uint8_t*>(bytes);
  sink->insert(sink->end(), first, first + size);
  return static_cast<ssize_t>(size);
}

std::FILE* OutputStream(Bytes* sink) {
  cookie_io_functions_t functions{};
  functions.write = CollectWrite;
  std::FILE* stream = fopencookie(sink, "wb", functions);
  FUZZ_CHECK(stream != nullptr);
  return stream;
}

struct Reference {
  int result = Z_OK;   // what the engine must return: 0 at the stream's end, else the failure
  Bytes output;        // everything zlib decodes before it stops
  bool tooLarge = false;
};

// zlib with the whole input at once and output room as it grows. A stream that wants more input
// when the input is used up is cut off, which the engine reports as Z_BUF_ERROR.
Reference ReferenceInflate(const uint8_t* data, size_t size) {
  Reference reference;
  z_stream stream{};
  FUZZ_CHECK(inflateInit(&stream) == Z_OK);
  stream.next_in = const_cast<Bytef*>(data);
  stream.avail_in = static_cast<uInt>(size);
  uint8_t chunk[65536];
  for (;;) {
    stream.next_out = chunk;
    stream.avail_out = sizeof chunk;
    const int status = inflate(&stream, Z_NO_FLUSH);
    reference.output.insert(reference.output.end(), chunk, chunk + (sizeof chunk - stream.avail_out));
    if (reference.output.size() > kMaxExpandedSize) {
      reference.tooLarge = true;
      break;
    }
    if (status == Z_STREAM_END) {
      reference.result = Z_OK;
      break;
    }
    if (status == Z_BUF_ERROR || (status == Z_OK && stream.avail_in == 0 && stream.avail_out != 0)) {
      reference.result = Z_BUF_ERROR;
      break;
    }
    if (status != Z_OK) {
      reference.result = status;
      break;
    }
  }
  inflateEnd(&stream);
  return reference;
}

// An engine that records what it tells a user of the class.
class RecordingEngine : public ZlibEngine {
 public:
  void OnProgress(int percent) override {
    FUZZ_CHECK(percent >= 0 && percent <= 100);
    FUZZ_CHECK(percent >= lastPercent);
    lastPercent = percent;
    ++progressCalls;
  }
  void OnStatus(const char* message) override {
    ++statusCalls;
    status = message;
  }

  int lastPercent = 0;
  int progressCalls = 0;
  int statusCalls = 0;
  std::string status;
};

// Asks to stop at the first progress notification: after the first block of input, or at the last
// notification when the stream ends or fails in its first block.
class AbortingEngine : public RecordingEngine {
 public:
  void OnProgress(int percent) override {
    RecordingEngine::OnProgress(percent);
    abortFlag = 1;
  }
};

// The engine refusing, or refused by, its output: whatever zlib produced must surface as a failed
// write, reported once, with both streams closed.
void CheckRefusedOutput(const RecordingEngine& engine, int refused, const Reference& reference, size_t size) {
  FUZZ_CHECK(refused == (reference.output.empty() ? reference.result : Z_ERRNO));
  FUZZ_CHECK(engine.statusCalls == 1);
  FUZZ_CHECK(engine.status == (refused == Z_OK ? "Success" : "Zlib Error"));
  FUZZ_CHECK(engine.progressCalls >= 1);
  FUZZ_CHECK(engine.inputFile == nullptr && engine.outputFile == nullptr);
  FUZZ_CHECK(engine.total_in <= size);
}

// Stopped after its first block, an expansion reports the abort and has written a prefix of what
// zlib decodes. The last notification comes before the status, so even a stop asked for there counts.
void CheckAborted(const AbortingEngine& engine, int aborted, const Bytes& partial, const Reference& reference) {
  FUZZ_CHECK(partial.size() <= reference.output.size());
  FUZZ_CHECK(std::equal(partial.begin(), partial.end(), reference.output.begin()));
  FUZZ_CHECK(aborted == kInflateUserAbort);
  FUZZ_CHECK(engine.statusCalls == 1 && engine.status == "User Abort");
}

// The setup program's own way: real files on memory-backed storage, and a device that refuses
// every write.
void CheckThroughFiles(const uint8_t* data, size_t size, const Reference& reference) {
  const Scratch& scratch = TheScratch();
  WriteScratchFile(scratch.input, data, size);
  const int result = InflateFileToFile(scratch.input.c_str(), scratch.output.c_str());
  FUZZ_CHECK(result == reference.result);
  FUZZ_CHECK(ReadScratchFile(scratch.output) == reference.output);
  if (std::filesystem::exists("/dev/full")) {
    RecordingEngine engine;
    CheckRefusedOutput(engine, engine.ExpandFile(scratch.input.c_str(), "/dev/full"), reference, size);
  }
  AbortingEngine aborting;
  const int aborted = aborting.ExpandFile(scratch.input.c_str(), scratch.output.c_str());
  CheckAborted(aborting, aborted, ReadScratchFile(scratch.output), reference);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInputSize) return 0;
  const Reference reference = ReferenceInflate(data, size);
  if (reference.tooLarge) return 0;

  // An empty input cannot be a memory stream; one input in 64 takes the files as well.
  static unsigned inputs = 0;
  if (size == 0 || inputs++ % 64 == 0) CheckThroughFiles(data, size, reference);
  if (size == 0) return 0;

  Bytes output;
  RecordingEngine engine;
  FUZZ_CHECK(engine.ExpandStreams(InputStream(data, size), OutputStream(&output)) == reference.result);
  FUZZ_CHECK(output == reference.output);

  RecordingEngine refusing;
  CheckRefusedOutput(refusing, refusing.ExpandStreams(InputStream(data, size), OutputStream(nullptr)), reference, size);

  Bytes partial;
  AbortingEngine aborting;
  const int aborted = aborting.ExpandStreams(InputStream(data, size), OutputStream(&partial));
  CheckAborted(aborting, aborted, partial, reference);
  return 0;
}
