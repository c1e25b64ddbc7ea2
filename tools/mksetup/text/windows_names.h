// What Windows and the setup program make of a payload's names: which they refuse, how long a
// name may be below the typical extraction folder, and which names they take for one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "text/code_pages.h"

// The stub unpacks below %TEMP%\{93BE7657-D655-425A-8E7A-F7D9392A5939}\. Path lengths are judged
// under a typical temporary folder, C:\Users\<a 20-character user name>\AppData\Local\Temp\.
extern const std::string kAssumedExtractionFolder;
constexpr uint32_t kAssumedExtractionFolderLength = 88;

// The components of a name between its separators, '\' and '/' alike, as Windows reads a
// single-byte name.
std::vector<std::string> NameComponents(const std::string& name);

// Why Windows or the setup program would refuse `name` as an entry's relativePath or as the launch
// name: a forbidden character, a reserved device name, a component that resolves to the parent,
// a leading separator, an empty name. Empty when the setup program accepts it.
std::string WindowsNameProblem(const std::string& name);

// Why the full extraction path of `name` under the assumed folder would not fit 259 characters;
// empty when it fits.
std::string PathLengthProblem(const std::string& name);

// The name as Windows compares it: letters in upper case (see FoldCaseAsWindows).
std::string FoldCase(const std::string& name);

// The names, in any order, that Windows would take for an earlier one (or a file for a folder that
// another name needs), each with the first earlier name it clashes with, as indexes into `names`.
struct NameClash {
  size_t first;
  size_t second;
};
std::vector<NameClash> FindCaseClashes(const std::vector<std::string>& names);
