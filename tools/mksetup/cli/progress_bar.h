// The progress line on stderr for long work, drawn only when stderr is a terminal so that logs and
// pipes stay quiet.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

class ProgressBar {
 public:
  ProgressBar(std::ostream& err, bool enabled) : err_(err), enabled_(enabled) {}
  ~ProgressBar() { Clear(); }
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  // Redraws only when the stage or the whole percent changes.
  void Show(const char* stage, uint64_t done, uint64_t total);
  void Clear();

 private:
  std::ostream& err_;
  bool enabled_;
  bool drawn_ = false;
  std::string stage_;
  int percent_ = -1;
};
