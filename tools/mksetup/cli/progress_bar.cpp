#include "cli/progress_bar.h"

namespace {
constexpr int kBarWidth = 30;
}

void ProgressBar::Show(const char* stage, uint64_t done, uint64_t total) {
  if (!enabled_) return;
  const int percent = total == 0 ? 100 : static_cast<int>(done * 100 / total);
  if (stage_ == stage && percent == percent_) return;
  stage_ = stage;
  percent_ = percent;
  const int filled = percent * kBarWidth / 100;
  err_ << "\r" << stage << " [" << std::string(filled, '#') << std::string(kBarWidth - filled, ' ') << "] " << percent
       << "%   " << std::flush;
  drawn_ = true;
}

void ProgressBar::Clear() {
  if (!drawn_) return;
  err_ << "\r" << std::string(stage_.size() + kBarWidth + 12, ' ') << "\r" << std::flush;
  drawn_ = false;
  stage_.clear();
  percent_ = -1;
}
