// The file inflater: one expansion runs open, initialise, main stage, finishing stage, last
// progress, inflateEnd, status and close, and every failure leaves through that same status and close.
#include "inflate/zlib_engine.h"

#include <cstdint>

namespace {

// Up to this length the percentage multiplies before it divides; above it the product could
// overflow 32 bits, so the length is divided first.
constexpr int32_t kMultiplyFirstLimit = 10000000;

}  // namespace

// The stream record starts zeroed: null allocator functions make zlib use its default allocator.
ZlibEngine::ZlibEngine()
    : z_stream_s(),
      abortFlag(0),
      inputFile(nullptr),
      outputFile(nullptr),
      inputLength(0),
      lastResult(Z_OK),
      inputBuffer(),
      outputBuffer(),
      writeFailed(false) {}

void ZlibEngine::OnProgress(int) {}

void ZlibEngine::OnStatus(const char*) {}

int ZlibEngine::ExpandFile(const char* inputPath, const char* outputPath) {
  BeginExpansion();
  const bool opened = OpenInput(inputPath) && OpenOutput(outputPath);
  return FinishExpansion(opened);
}

int ZlibEngine::ExpandStreams(FILE* input, FILE* output) {
  BeginExpansion();
  inputFile = input;
  outputFile = output;
  return FinishExpansion(output != nullptr && MeasureInput());
}

void ZlibEngine::BeginExpansion() {
  lastResult = Z_OK;
  avail_in = 0;
  avail_out = kInflateBlockSize;
  next_out = outputBuffer;
  abortFlag = 0;
  writeFailed = false;
}

int ZlibEngine::FinishExpansion(bool streamsReady) {
  if (!streamsReady) {
    lastResult = Z_ERRNO;
  } else {
    // "1.0" only has to share the linked zlib's major version; the record size must match exactly.
    const int initResult = inflateInit_(this, "1.0", static_cast<int>(sizeof(z_stream)));
    if (initResult != Z_OK) {
      // zlib may have given up before it set up `state`, so this stream must not reach inflate or
      // inflateEnd.
      lastResult = initResult;
    } else {
      RunMainStage();
      // After a failed write the disk has refused bytes already; draining more cannot rescue it.
      if (abortFlag == 0 && !writeFailed) RunFinishingStage();
      FlushOutput();
      if (writeFailed) lastResult = Z_ERRNO;
      OnProgress(PercentDone());
      inflateEnd(this);  // result ignored: the stream is finished with either way
    }
  }

  if (abortFlag != 0) {
    OnStatus("User Abort");
  } else if (lastResult != Z_OK && lastResult != Z_STREAM_END) {
    OnStatus("Zlib Error");
  } else {
    OnStatus("Success");
    lastResult = Z_OK;
  }

  CloseFiles();
  // A close that could not write the tail fails the expansion like any refused write, while
  // lastResult keeps what zlib said of the stream.
  if (abortFlag != 0) return kInflateUserAbort;
  return writeFailed ? Z_ERRNO : lastResult;
}

uint32_t ZlibEngine::ReadInputBlock() {
  if (avail_in != 0) return avail_in;
  next_in = inputBuffer;
  // End of file and a read error both end the input.
  avail_in = static_cast<uInt>(fread(inputBuffer, 1, kInflateBlockSize, inputFile));
  return avail_in;
}

uint32_t ZlibEngine::WriteOutputBlock() {
  const uint32_t pending = kInflateBlockSize - avail_out;
  if (pending == 0) return 0;
  if (fwrite(outputBuffer, 1, pending, outputFile) < pending) {
    lastResult = Z_ERRNO;
    writeFailed = true;
    return 0;
  }
  next_out = outputBuffer;
  avail_out = kInflateBlockSize;
  return pending;
}

int ZlibEngine::PercentDone() {
  if (inputLength == 0) return 100;
  const uint32_t consumed = static_cast<uint32_t>(total_in);
  const uint32_t length = static_cast<uint32_t>(inputLength);
  if (inputLength <= kMultiplyFirstLimit) return static_cast<int>(consumed * 100u / length);
  return static_cast<int>(consumed / (length / 100u));
}

// The input is opened and measured before the output is opened, so an input that cannot be used
// leaves an existing output file as it was.
bool ZlibEngine::OpenInput(const char* inputPath) {
  inputFile = fopen(inputPath, "rb");
  return inputFile != nullptr && MeasureInput();
}

bool ZlibEngine::MeasureInput() {
  if (inputFile == nullptr || fseek(inputFile, 0, SEEK_END) != 0) return false;
  const long length = ftell(inputFile);
  // A length that the 32-bit field cannot hold is refused on every platform, as the Windows
  // runtime's ftell refuses it anyway.
  if (length < 0 || length > INT32_MAX) return false;
  if (fseek(inputFile, 0, SEEK_SET) != 0) return false;
  inputLength = static_cast<int32_t>(length);
  return true;
}

bool ZlibEngine::OpenOutput(const char* outputPath) {
  outputFile = fopen(outputPath, "wb");
  return outputFile != nullptr;
}

void ZlibEngine::RunMainStage() {
  while (abortFlag == 0) {
    if (ReadInputBlock() == 0) return;
    lastResult = inflate(this, Z_NO_FLUSH);
    WriteOutputBlock();  // a failed write shows in lastResult
    if (lastResult != Z_OK) return;
    OnProgress(PercentDone());
  }
}

// Drains what zlib can still produce from the input it already holds. Each pass must write at least
// one byte and get Z_OK to go on, so the stage always ends.
void ZlibEngine::RunFinishingStage() {
  do {
    lastResult = inflate(this, Z_FINISH);
    if (WriteOutputBlock() == 0) return;
  } while (lastResult == Z_OK && abortFlag == 0);
}

// The runtime stream still holds the tail of the output; a device that refuses it must fail the
// expansion before the status is given.
void ZlibEngine::FlushOutput() {
  if (!writeFailed && fflush(outputFile) != 0) writeFailed = true;
}

void ZlibEngine::CloseFiles() {
  if (inputFile != nullptr) {
    fclose(inputFile);  // result ignored: nothing was written through it
    inputFile = nullptr;
  }
  if (outputFile != nullptr) {
    // Closing writes what the stream still buffers; when that fails the output is incomplete.
    if (fclose(outputFile) != 0) writeFailed = true;
    outputFile = nullptr;
  }
}

int InflateFileToFile(const char* inputPath, const char* outputPath) {
  ZlibEngine* engine = new ZlibEngine;
  const int result = engine->ExpandFile(inputPath, outputPath);
  delete engine;
  return result;
}
