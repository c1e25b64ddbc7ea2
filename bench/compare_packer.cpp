// The packer (`mksetup payload`) against one zlib level-9 deflate of the same merge data file, each
// in a process of its own; both outputs must be valid streams of the same data.
#include <unistd.h>

#include <string>
#include <vector>

#include "bench/bench_files.h"
#include "bench/bench_process.h"
#include "bench/bench_sections.h"
#include "bench/stream_check.h"

namespace {

struct PackerSamples {
  std::vector<std::vector<double>> seconds;  // mksetup, zlib level 9
  std::vector<double> ourCpu, theirCpu;
};

// zlib's side takes the names, times and order from the packer's own merge data file, so that both
// sides compress the same bytes.
std::string WriteReferenceMerge(const std::string& packed, const std::string& path, const std::string& tag,
                                size_t& expandedSize) {
  const StreamCheck reference = CheckStream(ReadWholeFile(packed));
  Require(reference.valid, "mksetup's stream for " + tag + ": " + reference.problem);
  WriteWholeFile(path, reference.merge.data(), reference.merge.size());
  expandedSize = reference.merge.size();
  return path;
}

PackerSamples TimePackers(const Options& options, const std::string& files, const std::string& referenceMerge,
                          const std::string& ours, const std::string& theirs) {
  const std::string scratch = options.data + "/scratch";
  const std::string mksetup = options.bin + "/mksetup";
  PackerSamples result;
  result.seconds = Interleave(options.reps, {
      [&] {
        const ProcessRun run = RunProcess({mksetup, "payload", files, "-o", ours}, scratch + "/mksetup.log");
        Require(run.exitCode == 0, "mksetup payload failed: " + ReadText(scratch + "/mksetup.log"));
        result.ourCpu.push_back(run.cpuSeconds);
        return run.seconds;
      },
      [&] {
        const ProcessRun run = RunProcess({options.bin + "/bench_zlib9", files, referenceMerge, theirs},
                                          scratch + "/zlib9.log");
        Require(run.exitCode == 0, "bench_zlib9 failed: " + ReadText(scratch + "/zlib9.log"));
        result.theirCpu.push_back(run.cpuSeconds);
        return run.seconds;
      },
  });
  return result;
}

void AddTimeRows(const PackerSamples& samples, const std::string& tag, Report& report) {
  const double ours = Median(samples.seconds[0]), theirs = Median(samples.seconds[1]);
  const double ourCpu = Median(samples.ourCpu), theirCpu = Median(samples.theirCpu);
  const double time = ours / theirs;
  report.rows.push_back({"mksetup payload vs zlib level 9 (one deflate), time, " + tag,
                         Format("%.3f s (CPU %.2f s)", ours, ourCpu), Format("%.3f s (CPU %.2f s)", theirs, theirCpu),
                         Format("%.3f", time), "<= 0.5", AtMost(time, 0.5)});
  // CPU time does not depend on how many cores the machine's other work leaves to the packer.
  report.rows.push_back({"(diagnosis) mksetup payload vs zlib level 9, CPU time (user + system), " + tag,
                         Format("%.2f s", ourCpu), Format("%.2f s", theirCpu), Format("%.3f", ourCpu / theirCpu), "-",
                         Format("wall/CPU: %.2f and %.2f", ours / ourCpu, theirs / theirCpu)});
}

void AddOutputRows(const std::string& ours, const std::string& theirs, const std::string& tag, Report& report) {
  const StreamCheck ourCheck = CheckStream(ReadWholeFile(ours));
  const StreamCheck theirCheck = CheckStream(ReadWholeFile(theirs));
  Require(theirCheck.valid, "zlib level 9 stream: " + theirCheck.problem);
  const bool sameData = ourCheck.valid && ourCheck.merge == theirCheck.merge;
  const double ourSize = static_cast<double>(FileSize(ours)), theirSize = static_cast<double>(FileSize(theirs));
  const double size = ourSize / theirSize;
  const std::string validity = !ourCheck.valid ? "INVALID: " + ourCheck.problem
                               : sameData      ? "one valid zlib stream, Adler-32 matches, same data"
                                               : "INVALID: expands to other data than zlib's input";
  report.rows.push_back({"mksetup payload vs zlib level 9, size, " + tag, Format("%.0f bytes", ourSize),
                         Format("%.0f bytes", theirSize), Format("%+.4f %%", 100 * (size - 1)), "<= +0.1 %",
                         size <= 1.001 ? "met" : Format("MISSED by %.4f points", 100 * (size - 1.001))});
  report.rows.push_back({"mksetup payload output, " + tag, validity, "", "", "one valid zlib stream",
                         ourCheck.valid && sameData ? "met" : "MISSED"});
}

}  // namespace

void ComparePacker(const Options& options, uint32_t entryCount, Report& report) {
  const std::string tag = "entries-" + std::to_string(entryCount);
  const std::string files = options.data + "/payload/" + tag + "/files";
  const std::string packed = options.data + "/packed/" + tag + "/stream.zlib";
  const std::string scratch = options.data + "/scratch";
  if (!Exists(options.bin + "/mksetup") || !Exists(packed)) {
    report.rows.push_back({"mksetup payload vs zlib level 9, " + tag, "not measured", "", "", "", "packer missing"});
    return;
  }
  Progress("packer against one zlib level-9 deflate, " + tag);
  size_t expandedSize = 0;
  const std::string referenceMerge =
      WriteReferenceMerge(packed, scratch + "/reference-" + tag + ".bin", tag, expandedSize);
  const std::string ours = scratch + "/mksetup-" + tag + ".zlib";
  const std::string theirs = scratch + "/zlib9-" + tag + ".zlib";
  const PackerSamples samples = TimePackers(options, files, referenceMerge, ours, theirs);
  AddTimeRows(samples, tag, report);
  AddOutputRows(ours, theirs, tag, report);
  report.details.push_back(Format("packer %s, %d rounds: mksetup payload %s; zlib level 9 %s; expanded %zu bytes",
                                  tag.c_str(), options.reps, Samples(samples.seconds[0], 1, "s").c_str(),
                                  Samples(samples.seconds[1], 1, "s").c_str(), expandedSize));
  unlink(ours.c_str());
  unlink(theirs.c_str());
}
