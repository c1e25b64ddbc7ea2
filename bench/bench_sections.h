// The sections of one benchmark run (the file inflater, the packer, the setup program under Wine),
// each adding its rows to the report, and the options that choose them and say where the data is.
#pragma once

#include <cstdint>
#include <string>

#include "bench/bench_report.h"

struct Options {
  std::string data;
  std::string bin;
  std::string launcher;
  std::string wine;
  int reps = 5;
  int longReps = 3;
  // Comma-separated sections: inflater, packer, setup (both shapes), setup8 (only the 8-entry shape,
  // a quick look); empty means all.
  std::string only;
  bool Runs(const std::string& section) const {
    return only.empty() || ("," + only + ",").find("," + section + ",") != std::string::npos;
  }
};

constexpr double kMegabyte = 1e6;

void CompareInflaters(const Options& options, Report& report);
void ComparePacker(const Options& options, uint32_t entryCount, Report& report);
void CompareSetup(const Options& options, Report& report);
