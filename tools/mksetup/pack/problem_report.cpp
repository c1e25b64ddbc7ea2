#include "pack/problem_report.h"

#include <algorithm>

#include "tool_error.h"

const ProblemKind kUnreadable{10, "files and folders that cannot be read",
                              "make them readable, or leave them out with --exclude PATTERN"};
const ProblemKind kSymbolicLink{20, "symbolic links",
                                "pack what they point to with --dereference, or leave them out with --exclude PATTERN"};
const ProblemKind kDanglingLink{30, "links that point nowhere",
                                "restore what they point to, or leave them out with --exclude PATTERN"};
const ProblemKind kLinkLoop{40, "links that loop", "following them never ends; leave them out with --exclude PATTERN"};
const ProblemKind kSpecialFile{50, "special files",
                               "only regular files and folders can be packed; leave them out with --exclude PATTERN"};
const ProblemKind kBadTimeStamp{60, "time stamps that Windows cannot record",
                                "give them a time between 1601 and 30828 (touch), or leave them out with "
                                "--exclude PATTERN"};
const ProblemKind kEmptyFile{70, "empty files",
                             "a setup program cannot carry a file of 0 bytes; leave them out with --skip-empty"};
const ProblemKind kHugeFile{80, "files of 4 GiB or more",
                            "a setup program carries files below 4 GiB only; leave them out with --exclude PATTERN"};
const ProblemKind kNotAscii{90, "names that are not plain printable ASCII",
                            "name the Windows code page of the machines they are for with --codepage CP, rename them, "
                            "or leave them out with --exclude PATTERN"};
const ProblemKind kNotInCodePage{95, "names that the code page cannot hold exactly",
                                 "rename them, name another code page with --codepage, or leave them out with "
                                 "--exclude PATTERN"};
const ProblemKind kWindowsName{100, "names that Windows would refuse or change",
                               "rename them, or leave them out with --exclude PATTERN"};
const ProblemKind kLongPath{110, "paths too long to unpack",
                            "shorten the names or the nesting, or leave them out with --exclude PATTERN"};
const ProblemKind kCaseClash{120, "names that differ only in case",
                             "Windows takes them for one name; rename or leave out one of each pair"};
const ProblemKind kLaunchFile{130, "launch file", "name one of the packed files with --launch, relative to DIR"};
const ProblemKind kTooMuchData{140, "too much data", "pack less, or leave some out with --exclude PATTERN"};
const ProblemKind kNothingToPack{150, "nothing to pack", "a setup program needs at least one file"};
const ProblemKind kOutputInside{160, "output inside the folder",
                                "it would be packed into itself; write it elsewhere, or leave it out with "
                                "--exclude PATTERN"};

namespace {

std::string Counted(size_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

}  // namespace

void ProblemList::Add(const ProblemKind& kind, const std::string& file, const std::string& detail) {
  problems_.push_back(Problem{&kind, detail.empty() ? file : file + ": " + detail});
}

size_t ProblemList::CountOf(const ProblemKind& kind) const {
  return static_cast<size_t>(
      std::count_if(problems_.begin(), problems_.end(), [&](const Problem& problem) { return problem.kind == &kind; }));
}

std::string ProblemList::Report() const {
  if (problems_.empty()) return std::string();
  std::vector<Problem> sorted = problems_;
  // Within a kind, by path: the walk meets a folder's files before its subfolders.
  std::sort(sorted.begin(), sorted.end(), [](const Problem& a, const Problem& b) {
    return a.kind->rank != b.kind->rank ? a.kind->rank < b.kind->rank : a.line < b.line;
  });
  std::string report = "cannot be packed, " + Counted(sorted.size(), "problem", "problems") + "; nothing was written";
  for (size_t start = 0; start < sorted.size();) {
    const ProblemKind& kind = *sorted[start].kind;
    size_t end = start;
    while (end < sorted.size() && sorted[end].kind == &kind) ++end;
    report += "\n  " + std::string(kind.title) + " (" + std::to_string(end - start) + "): " + kind.remedy;
    const size_t shown = std::min(end - start, kShownPerGroup);
    for (size_t i = start; i < start + shown; ++i) report += "\n    " + sorted[i].line;
    if (end - start > shown) report += "\n    and " + std::to_string(end - start - shown) + " more";
    start = end;
  }
  return report;
}

void ProblemList::ThrowIfAny(const std::string& folder) const {
  if (problems_.empty()) return;
  throw ToolError(folder, Report());
}
