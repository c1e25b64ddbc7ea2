// What `list` prints: the launch name and every entry with its size and its three times, as text
// for people (ISO-8601 UTC to 100 ns) or as JSON with the raw FILETIME numbers beside.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "host/file_times.h"
#include "payload/payload_source.h"
#include "text/code_pages.h"

// "2024-05-06T07:08:09.1234567Z" for a FILETIME given as one 64-bit number.
std::string FormatFileTime(uint64_t fileTime);

// Names are stored in the ANSI code page; they are shown as UTF-8 decoded from code page 1252,
// with U+FFFD for the five byte values that it leaves undefined.
std::string Windows1252ToUtf8(const std::string& bytes);

// A stored name as UTF-8: read in `codePage` when one is given and the bytes are text of it, else
// read in code page 1252.
std::string ShownName(const std::string& bytes, const CodePage* codePage);

void WriteListing(const LoadedPayload& payload, std::ostream& out, const CodePage* codePage = nullptr);
void WriteJsonListing(const LoadedPayload& payload, std::ostream& out, const CodePage* codePage = nullptr);
