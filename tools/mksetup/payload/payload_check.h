// The full check of a loaded payload: every rule that the setup program relies on and every
// property that a correct producer gives it, each failure worded for the user.
#pragma once

#include <cstdint>
#include <string>

#include "payload/payload_source.h"
#include "text/code_pages.h"

// Throws ToolError naming `path` and the first thing that is wrong: a resource in another
// language, bytes after the stream, a name that the setup program refuses or that is too long for
// the typical extraction folder, an entry of size 0, an index that is not the record's position, a
// non-zero sizeHigh, non-zero bytes after a name's NUL, bytes after the data region, a launch name
// that is not one of the entries, two entries that Windows takes for one file. Names are read in
// `codePage` when one is given, else byte by byte as in a single-byte code page.
void CheckPayload(const LoadedPayload& payload, const std::string& path, const CodePage* codePage = nullptr);

// The rules that the setup program's reader checks before it writes anything (names that stay in
// the extraction folder, paths that fit 259 characters below a folder of the given length),
// worded precisely. The reader's own verdict decides; the name rules only explain it.
void CheckReaderRules(const LoadedPayload& payload, const std::string& path, uint32_t extractionFolderLength,
                      const CodePage* codePage = nullptr);
