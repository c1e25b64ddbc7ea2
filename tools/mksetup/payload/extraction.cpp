#include "payload/extraction.h"

#include <algorithm>
#include <set>

#include "payload/payload_check.h"
#include "tool_error.h"

namespace {

std::vector<std::string> SplitAtBackslash(const std::string& name) {
  std::vector<std::string> parts(1);
  for (char c : name) {
    if (c == '\\') {
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  return parts;
}

// What the host cannot take although the setup program would: a forward slash (a separator here,
// but not one the setup program creates folders at), empty and "." components.
std::string PartsProblem(const std::string& name) {
  if (name.find('/') != std::string::npos) return "contains '/', which the setup program does not treat as a folder";
  for (const std::string& part : SplitAtBackslash(name)) {
    if (part.empty()) return "has an empty component";
    if (part == ".") return "has the component \".\"";
  }
  return std::string();
}

// The stored name as text with backslashes between its parts. In a double-byte code page a
// backslash byte may be half of a letter, so the name is read in its code page before it is split.
std::string NameAsText(const std::string& stored, const CodePage* codePage, std::string& problem) {
  if (codePage == nullptr) {
    // Where names are UTF-8, the byte values that code page 1252 leaves undefined are refused too.
    problem = PartsProblem(stored);
    if (problem.empty()) problem = LocalSpellingProblem(stored);
    return stored;
  }
  std::string text;
  problem = codePage->ToUtf8(stored, text) ? PartsProblem(text) : "is no text of " + codePage->Description();
  return text;
}

std::vector<PlannedEntry> PlanEntries(const LoadedPayload& payload, const std::string& source, const std::string& folder,
                                   const CodePage* codePage) {
  std::vector<PlannedEntry> plan;
  std::set<std::string> files;
  std::set<std::string> folders;
  const auto key = SameFileKey;
  const std::vector<StoredEntry>& entries = payload.contents.entries;
  for (size_t i = 0; i < entries.size(); ++i) {
    std::string problem;
    const std::string name = NameAsText(entries[i].relativePath, codePage, problem);
    const std::string label = "entry " + std::to_string(i) + " (\"" + name + "\")";
    if (entries[i].fields.sizeLow == 0) throw ToolError(source, label + ": its size is 0");
    if (!problem.empty()) throw ToolError(source, label + ": the path " + problem);

    PlannedEntry entry;
    std::vector<std::string> parts = SplitAtBackslash(name);
    std::string shown = folder;
    std::string prefix;
    for (size_t p = 0; p + 1 < parts.size(); ++p) {
      prefix += (p ? "\\" : "") + parts[p];
      if (files.count(key(prefix))) throw ToolError(source, label + ": it needs a folder where another entry is a file");
      folders.insert(key(prefix));
      entry.folders.push_back(codePage ? parts[p] : LocalFileName(parts[p]));
      shown = JoinShown(shown, entry.folders.back());
    }
    if (folders.count(key(name))) throw ToolError(source, label + ": it is a file where another entry needs a folder");
    files.insert(key(name));
    entry.fileName = codePage ? parts.back() : LocalFileName(parts.back());
    entry.shownPath = JoinShown(shown, entry.fileName);
    plan.push_back(std::move(entry));
  }
  return plan;
}

// Hands each piece of the expansion to the file of the entry whose contents it holds.
class EntryWriter : public ByteSink {
 public:
  EntryWriter(ExtractionTarget& target, const std::vector<PlannedEntry>& plan, const std::vector<StoredEntry>& entries)
      : target_(target), plan_(plan), entries_(entries) {}

  void Write(const uint8_t* data, size_t size) override {
    while (size != 0 && finished_ < entries_.size()) {
      const StoredEntry& entry = entries_[finished_];
      const uint64_t end = entry.dataOffset + entry.fields.sizeLow;
      if (offset_ < entry.dataOffset) {
        Advance(data, size, std::min<uint64_t>(size, entry.dataOffset - offset_));
        continue;
      }
      if (offset_ == entry.dataOffset) target_.Begin(plan_[finished_]);
      const size_t taken = static_cast<size_t>(std::min<uint64_t>(size, end - offset_));
      target_.Append(data, taken);
      Advance(data, size, taken);
      if (offset_ == end) {
        target_.Finish(entry);
        ++finished_;
      }
    }
  }

  size_t finished() const { return finished_; }

 private:
  void Advance(const uint8_t*& data, size_t& size, uint64_t count) {
    data += count;
    size -= static_cast<size_t>(count);
    offset_ += count;
  }

  ExtractionTarget& target_;
  const std::vector<PlannedEntry>& plan_;
  const std::vector<StoredEntry>& entries_;
  uint64_t offset_ = 0;
  size_t finished_ = 0;
};

}  // namespace

std::vector<PlannedEntry> PlanExtraction(const LoadedPayload& payload, const std::string& source, const std::string& folder,
                                      const CodePage* codePage) {
  // The host's own folder length is no limit here; names are judged as the reader judges them.
  CheckReaderRules(payload, source, 0, codePage);
  return PlanEntries(payload, source, folder, codePage);
}

void WriteEntries(const LoadedPayload& payload, const RandomAccessBytes& file, const std::string& source,
                  const std::vector<PlannedEntry>& plan, ExtractionTarget& target) {
  EntryWriter writer(target, plan, payload.contents.entries);
  try {
    const LoadedPayload again = ReadPayload(file, payload.stream, source, &writer);
    if (again.table.bytes != payload.table.bytes || again.table.expandedSize != payload.table.expandedSize) {
      throw ToolError(source, "the file changed while it was extracted");
    }
  } catch (...) {
    // As the setup program rolls back: the files of this run go again, newest first.
    target.Abandon();
    for (size_t written = writer.finished(); written-- > 0;) target.Remove(plan[written]);
    throw;
  }
}

void ExtractPayload(const LoadedPayload& payload, const RandomAccessBytes& file, const std::string& source,
                    const std::string& folder, const CodePage* codePage) {
  const std::vector<PlannedEntry> plan = PlanExtraction(payload, source, folder, codePage);
  CheckRoutes(plan, folder);
  ExtractionFolder target(folder);
  WriteEntries(payload, file, source, plan, target);
}
