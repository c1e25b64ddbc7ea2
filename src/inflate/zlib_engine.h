// The file inflater: ZlibEngine, a zlib stream record that expands one zlib-format file into another
// through two fixed 4096-byte buffers, and InflateFileToFile, which runs one expansion on a fresh engine.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <cstdio>

constexpr uint32_t kInflateBlockSize = 4096;

// Result of an expansion stopped through abortFlag; zlib itself never returns it.
constexpr int kInflateUserAbort = -7;

// The engine is its own stream record: every zlib call gets `this`, so zlib's buffer pointers and
// counters are the fields inherited here. The fields are public so that a user of the class can
// follow an expansion from the notifications and stop it through abortFlag.
class ZlibEngine : public z_stream_s {
 public:
  ZlibEngine();
  // Does nothing; virtual so that an engine with overridden notifications can be deleted through
  // a pointer to this class.
  virtual ~ZlibEngine() = default;

  virtual void OnProgress(int percent);
  virtual void OnStatus(const char* message);

  // 0 on success, -7 after an abort, -1 after a failed open or write, otherwise zlib's result.
  int ExpandFile(const char* inputPath, const char* outputPath);

  // The same expansion between two streams already open, which it takes over and closes: any
  // runtime stream will do (a file, or memory where the runtime has such streams). The input must
  // be able to seek, to be measured; -1 when it cannot.
  int ExpandStreams(FILE* input, FILE* output);

  // Bytes handed to zlib; 0 once the input is exhausted or unreadable.
  uint32_t ReadInputBlock();

  // Bytes written; 0 when zlib produced nothing since the last write, or when the write failed.
  uint32_t WriteOutputBlock();

  // Share of the input consumed so far, in percent.
  int PercentDone();

  int32_t abortFlag;
  FILE* inputFile;
  FILE* outputFile;
  int32_t inputLength;
  int32_t lastResult;
  uint8_t inputBuffer[kInflateBlockSize];
  uint8_t outputBuffer[kInflateBlockSize];

  // Set by any failed write of the running expansion, the closing of the output included. It
  // stays set when a later inflate call replaces the -1 in lastResult, so such an expansion can
  // never be reported as a success.
  bool writeFailed;

 private:
  void BeginExpansion();
  int FinishExpansion(bool streamsReady);
  bool OpenInput(const char* inputPath);
  bool MeasureInput();
  bool OpenOutput(const char* outputPath);
  void RunMainStage();
  void RunFinishingStage();
  void FlushOutput();
  void CloseFiles();
};

// Expands the zlib stream in the file at inputPath into the file at outputPath; the result is that
// of ExpandFile. An allocation failure of the engine leaves as std::bad_alloc before any file opens.
int InflateFileToFile(const char* inputPath, const char* outputPath);
