// The setup program under Wine against the native floor (bench_native_floor), in time and in peak
// memory, with the diagnosis of where Wine's extra time goes.
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "bench/bench_files.h"
#include "bench/bench_process.h"
#include "bench/bench_sections.h"
#include "bench/process_watcher.h"
#include "bench/stream_check.h"
#include "format/setup_identity.h"

namespace {

struct WineRun {
  double seconds = 0;
  double cpuSeconds = 0;
  double peakResident = 0;
  double startUp = 0;   // process seen -> work folder made (two polls and the first stages)
  double work = 0;      // work folder made -> removed
  double tail = 0;      // work folder removed -> process gone (end notification, close, exit)
};

class SetupRunner {
 public:
  explicit SetupRunner(const Options& options)
      : options_(options), scratch_(options.data + "/scratch"), temp_(scratch_ + "/wine-tmp") {
    MakeFolders(temp_);
  }

  WineRun RunSetup(uint32_t entryCount) {
    const std::string tag = "entries-" + std::to_string(entryCount);
    const std::string program = options_.data + "/packed/" + tag + "/setup.exe";
    const std::string log = scratch_ + "/launcher.log";
    ProcessWatcher watcher(WindowsPath(program), temp_ + "/" + kWorkFolderName);
    const ProcessRun process = RunProcess(
        {options_.wine, options_.launcher, WindowsPath(temp_), WindowsPath(program)}, log);
    watcher.StopOnceGone();
    const std::string text = ReadText(log);
    std::map<std::string, std::string> fields = ParseFields(text);
    Require(process.exitCode == 0 && fields.count("elapsed_ms") == 1, "launcher failed: " + text);
    Require(fields["exit"] == std::to_string(kSetupExitCode), "setup.exe ended with " + fields["exit"] + ", not 18");
    Require(watcher.PeakBytes() > 0, "the Wine process of " + program + " was not found in /proc");
    CheckUnpacked(temp_ + "/" + kExtractionFolderName, entryCount, tag);
    Require(!Exists(temp_ + "/" + kWorkFolderName), "setup.exe left its work folder behind");
    RemoveTree(temp_ + "/" + kExtractionFolderName);
    return ToWineRun(atof(fields["elapsed_ms"].c_str()) / 1000, watcher, program);
  }

  ProcessRun RunFloor(uint32_t entryCount, double& peakBytes) {
    const std::string tag = "entries-" + std::to_string(entryCount);
    const std::string extract = scratch_ + "/floor-extract";
    const ProcessRun run = RunProcess({options_.bin + "/bench_native_floor",
                                       options_.data + "/packed/" + tag + "/stream.zlib", scratch_ + "/floor-work",
                                       extract},
                                      scratch_ + "/floor.log");
    const std::string log = ReadText(scratch_ + "/floor.log");
    Require(run.exitCode == 0, "bench_native_floor failed: " + log);
    peakBytes = atof(ParseFields(log)["peak_kb"].c_str()) * 1024;
    CheckUnpacked(extract, entryCount, tag);
    RemoveTree(extract);
    return run;
  }

  double MeasurePollMs() {
    const std::string log = scratch_ + "/polls.log";
    RunProcess({options_.wine, options_.launcher, "--poll-cost", "20"}, log);
    return atof(ParseFields(ReadText(log))["poll_ms"].c_str());
  }

  double MeasureReportMs() {
    const std::string log = scratch_ + "/reports.log";
    RunProcess({options_.wine, options_.launcher, "--ui-cost", "500"}, log);
    return atof(ParseFields(ReadText(log))["report_ms"].c_str());
  }

 private:
  static WineRun ToWineRun(double seconds, const ProcessWatcher& watcher, const std::string& program) {
    Require(watcher.Seen() >= 0 && watcher.WorkCreated() >= 0 && watcher.WorkRemoved() >= 0 && watcher.Gone() >= 0,
            Format("the phases of %s were not all seen: process %.3f, work folder %.3f to %.3f, end %.3f s",
                   program.c_str(), watcher.Seen(), watcher.WorkCreated(), watcher.WorkRemoved(), watcher.Gone()));
    WineRun run;
    run.seconds = seconds;
    run.cpuSeconds = watcher.CpuSeconds();
    run.peakResident = watcher.PeakBytes();
    run.startUp = watcher.WorkCreated() - watcher.Seen();
    run.work = watcher.WorkRemoved() - watcher.WorkCreated();
    run.tail = watcher.Gone() - watcher.WorkRemoved();
    return run;
  }

