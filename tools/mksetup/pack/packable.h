// What keeps a scanned folder from becoming a payload: everything the setup program could not
// carry or unpack faithfully, added to the scan's problem report; and the names as stored.
#pragma once

#include <string>

#include "pack/folder_scan.h"
#include "pack/problem_report.h"
#include "text/code_pages.h"

// The launch name as the payload stores it: forward slashes typed by the user become backslashes.
std::string PayloadName(const std::string& typed);

// Adds to scan.problems everything in `scan` (and in the launch name) that the payload cannot carry:
// no files at all, empty files, files of 4 GiB or more, names the setup program or Windows would
// refuse or change, paths too long for the typical extraction folder, names that Windows takes for
// one, a data file of 4 GiB or more, a launch name that is not one of the files. Names beyond
// ASCII need a `codePage` that holds them.
void CheckPackable(const std::string& folder, FolderScan& scan, const std::string& launchName,
                   const CodePage* codePage);

// Turns the checked UTF-8 names of the files and the launch name into the bytes of `codePage`.
void StoreNamesIn(const CodePage& codePage, FolderScan& scan, std::string& launchName);

// Why the packer refuses a name that it would write, and under which kind of problem: anything
// above, plus empty components and components that end in a dot or a space (which Windows
// silently drops), and characters other than printable ASCII unless `codePage` holds them exactly;
// the path length is then that of the name in the code page. No kind when the name is fine.
struct NameProblem {
  const ProblemKind* kind;
  std::string reason;
};
NameProblem PackNameProblem(const std::string& name, const CodePage* codePage = nullptr);

