#include "payload/listing.h"

#include <cstdio>

namespace {

constexpr uint64_t kTicksPerSecond = 10000000;
constexpr uint64_t kSecondsPerDay = 86400;
// Days from 0000-03-01 (the start of the proleptic Gregorian era used below) to 1601-01-01.
constexpr int64_t kDaysToFileTimeEpoch = 584694;

// Code page 1252's characters for 0x80 to 0x9F; zero where the code page defines none.
constexpr uint16_t kHighControls[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

std::string JsonString(const std::string& bytes, const CodePage* codePage) {
  const std::string text = ShownName(bytes, codePage);
  std::string out = "\"";
  for (char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof(escaped), "\\u%04X", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

void WriteJsonTime(std::ostream& out, const char* name, const FileTime& time) {
  const uint64_t value = FileTimeValue(time);
  out << "\"" << name << "\": \"" << FormatFileTime(value) << "\", \"" << name << "FileTime\": " << value;
}

}  // namespace

// Days to civil date after Howard Hinnant's algorithm, counted in 400-year eras from 0000-03-01.
std::string FormatFileTime(uint64_t fileTime) {
  const uint64_t ticks = fileTime % kTicksPerSecond;
  const uint64_t seconds = fileTime / kTicksPerSecond;
  const uint64_t secondOfDay = seconds % kSecondsPerDay;
  const int64_t days = static_cast<int64_t>(seconds / kSecondsPerDay) + kDaysToFileTimeEpoch;
  const int64_t era = days / 146097;
  const int64_t dayOfEra = days - era * 146097;
  const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t monthIndex = (5 * dayOfYear + 2) / 153;
  const int64_t day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
  const int64_t month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
  const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  char text[48];
  std::snprintf(text, sizeof(text), "%04lld-%02lld-%02lldT%02llu:%02llu:%02llu.%07lluZ", static_cast<long long>(year),
                static_cast<long long>(month), static_cast<long long>(day),
                static_cast<unsigned long long>(secondOfDay / 3600), static_cast<unsigned long long>(secondOfDay / 60 % 60),
                static_cast<unsigned long long>(secondOfDay % 60), static_cast<unsigned long long>(ticks));
  return text;
}

std::string Windows1252ToUtf8(const std::string& bytes) {
  std::string out;
  for (char c : bytes) {
    const unsigned char byte = static_cast<unsigned char>(c);
    uint32_t code = byte;
    if (byte >= 0x80 && byte <= 0x9F) code = kHighControls[byte - 0x80] ? kHighControls[byte - 0x80] : 0xFFFD;
    AppendUtf8(out, code);
  }
  return out;
}

std::string ShownName(const std::string& bytes, const CodePage* codePage) {
  std::string text;
  if (codePage != nullptr && codePage->ToUtf8(bytes, text)) return text;
  return Windows1252ToUtf8(bytes);
}

void WriteListing(const LoadedPayload& payload, std::ostream& out, const CodePage* codePage) {
  const MergeContents& contents = payload.contents;
  out << "launch: " << (contents.launchName.empty() ? "(none)" : ShownName(contents.launchName, codePage)) << "\n";
  uint64_t total = 0;
  char line[160];
  std::snprintf(line, sizeof(line), "%12s  %-28s  %-28s  %-28s  %s\n", "size", "created", "last access",
                "last write", "name");
  out << line;
  for (const StoredEntry& entry : contents.entries) {
    std::snprintf(line, sizeof(line), "%12lu  %-28s  %-28s  %-28s  ", static_cast<unsigned long>(entry.fields.sizeLow),
                  FormatFileTime(FileTimeValue(entry.fields.creationTime)).c_str(),
                  FormatFileTime(FileTimeValue(entry.fields.lastAccessTime)).c_str(),
                  FormatFileTime(FileTimeValue(entry.fields.lastWriteTime)).c_str());
    out << line << ShownName(entry.relativePath, codePage) << "\n";
    total += entry.fields.sizeLow;
  }
  out << contents.entries.size() << (contents.entries.size() == 1 ? " file, " : " files, ") << total << " bytes ("
      << payload.stream.size << " bytes compressed)\n";
}

void WriteJsonListing(const LoadedPayload& payload, std::ostream& out, const CodePage* codePage) {
  const MergeContents& contents = payload.contents;
  out << "{\n  \"launchName\": " << JsonString(contents.launchName, codePage) << ",\n";
  out << "  \"compressedSize\": " << payload.stream.size << ",\n";
  out << "  \"expandedSize\": " << payload.table.expandedSize << ",\n";
  out << "  \"entries\": [";
  for (size_t i = 0; i < contents.entries.size(); ++i) {
    const StoredEntry& entry = contents.entries[i];
    out << (i == 0 ? "\n" : ",\n") << "    {\"index\": " << i << ", \"relativePath\": " << JsonString(entry.relativePath, codePage)
        << ", \"size\": " << entry.fields.sizeLow << ", ";
    WriteJsonTime(out, "creationTime", entry.fields.creationTime);
    out << ", ";
    WriteJsonTime(out, "lastAccessTime", entry.fields.lastAccessTime);
    out << ", ";
    WriteJsonTime(out, "lastWriteTime", entry.fields.lastWriteTime);
    out << "}";
  }
  out << (contents.entries.empty() ? "]\n}\n" : "\n  ]\n}\n");
}
