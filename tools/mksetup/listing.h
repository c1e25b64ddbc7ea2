// What `list` prints: the launch name and every entry with its size and its three times, as text
// for people (ISO-8601 UTC to 100 ns) or as JSON with the raw FILETIME numbers beside.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "payload_source.h"

// "2024-05-06T07:08:09.1234567Z" for a FILETIME given as one 64-bit number.
std::string FormatFileTime(uint64_t fileTime);

uint64_t FileTimeValue(const FileTime& time);

// Names are stored in the ANSI code page; they are shown as UTF-8 decoded from code page 1252,
// with U+FFFD for the five byte values that it leaves undefined.
std::string Windows1252ToUtf8(const std::string& bytes);

void WriteListing(const LoadedPayload& payload, std::ostream& out);
void WriteJsonListing(const LoadedPayload& payload, std::ostream& out);
