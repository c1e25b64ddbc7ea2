// The file inflater against a bare zlib loop and one uncompress call, in one process.
#include <unistd.h>

#include <string>
#include <vector>

#include "bench/bench_files.h"
#include "bench/bench_process.h"
#include "bench/bench_sections.h"
#include "bench/inflate_compare.h"

namespace {

std::string Fresh(const std::string& path) {
  unlink(path.c_str());
  return path;
}

}  // namespace

void CompareInflaters(const Options& options, Report& report) {
  const std::string shape = options.data + "/payload/entries-8";
  const std::string input = shape + "/stream.zlib";
  const std::string scratch = options.data + "/scratch";
  const std::vector<uint8_t> expected = ReadWholeFile(shape + "/merge.bin");
  const std::string outputs[3] = {scratch + "/engine.out", scratch + "/loop.out", scratch + "/whole.out"};
  Progress("file inflater against a bare zlib loop and one uncompress call");
  // A round takes about half a second; the two sides are so close that only many rounds steady
  // their medians.
  const int rounds = 4 * options.reps + 1;
  const auto samples = Interleave(rounds, {
      [&] { return TimeEngineInflate(input, Fresh(outputs[0])); },
      [&] { return TimeBareLoopInflate(input, Fresh(outputs[1])); },
      [&] { return TimeWholeBufferInflate(input, Fresh(outputs[2]), expected.size()); },
  });
  for (const std::string& output : outputs) {
    Require(ReadWholeFile(output) == expected, output + " differs from the merge data file");
    unlink(output.c_str());
  }
  const double engine = Median(samples[0]), loop = Median(samples[1]), whole = Median(samples[2]);
  const double megabytes = static_cast<double>(expected.size()) / kMegabyte;
  const double speed = loop / engine;
  report.rows.push_back({"InflateFileToFile vs bare zlib loop (two 4096-byte buffers, FILE*), 8-entry stream",
                         Format("%.3f s (%.0f MB/s)", engine, megabytes / engine),
                         Format("%.3f s (%.0f MB/s)", loop, megabytes / loop), Format("%.3f x speed", speed),
                         ">= 0.95 x speed",
                         speed >= 0.95 ? "met" : Format("MISSED by %.1f %%", 100 * (1 - speed / 0.95))});
  report.rows.push_back({"InflateFileToFile vs read all + one uncompress() + write all", Format("%.3f s", engine),
                         Format("%.3f s (%.0f MB/s)", whole, megabytes / whole), Format("%.3f x speed", whole / engine),
                         "report", "-"});
  report.details.push_back(Format(
      "inflater, %d rounds, %.1f MB out of %llu bytes: engine %s; bare loop %s; uncompress %s", rounds, megabytes,
      static_cast<unsigned long long>(FileSize(input)), Samples(samples[0], 1, "s").c_str(),
      Samples(samples[1], 1, "s").c_str(), Samples(samples[2], 1, "s").c_str()));
}