  // Every entry is on disk with its size: a run that failed early cannot pass for a fast one.
  void CheckUnpacked(const std::string& folder, uint32_t entryCount, const std::string& tag) {
    const TreeSummary expected = SummarizeTree(options_.data + "/payload/" + tag + "/files");
    const TreeSummary found = SummarizeTree(folder);
    Require(found.files == entryCount && found.bytes == expected.bytes,
            Format("%s: %llu files, %llu bytes unpacked; expected %u files, %llu bytes", folder.c_str(),
                   static_cast<unsigned long long>(found.files), static_cast<unsigned long long>(found.bytes),
                   entryCount, static_cast<unsigned long long>(expected.bytes)));
  }

  const Options& options_;
  std::string scratch_;
  std::string temp_;
};

// What the rounds of one shape measured; `samples` holds the seconds of the setup program, the
// native floor and, with the short shape, the one-entry baseline.
struct ShapeRuns {
  std::string tag;
  uint32_t entryCount = 0;
  int rounds = 0;
  std::vector<std::vector<double>> samples;
  std::vector<WineRun> runs;
  std::vector<double> floorCpu, floorPeaks;
};

// What Wine costs per cancel poll and per progress report, measured once by the launcher.
struct WineCosts {
  double pollMs = 0;
  double reportMs = 0;
};

double MedianOf(const std::vector<WineRun>& runs, double WineRun::*field) {
  std::vector<double> values;
  for (const WineRun& run : runs) values.push_back(run.*field);
  return Median(values);
}

std::string Phases(const std::vector<WineRun>& runs, double WineRun::*phase) {
  return Format("%.3f", MedianOf(runs, phase));
}

// The nominal cancel polls of one run: 800 ms, and 100 ms per entry.
double NominalPolls(uint32_t entryCount) { return 0.8 + 0.1 * entryCount; }

bool SetupProgramsMissing(const Options& options, Report& report) {
  for (uint32_t entryCount : {1u, 8u, 1000u}) {
    if (!Exists(options.data + "/packed/entries-" + std::to_string(entryCount) + "/setup.exe")) {
      report.rows.push_back({"setup.exe under Wine vs native file work", "not measured", "", "", "",
                             "packed setup program missing"});
      return true;
    }
  }
  if (options.launcher.empty() || !Exists(options.launcher)) {
    report.rows.push_back({"setup.exe under Wine vs native file work", "not measured", "", "", "", "launcher missing"});
    return true;
  }
  return false;
}

ShapeRuns TimeShape(const Options& options, SetupRunner& runner, uint32_t entryCount,
                    std::vector<WineRun>& baseline) {
  ShapeRuns shape;
  shape.entryCount = entryCount;
  shape.tag = "entries-" + std::to_string(entryCount);
  shape.rounds = entryCount > 8 ? options.longReps : options.reps;
  Progress(Format("setup.exe under Wine against the native floor, %s, %d rounds", shape.tag.c_str(), shape.rounds));
  std::vector<std::function<double()>> sides = {
      [&] { shape.runs.push_back(runner.RunSetup(entryCount)); return shape.runs.back().seconds; },
      [&] {
        double peak = 0;
        const ProcessRun run = runner.RunFloor(entryCount, peak);
        shape.floorCpu.push_back(run.cpuSeconds);
        shape.floorPeaks.push_back(peak);
        return run.seconds;
      },
  };
  // The baseline runs go with the short shape, so that they are interleaved too.
  if (entryCount == 8) {
    sides.push_back([&] { baseline.push_back(runner.RunSetup(1)); return baseline.back().seconds; });
  }
  shape.samples = Interleave(shape.rounds, sides);
  return shape;
}

void AddTimeRow(const ShapeRuns& shape, Report& report) {
  const double polls = NominalPolls(shape.entryCount);
  const double setup = Median(shape.samples[0]), floor = Median(shape.samples[1]);
  const double ratio = (setup - polls) / floor;
  report.rows.push_back({"setup.exe under Wine minus polls vs native file work, " + shape.tag,
                         Format("%.3f s - %.1f s polls = %.3f s (CPU %.2f s)", setup, polls, setup - polls,
                                MedianOf(shape.runs, &WineRun::cpuSeconds)),
                         Format("%.3f s (CPU %.2f s)", floor, Median(shape.floorCpu)), Format("%.2f", ratio),
                         "<= 1.5", AtMost(ratio, 1.5)});
}

// Where the time goes: the worker's own stretch (work folder made to removed, which holds all but
// the first two polls) against the native floor, and what Wine adds before and after it.
void AddDiagnosisRows(const ShapeRuns& shape, const std::vector<WineRun>& baseline, const WineCosts& costs,
                      Report& report) {
  const double floor = Median(shape.samples[1]);
  const double inFolderPolls = NominalPolls(shape.entryCount) - 0.2;
  const double work = MedianOf(shape.runs, &WineRun::work);
  // The per-entry progress reports are synchronous repaints in the dialog's thread by design; under
  // Wine each costs what the launcher measured, natively on Windows next to nothing.
  const double measuredPolls = inFolderPolls * costs.pollMs / 100;
  const double reports = shape.entryCount * costs.reportMs / 1000;
  report.rows.push_back({"(diagnosis) worker from work folder made to removed, minus its polls, vs native, " +
                             shape.tag,
                         Format("%.3f s - %.1f s polls = %.3f s", work, inFolderPolls, work - inFolderPolls),
                         Format("%.3f s", floor), Format("%.2f", (work - inFolderPolls) / floor), "-",
                         Format("minus the polls as measured (%.3f s) and %u progress reports at %.2f ms: %.2f",
                                measuredPolls, shape.entryCount, costs.reportMs,
                                (work - measuredPolls - reports) / floor)});
  report.rows.push_back({"(diagnosis) around the worker: process seen to work folder made / work folder removed to "
                         "process end, " + shape.tag,
                         Phases(shape.runs, &WineRun::startUp) + " s (with 0.2 s polls) / " +
                             Phases(shape.runs, &WineRun::tail) + " s",
                         "one-entry run: " + Phases(baseline, &WineRun::startUp) + " s / " +
                             Phases(baseline, &WineRun::tail) + " s",
                         "", "-", "-"});
}

void AddSampleDetails(const ShapeRuns& shape, const std::vector<WineRun>& baseline, Report& report) {
  std::vector<double> peaks;
  for (const WineRun& run : shape.runs) peaks.push_back(run.peakResident);
  report.details.push_back(Format(
      "setup %s, %d rounds: Wine %s; native floor %s; peak resident %s (native floor %s)", shape.tag.c_str(),
      shape.rounds, Samples(shape.samples[0], 1, "s").c_str(), Samples(shape.samples[1], 1, "s").c_str(),
      Samples(peaks, 1 / kMegabyte, "MB").c_str(), Samples(shape.floorPeaks, 1 / kMegabyte, "MB").c_str()));
  if (shape.entryCount == 8) {
    std::vector<double> baselinePeaks;
    for (const WineRun& run : baseline) baselinePeaks.push_back(run.peakResident);
    report.details.push_back("one-entry setup under Wine: " + Samples(shape.samples[2], 1, "s") +
                             "; peak resident " + Samples(baselinePeaks, 1 / kMegabyte, "MB"));
  }
}

void AddMemoryRow(const Options& options, const ShapeRuns& shape, const std::vector<WineRun>& baseline,
                  Report& report) {
  const std::string streamPath = options.data + "/packed/" + shape.tag + "/stream.zlib";
  const double stream = static_cast<double>(FileSize(streamPath));
  const double expanded = static_cast<double>(CheckStream(ReadWholeFile(streamPath)).merge.size());
  const double peak = MedianOf(shape.runs, &WineRun::peakResident);
  const double base = MedianOf(baseline, &WineRun::peakResident);
  const double above = peak - base;
  const double limit = 1.05 * (stream + expanded) + 8 * 1048576.0;
  report.rows.push_back({"setup.exe peak resident memory (VmHWM) above the one-entry run, " + shape.tag,
                         Format("%.1f MB (%.1f - %.1f)", above / kMegabyte, peak / kMegabyte, base / kMegabyte),
                         Format("stream + expanded = %.1f MB", (stream + expanded) / kMegabyte),
                         Format("%.3f of the sum", above / (stream + expanded)),
                         Format("<= 1.05 x sum + 8 MiB = %.1f MB", limit / kMegabyte), AtMost(above / limit, 1.0)});
}

void AddCostDetails(const WineCosts& costs, Report& report) {
  report.details.push_back(Format("one cancel poll (100 ms wait on an event) takes %.2f ms under this Wine "
                                  "(mean of 20); the target's subtraction uses the nominal 100 ms",
                                  costs.pollMs));
  report.details.push_back(Format("one per-entry progress report (bar position and percent text set from a second "
                                  "thread, each repainted at once) takes %.2f ms under this Wine (mean of 500)",
                                  costs.reportMs));
}

}  // namespace

void CompareSetup(const Options& options, Report& report) {
  if (SetupProgramsMissing(options, report)) return;
  SetupRunner runner(options);
  Progress("warming up Wine with the one-entry setup program");
  runner.RunSetup(1);
  WineCosts costs;
  costs.pollMs = runner.MeasurePollMs();
  costs.reportMs = runner.MeasureReportMs();

  std::vector<WineRun> baseline;
  for (uint32_t entryCount : {8u, 1000u}) {
    if (entryCount > 8 && !options.Runs("setup")) continue;
    const ShapeRuns shape = TimeShape(options, runner, entryCount, baseline);
    AddTimeRow(shape, report);
    AddDiagnosisRows(shape, baseline, costs, report);
    AddSampleDetails(shape, baseline, report);
    AddMemoryRow(options, shape, baseline, report);
  }
  AddCostDetails(costs, report);
}
