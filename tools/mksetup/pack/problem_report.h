// Everything that keeps a folder from being packed, gathered over the whole folder before the
// packer gives up and reported in one go, grouped by kind, each kind with the way past it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// One kind of problem: its group heading and what the user can do about it. Groups are reported
// in the order of `rank`, so a kind added later slots in where it reads best.
struct ProblemKind {
  int rank;
  const char* title;
  const char* remedy;
};

extern const ProblemKind kUnreadable;
extern const ProblemKind kSymbolicLink;
extern const ProblemKind kDanglingLink;
extern const ProblemKind kLinkLoop;
extern const ProblemKind kSpecialFile;
extern const ProblemKind kBadTimeStamp;
extern const ProblemKind kEmptyFile;
extern const ProblemKind kHugeFile;
extern const ProblemKind kNotAscii;
extern const ProblemKind kNotInCodePage;
extern const ProblemKind kWindowsName;
extern const ProblemKind kLongPath;
extern const ProblemKind kCaseClash;
extern const ProblemKind kLaunchFile;
extern const ProblemKind kTooMuchData;
extern const ProblemKind kNothingToPack;
extern const ProblemKind kOutputInside;

// A group shows this many entries; the rest are counted.
constexpr size_t kShownPerGroup = 10;

class ProblemList {
 public:
  // `file` names the file or folder; `detail` (may be empty) says what exactly is wrong with it.
  void Add(const ProblemKind& kind, const std::string& file, const std::string& detail = std::string());
  bool empty() const { return problems_.empty(); }
  size_t size() const { return problems_.size(); }
  size_t CountOf(const ProblemKind& kind) const;

  // The report that follows the folder's name: a count, then a block per kind; empty when there
  // is no problem.
  std::string Report() const;

  // Throws ToolError for `folder` with the report, when there is anything to report.
  void ThrowIfAny(const std::string& folder) const;

 private:
  struct Problem {
    const ProblemKind* kind;
    std::string line;
  };
  std::vector<Problem> problems_;
};
