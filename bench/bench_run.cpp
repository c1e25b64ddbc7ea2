// bench_run: every comparison of the benchmark in one run on one payload, each side repeated and
// interleaved with its yardstick (the side that goes first rotates every round) so that the noise of
// a shared machine falls on both; the table gives medians and their ratios.
//
//   bench_run --data DIR --bin DIR [--launcher EXE --wine WINE64] [--reps N] [--long-reps N]
//             [--only inflater,packer,setup,setup8]
//
// DIR/payload/entries-N/ is bench_make_payload's output, DIR/packed/entries-N/ holds setup.exe
// (`mksetup pack`) and stream.zlib (`mksetup payload`) of the same folder. --bin holds mksetup,
// bench_native_floor and bench_zlib9. DIR/scratch is the working space.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <stdexcept>
#include <string>

#include "bench/bench_files.h"
#include "bench/bench_sections.h"

namespace {

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string key = argv[i];
    const std::string value = argv[i + 1];
    if (key == "--data") options.data = value;
    else if (key == "--bin") options.bin = value;
    else if (key == "--launcher") options.launcher = value;
    else if (key == "--wine") options.wine = value;
    else if (key == "--reps") options.reps = std::max(1, atoi(value.c_str()));
    else if (key == "--long-reps") options.longReps = std::max(1, atoi(value.c_str()));
    else if (key == "--only") options.only = value;
    else throw std::runtime_error("unknown option " + key);
  }
  if (options.data.empty() || options.bin.empty()) throw std::runtime_error("--data and --bin are required");
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  Report report;
  try {
    const Options options = ParseOptions(argc, argv);
    MakeFolders(options.data + "/scratch");
    if (options.Runs("inflater")) CompareInflaters(options, report);
    if (options.Runs("packer")) {
      for (uint32_t entryCount : {8u, 1000u}) ComparePacker(options, entryCount, report);
    }
    if (options.Runs("setup") || options.Runs("setup8")) CompareSetup(options, report);
    report.Print();
  } catch (const std::exception& error) {
    fprintf(stderr, "bench_run: %s\n", error.what());
    report.Print();
    return 1;
  }
  return 0;
}
