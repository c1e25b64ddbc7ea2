#include "bench/bench_report.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

void Report::Print() const {
  printf("| Comparison | Ours | Yardstick | Ratio | Target | Result |\n|---|---|---|---|---|---|\n");
  for (const Row& row : rows) {
    printf("| %s | %s | %s | %s | %s | %s |\n", row.comparison.c_str(), row.measured.c_str(), row.yardstick.c_str(),
           row.ratio.c_str(), row.target.c_str(), row.verdict.c_str());
  }
  printf("\nSamples (seconds, in round order):\n\n");
  for (const std::string& detail : details) printf("- %s\n", detail.c_str());
}

std::string Format(const char* format, ...) {
  char text[1024];
  va_list arguments;
  va_start(arguments, format);
  vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  return text;
}

void Progress(const std::string& text) {
  fprintf(stderr, "bench: %s\n", text.c_str());
}

double Median(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  const size_t n = samples.size();
  return n % 2 == 1 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
}

std::string Samples(const std::vector<double>& samples, double scale, const char* unit) {
  std::string text;
  for (double sample : samples) text += Format("%s%.3f", text.empty() ? "" : ", ", sample * scale);
  return text + " " + unit;
}

std::vector<std::vector<double>> Interleave(int rounds, const std::vector<std::function<double()>>& sides) {
  std::vector<std::vector<double>> samples(sides.size());
  for (int round = 0; round < rounds; ++round) {
    for (size_t k = 0; k < sides.size(); ++k) {
      const size_t side = (round + k) % sides.size();
      samples[side].push_back(sides[side]());
    }
  }
  return samples;
}

std::string AtMost(double ratio, double limit) {
  if (ratio <= limit) return "met";
  return Format("MISSED by %.1f %%", 100.0 * (ratio / limit - 1));
}
