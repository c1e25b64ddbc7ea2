#include "payload/payload_check.h"

#include <algorithm>

#include "payload/listing.h"
#include "pe/pe_writer.h"
#include "text/windows_names.h"
#include "tool_error.h"

namespace {

std::string EntryLabel(size_t index, const StoredEntry& entry) {
  return "entry " + std::to_string(index) + " (\"" + entry.relativePath + "\")";
}

bool ZeroAfterName(const char* field, size_t nameLength) {
  for (size_t i = nameLength; i < kNameFieldSize; ++i) {
    if (field[i] != 0) return false;
  }
  return true;
}

// Explains a name that the reader refused, read as the setup program reads it: in a double-byte
// code page a separator byte may be half of a letter, so the name is judged as text.
std::string NameProblemIn(const std::string& bytes, const CodePage* codePage) {
  std::string text = bytes;
  if (codePage != nullptr && !codePage->ToUtf8(bytes, text)) return "is no text of " + codePage->Description();
  std::string problem = WindowsNameProblem(text);
  if (problem.empty()) problem = "is a name that the setup program refuses";
  const bool beyondAscii = std::any_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) > 0x7F; });
  if (codePage == nullptr && beyondAscii) problem += " (if it was packed with --codepage CP, give the same option here)";
  return problem;
}

}  // namespace

void CheckReaderRules(const LoadedPayload& payload, const std::string& path, uint32_t extractionFolderLength,
                      const CodePage* codePage) {
  const MergeTableBytes& table = payload.table;
  const MergeContents& contents = payload.contents;
  // The check reads no further than the entry table, which the kept table holds whenever the length
  // covers it; the expansion is below 4 GiB.
  const MergeCheckResult check =
      CheckMergeFile(table.bytes.data(), static_cast<uint32_t>(table.expandedSize), extractionFolderLength,
                     codePage ? codePage->leadBytes() : kSingleByteCodePage);
  const std::string launch = "the launch name \"" + contents.launchName + "\" ";
  switch (check.check) {
    case MergeCheck::kOk:
      return;
    case MergeCheck::kNoEntries:
      throw ToolError(path, "the data file holds no entries");
    case MergeCheck::kLaunchNameInvalid:
      if (!contents.launchTerminated) throw ToolError(path, "the launch name has no terminating NUL within its 260 bytes");
      throw ToolError(path, launch + NameProblemIn(contents.launchName, codePage));
    case MergeCheck::kLaunchPathTooLong:
      throw ToolError(path, launch + PathLengthProblem(contents.launchName));
    case MergeCheck::kPathInvalid: {
      const StoredEntry& entry = contents.entries[check.entry];
      if (!entry.pathTerminated) {
        throw ToolError(path, "entry " + std::to_string(check.entry) + ": the path has no terminating NUL within its 260 bytes");
      }
      const std::string problem = NameProblemIn(entry.relativePath, codePage);
      throw ToolError(path, EntryLabel(check.entry, entry) + ": the path " + problem);
    }
    case MergeCheck::kPathTooLong:
      throw ToolError(path, EntryLabel(check.entry, contents.entries[check.entry]) + ": the path " +
                                PathLengthProblem(contents.entries[check.entry].relativePath));
    default:
      // The structural checks already passed when the contents were read.
      throw ToolError(path, MergeCheckMessage(check.check));
  }
}

namespace {

void CheckRecords(const LoadedPayload& payload, const std::string& path) {
  const MergeTableBytes& table = payload.table;
  const MergeContents& contents = payload.contents;
  const MergeFileHeader header = ReadMergeFileHeader(table.bytes.data());
  if (!ZeroAfterName(header.launchName, contents.launchName.size())) {
    throw ToolError(path, "the bytes after the launch name's terminating NUL are not all zero");
  }
  for (size_t i = 0; i < contents.entries.size(); ++i) {
    const StoredEntry& entry = contents.entries[i];
    if (entry.fields.sizeLow == 0) {
      throw ToolError(path, EntryLabel(i, entry) + ": its size is 0; the setup program stops there with \"Invalid data file size\"");
    }
    if (entry.fields.index != i) {
      throw ToolError(path, EntryLabel(i, entry) + ": its index field is " + std::to_string(entry.fields.index) +
                                ", not its position " + std::to_string(i));
    }
    if (entry.fields.sizeHigh != 0) {
      throw ToolError(path, EntryLabel(i, entry) + ": its sizeHigh field is " + std::to_string(entry.fields.sizeHigh) + ", not 0");
    }
    if (!ZeroAfterName(entry.fields.relativePath, entry.relativePath.size())) {
      throw ToolError(path, EntryLabel(i, entry) + ": the bytes after the path's terminating NUL are not all zero");
    }
  }
  if (contents.dataEnd != table.expandedSize) {
    throw ToolError(path, std::to_string(table.expandedSize - contents.dataEnd) +
                              " bytes follow the contents of the last entry in the data file");
  }
}

void CheckNames(const MergeContents& contents, const std::string& path, const CodePage* codePage) {
  // Compared as text: the bytes of a double-byte code page would fold and split inside letters.
  std::vector<std::string> names;
  for (const StoredEntry& entry : contents.entries) {
    names.push_back(codePage ? ShownName(entry.relativePath, codePage) : entry.relativePath);
  }
  const std::vector<NameClash> clashes = FindCaseClashes(names);
  if (!clashes.empty()) {
    const NameClash& clash = clashes.front();
    throw ToolError(path, EntryLabel(clash.second, contents.entries[clash.second]) + " and " +
                              EntryLabel(clash.first, contents.entries[clash.first]) +
                              " name the same file or folder on Windows; one would overwrite or block the other");
  }
  if (contents.launchName.empty()) return;
  for (const StoredEntry& entry : contents.entries) {
    if (entry.relativePath == contents.launchName) return;
  }
  throw ToolError(path, "the launch name \"" + contents.launchName + "\" is not one of the entries");
}

}  // namespace

void CheckPayload(const LoadedPayload& payload, const std::string& path, const CodePage* codePage) {
  if (payload.stream.inProgram && payload.stream.language != kPayloadLanguage) {
    throw ToolError(path, "the payload resource has language " + std::to_string(payload.stream.language) +
                              ", not " + std::to_string(kPayloadLanguage));
  }
  if (payload.table.trailingBytes != 0) {
    throw ToolError(path, std::to_string(payload.table.trailingBytes) + " bytes follow the end of the zlib stream");
  }
  CheckReaderRules(payload, path, kAssumedExtractionFolderLength, codePage);
  CheckRecords(payload, path);
  CheckNames(payload.contents, path, codePage);
}
