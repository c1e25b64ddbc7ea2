// Unpacking a payload into a folder of the host with the setup program's safety rules: the whole
// payload is refused before anything is written if one entry could land outside the folder, and
// nothing is ever written through a symbolic link, a junction or a hard link already there.
#pragma once

#include <string>

#include "payload/extraction_target.h"
#include "payload/payload_source.h"
#include "text/code_pages.h"

// Writes every entry below `folder` (created if missing) in record order, with its last-write and
// last-access times, and its creation time where the host can set one. Throws ToolError naming the
// file and the reason; after a failure during writing the files of this run are deleted again.
// Names are read in `codePage` when one is given, else in the host's own way.
// `payload` comes from a whole pass over the stream of `file`, so nothing is written for a
// payload that is damaged anywhere; a second pass writes the files piece by piece.
void ExtractPayload(const LoadedPayload& payload, const RandomAccessBytes& file, const std::string& source,
                    const std::string& folder, const CodePage* codePage = nullptr);

// The two halves of ExtractPayload, for a target other than the host's folder. PlanExtraction
// refuses, before anything is written, every entry that the setup program would refuse or that
// could land outside `folder`, and gives each entry's name on the host. WriteEntries expands the
// payload again and hands every entry to `target`; after a failure it removes what it wrote.
std::vector<PlannedEntry> PlanExtraction(const LoadedPayload& payload, const std::string& source, const std::string& folder,
                                      const CodePage* codePage);
void WriteEntries(const LoadedPayload& payload, const RandomAccessBytes& file, const std::string& source,
                  const std::vector<PlannedEntry>& plan, ExtractionTarget& target);
