// The benchmark's table: one row per comparison (ours, the yardstick, their ratio, the target and
// the verdict), the raw samples behind it, and the interleaved rounds and medians that fill it.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct Row {
  std::string comparison;
  std::string measured;
  std::string yardstick;
  std::string ratio;
  std::string target;
  std::string verdict;
};

struct Report {
  std::vector<Row> rows;
  std::vector<std::string> details;

  void Print() const;
};

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A line on stderr, so that a long run shows where it is without touching the table on stdout.
void Progress(const std::string& text);

double Median(std::vector<double> samples);

// The samples in round order, each multiplied by `scale`, for the table's notes.
std::string Samples(const std::vector<double>& samples, double scale, const char* unit);

// Runs every side once per round; the first side of round r is side r mod n, so no side always
// runs on a cache or a scheduler state that another left behind.
std::vector<std::vector<double>> Interleave(int rounds, const std::vector<std::function<double()>>& sides);

// The verdict on a ratio that must stay at or below `limit`, with the miss in percent of the limit.
std::string AtMost(double ratio, double limit);
