// From a scanned folder to the merge data file: the packer's refusals (everything the setup
// program could not carry or unpack faithfully), then the file itself, written in one block.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "code_pages.h"
#include "folder_scan.h"

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

// Called after each file is read: bytes read so far, and in all.
using ReadProgress = std::function<void(uint64_t done, uint64_t total)>;

// The merge data file of `files` (already checked), each file's contents read straight into place.
std::vector<uint8_t> AssembleMergeFile(const std::vector<SourceFile>& files, const std::string& launchName,
                                       const ReadProgress& progress = nullptr);
