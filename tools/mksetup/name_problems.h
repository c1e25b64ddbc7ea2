// The rules a payload's names meet: what the setup program refuses on Windows, what the packer
// refuses besides, and the typical extraction folder that path lengths are measured against.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "code_pages.h"
#include "pack_problems.h"

// The stub unpacks below %TEMP%\{93BE7657-D655-425A-8E7A-F7D9392A5939}\. Path lengths are judged
// under a typical temporary folder, C:\Users\<a 20-character user name>\AppData\Local\Temp\.
extern const std::string kAssumedExtractionFolder;
constexpr uint32_t kAssumedExtractionFolderLength = 88;

// Why Windows or the setup program would refuse `name` as an entry's relativePath or as the launch
// name: a forbidden character, a reserved device name, a component that resolves to the parent,
// a leading separator, an empty name. Empty when the setup program accepts it.
std::string WindowsNameProblem(const std::string& name);

// Why the full extraction path of `name` under the assumed folder would not fit 259 characters;
// empty when it fits.
std::string PathLengthProblem(const std::string& name);

// Why the packer refuses a name that it would write, and under which kind of problem: anything
// above, plus empty components and components that end in a dot or a space (which Windows
// silently drops), and characters other than printable ASCII unless `codePage` holds them exactly;
// the path length is then that of the name in the code page. No kind when the name is fine.
struct NameProblem {
  const ProblemKind* kind;
  std::string reason;
};
NameProblem PackNameProblem(const std::string& name, const CodePage* codePage = nullptr);

// The name as Windows compares it: letters in upper case (see FoldCaseAsWindows).
std::string FoldCase(const std::string& name);

// The names, in any order, that Windows would take for an earlier one (or a file for a folder that
// another name needs), each with the first earlier name it clashes with, as indexes into `names`.
struct NameClash {
  size_t first;
  size_t second;
};
std::vector<NameClash> FindCaseClashes(const std::vector<std::string>& names);
