// Everything here is integer arithmetic on one seeded generator per file, so a seed names the same
// payload on every machine and in every run.
#include "bench/payload_generator.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <stdexcept>
#include <string>

namespace {

// Byte totals of each kind: tuned so that the whole deflates at level 9 to about 57 MB.
constexpr uint64_t kRandomTotal = 37500000;
constexpr uint64_t kDeflatedTotal = 16500000;
constexpr uint64_t kMachineCodeTotal = 5000000;
constexpr uint64_t kTextTotal = 2000000;
constexpr uint32_t kBaselineSize = 4096;

class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}
  // splitmix64: small, fast, and the same everywhere.
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  uint32_t Below(uint32_t bound) { return static_cast<uint32_t>(Next() % bound); }

 private:
  uint64_t state_;
};

uint64_t SeedFor(uint64_t seed, uint64_t stream) {
  Rng mix(seed * 0x100000001B3ull + stream);
  return mix.Next();
}

const char* const kWords[] = {
    "the", "of", "and", "to", "a", "in", "is", "you", "that", "it", "for", "on", "with", "as", "be",
    "this", "are", "or", "by", "not", "from", "at", "your", "can", "if", "will", "all", "any", "may",
    "an", "which", "have", "setup", "program", "file", "files", "install", "software", "license",
    "use", "version", "system", "windows", "folder", "data", "user", "must", "shall", "other",
    "under", "such", "terms", "agreement", "rights", "copy", "without", "warranty", "computer",
    "click", "select", "option", "options", "settings", "default", "directory", "application",
    "components", "required", "following", "information", "support", "update", "remove", "before",
    "after", "then", "when", "each", "more", "see", "also", "new", "only", "one", "two", "into",
    "used", "using", "run", "start", "menu", "dialog", "button", "next", "finish", "cancel", "error",
    "message", "network", "server", "client", "driver", "device", "service", "registry", "key",
    "value", "path", "name", "type", "size", "memory", "disk", "space", "free", "available",
    "product", "release", "notes", "known", "issues", "fixed",
};
constexpr size_t kWordCount = sizeof kWords / sizeof kWords[0];

// Zipf-like choice: the word of rank r is drawn with a weight of about 1/(r+1).
class WordPicker {
 public:
  WordPicker() {
    uint32_t total = 0;
    for (size_t r = 0; r < kWordCount; ++r) {
      total += 100000 / static_cast<uint32_t>(r + 1);
      cumulative_[r] = total;
    }
  }
  const char* Pick(Rng& rng) const {
    const uint32_t target = rng.Below(cumulative_.back());
    size_t low = 0, high = kWordCount - 1;
    while (low < high) {
      const size_t middle = (low + high) / 2;
      if (cumulative_[middle] > target) high = middle; else low = middle + 1;
    }
    return kWords[low];
  }

 private:
  std::array<uint32_t, kWordCount> cumulative_{};
};

const WordPicker& Words() {
  static const WordPicker picker;
  return picker;
}

// Prose in paragraphs of wrapped lines, with the odd version number and path.
void AppendText(Rng& rng, std::vector<uint8_t>& out, size_t size) {
  size_t column = 0;
  bool sentenceStart = true;
  uint32_t wordsLeftInParagraph = 40 + rng.Below(120);
  std::string word;
  while (out.size() < size) {
    const uint32_t choice = rng.Below(100);
    if (choice < 2) {
      word = std::to_string(rng.Below(10)) + "." + std::to_string(rng.Below(20)) + "." +
             std::to_string(rng.Below(3000));
    } else if (choice < 3) {
      word = std::string("C:\\Program Files\\") + Words().Pick(rng) + "\\" + Words().Pick(rng) + ".dll";
    } else {
      word = Words().Pick(rng);
      if (sentenceStart) word[0] = static_cast<char>(word[0] - 'a' + 'A');
    }
    sentenceStart = false;
    if (rng.Below(12) == 0) {
      word += rng.Below(4) == 0 ? "," : ".";
      sentenceStart = word.back() == '.';
    }
    if (column + word.size() + 1 > 76) {
      out.push_back('\r');
      out.push_back('\n');
      column = 0;
    } else if (column > 0) {
      out.push_back(' ');
      ++column;
    }
    out.insert(out.end(), word.begin(), word.end());
    column += word.size();
    if (--wordsLeftInParagraph == 0) {
      const char* breakText = "\r\n\r\n";
      out.insert(out.end(), breakText, breakText + 4);
      column = 0;
      sentenceStart = true;
      wordsLeftInParagraph = 40 + rng.Below(120);
    }
  }
  out.resize(size);
}

void AppendRandom(Rng& rng, std::vector<uint8_t>& out, size_t size) {
  const size_t start = out.size();
  out.resize(start + size);
  for (size_t i = start; i < out.size(); i += 8) {
    const uint64_t value = rng.Next();
    for (size_t b = 0; b < 8 && i + b < out.size(); ++b) out[i + b] = static_cast<uint8_t>(value >> (8 * b));
  }
}

// Text deflated in 256 KiB pieces, each its own zlib stream, as archive formats store their members.
void AppendDeflated(Rng& rng, std::vector<uint8_t>& out, size_t size) {
  const size_t end = out.size() + size;
  std::vector<uint8_t> text;
  std::vector<uint8_t> packed;
  while (out.size() < end) {
    text.clear();
    AppendText(rng, text, 256 * 1024);
    uLongf packedSize = compressBound(static_cast<uLong>(text.size()));
    packed.resize(packedSize);
    if (compress2(packed.data(), &packedSize, text.data(), static_cast<uLong>(text.size()), 6) != Z_OK) {
      throw std::runtime_error("compress2 failed");
    }
    out.insert(out.end(), packed.begin(), packed.begin() + packedSize);
  }
  out.resize(end);
}

void PutLittleEndian32(std::vector<uint8_t>& out, uint32_t value) {
  for (int b = 0; b < 4; ++b) out.push_back(static_cast<uint8_t>(value >> (8 * b)));
}

// One x86-64 function: prologue, a body of common instruction shapes (frame loads and stores,
// calls to earlier functions, rip-relative addresses, tests and short branches), epilogue, padding.
void AppendFunction(Rng& rng, std::vector<uint8_t>& out, std::vector<uint32_t>& functions, size_t base) {
  functions.push_back(static_cast<uint32_t>(out.size() - base));
  const uint8_t prologue[] = {0x55, 0x48, 0x89, 0xE5, 0x48, 0x83, 0xEC};
  out.insert(out.end(), prologue, prologue + sizeof prologue);
  out.push_back(static_cast<uint8_t>(0x10 * (1 + rng.Below(8))));
  const uint32_t instructions = 4 + rng.Below(50);
  for (uint32_t i = 0; i < instructions; ++i) {
    const uint8_t frameSlot = static_cast<uint8_t>(0x100 - 8 * (1 + rng.Below(12)));
    switch (rng.Below(12)) {
      case 0: case 1:
        out.insert(out.end(), {0x48, 0x8B, static_cast<uint8_t>(0x45 + 8 * rng.Below(4)), frameSlot});
        break;
      case 2: case 3:
        out.insert(out.end(), {0x48, 0x89, static_cast<uint8_t>(0x45 + 8 * rng.Below(4)), frameSlot});
        break;
      case 4: {
        const uint32_t target = functions[functions.size() - 1 - rng.Below(static_cast<uint32_t>(
                                                    std::min<size_t>(functions.size(), 64)))];
        out.push_back(0xE8);
        PutLittleEndian32(out, target - static_cast<uint32_t>(out.size() - base + 4));
        break;
      }
      case 5:
        out.insert(out.end(), {0x48, 0x8D, 0x05});
        PutLittleEndian32(out, rng.Below(1 << 20));
        break;
      case 6:
        out.insert(out.end(), {0x85, 0xC0, static_cast<uint8_t>(0x74 + rng.Below(2)),
                               static_cast<uint8_t>(4 + rng.Below(40))});
        break;
      case 7:
        out.insert(out.end(), {0x31, 0xC0});
        break;
      case 8:
        out.push_back(0xB8);
        PutLittleEndian32(out, rng.Below(4) == 0 ? rng.Below(1 << 16) : rng.Below(256));
        break;
      case 9:
        out.insert(out.end(), {0xFF, 0x15});
        PutLittleEndian32(out, 0x2000 + 8 * rng.Below(300));
        break;
      case 10:
        out.insert(out.end(), {0x48, 0x89, static_cast<uint8_t>(0xC1 + rng.Below(6))});
        break;
      default:
        out.insert(out.end(), {0x0F, 0x84});
        PutLittleEndian32(out, 16 + rng.Below(400));
        break;
    }
  }
  out.insert(out.end(), {0x48, 0x83, 0xC4, 0x20, 0x5D, 0xC3});
  while ((out.size() - base) % 16 != 0) out.push_back(0xCC);
}

// Code sections interleaved with string tables (imported and exported names) and address tables,
// as in a program file.
void AppendMachineCode(Rng& rng, std::vector<uint8_t>& out, size_t size) {
  const size_t base = out.size();
  const size_t end = base + size;
  std::vector<uint32_t> functions{0};
  while (out.size() < end) {
    const size_t codeEnd = out.size() + 48 * 1024;
    while (out.size() < codeEnd) AppendFunction(rng, out, functions, base);
    const size_t stringsEnd = out.size() + 6 * 1024;
    while (out.size() < stringsEnd) {
      static const char* const kVerbs[] = {"Get", "Set", "Create", "Delete", "Open", "Close", "Find", "Load"};
      std::string name = kVerbs[rng.Below(8)];
      std::string noun = Words().Pick(rng);
      noun[0] = static_cast<char>(noun[0] - 'a' + 'A');
      name += noun + (rng.Below(2) ? "A" : "W");
      out.insert(out.end(), name.begin(), name.end());
      out.push_back(0);
    }
    uint32_t address = 0x401000 + rng.Below(0x10000);
    for (int i = 0; i < 1536; ++i) {
      address += 4 + 4 * rng.Below(64);
      PutLittleEndian32(out, address);
    }
  }
  out.resize(end);
}

void AppendContent(Rng& rng, ContentKind kind, std::vector<uint8_t>& out, size_t size) {
  switch (kind) {
    case ContentKind::kRandom: AppendRandom(rng, out, size); break;
    case ContentKind::kDeflated: AppendDeflated(rng, out, size); break;
    case ContentKind::kMachineCode: AppendMachineCode(rng, out, size); break;
    case ContentKind::kText: AppendText(rng, out, size); break;
  }
}

uint64_t KindTotal(ContentKind kind) {
  switch (kind) {
    case ContentKind::kRandom: return kRandomTotal;
    case ContentKind::kDeflated: return kDeflatedTotal;
    case ContentKind::kMachineCode: return kMachineCodeTotal;
    case ContentKind::kText: return kTextTotal;
  }
  return 0;
}

constexpr ContentKind kKinds[] = {ContentKind::kRandom, ContentKind::kDeflated, ContentKind::kMachineCode,
                                  ContentKind::kText};

// Splits each kind's total over the files of that kind in proportion to their weights.
void AssignSizes(std::vector<PlannedFile>& plan, const std::vector<uint64_t>& weights) {
  for (ContentKind kind : kKinds) {
    uint64_t weightSum = 0;
    size_t last = plan.size();
    for (size_t i = 0; i < plan.size(); ++i) {
      if (plan[i].kind == kind) { weightSum += weights[i]; last = i; }
    }
    if (last == plan.size()) continue;
    uint64_t assigned = 0;
    for (size_t i = 0; i < plan.size(); ++i) {
      if (plan[i].kind != kind) continue;
      uint64_t size = KindTotal(kind) * weights[i] / weightSum;
      if (i == last) size = KindTotal(kind) - assigned;
      if (size == 0) size = 1;
      plan[i].size = static_cast<uint32_t>(size);
      assigned += size;
    }
  }
}

std::vector<PlannedFile> PlanPackages() {
  std::vector<PlannedFile> plan = {
      {"setup.exe", ContentKind::kMachineCode, 0},
      {"data1.cab", ContentKind::kRandom, 0},
      {"data2.cab", ContentKind::kDeflated, 0},
      {"Program Files\\App\\app.exe", ContentKind::kMachineCode, 0},
      {"Program Files\\App\\manual.chm", ContentKind::kDeflated, 0},
      {"Redist\\runtime.msi", ContentKind::kRandom, 0},
      {"readme.txt", ContentKind::kText, 0},
      {"Program Files\\Docs\\manual.html", ContentKind::kText, 0},
  };
  AssignSizes(plan, {30, 65, 80, 70, 20, 35, 15, 85});
  return plan;
}

std::vector<PlannedFile> PlanTree(uint64_t seed, uint32_t entryCount) {
  static const char* const kTopFolders[] = {"bin", "lib", "res", "docs", "plugins", "locale", "data", "redist"};
  static const char* const kSubFolders[] = {"common", "images", "x64", "en-US", "de-DE", "fonts", "sounds", "help"};
  static const char* const kExtensions[][3] = {
      {".png", ".jpg", ".bin"}, {".zip", ".cab", ".jar"}, {".dll", ".exe", ".sys"}, {".txt", ".xml", ".ini"}};
  Rng rng(SeedFor(seed, 1000 + entryCount));
  std::vector<PlannedFile> plan;
  std::vector<uint64_t> weights;
  for (uint32_t i = 0; i < entryCount; ++i) {
    const uint32_t roll = rng.Below(100);
    const size_t kindIndex = roll < 35 ? 0 : roll < 55 ? 1 : roll < 75 ? 2 : 3;
    // Every kind appears at least once, whatever the rolls.
    const ContentKind kind = i < 4 ? kKinds[i] : kKinds[kindIndex];
    const size_t extensionRow = i < 4 ? i : kindIndex;
    std::string path;
    const uint32_t depth = rng.Below(10);
    if (depth >= 1) path += std::string(kTopFolders[rng.Below(8)]) + "\\";
    if (depth >= 5) path += std::string(kSubFolders[rng.Below(8)]) + "\\";
    char name[32];
    snprintf(name, sizeof name, "file%04u%s", i, kExtensions[extensionRow][rng.Below(3)]);
    plan.push_back({path + name, kind, 0});
    // Sizes spread over about six orders of magnitude, as in a real program tree.
    weights.push_back(static_cast<uint64_t>(1 + rng.Below(1024)) << rng.Below(12));
  }
  AssignSizes(plan, weights);
  return plan;
}

FileTime ToFileTime(uint64_t value) {
  return {static_cast<uint32_t>(value), static_cast<uint32_t>(value >> 32)};
}

}  // namespace

std::vector<PlannedFile> PlanPayload(uint64_t seed, uint32_t entryCount) {
  if (entryCount == 1) return {{"readme.txt", ContentKind::kText, kBaselineSize}};
  if (entryCount == 8) return PlanPackages();
  return PlanTree(seed, entryCount);
}

std::vector<PayloadEntry> GeneratePayload(uint64_t seed, const std::vector<PlannedFile>& plan) {
  std::vector<PayloadEntry> entries;
  entries.reserve(plan.size());
  for (size_t i = 0; i < plan.size(); ++i) {
    Rng rng(SeedFor(seed, i));
    PayloadEntry entry;
    entry.relativePath = plan[i].relativePath;
    // Times in 2021 to 2023, whole seconds (the host file system keeps them exactly), in the order
    // creation, last write, last access.
    const uint64_t secondsTo2021 = 13253932800ull;
    const uint64_t created = (secondsTo2021 + rng.Below(2 * 365 * 86400)) * 10000000ull;
    const uint64_t written = created + uint64_t{rng.Below(180 * 86400)} * 10000000ull;
    const uint64_t accessed = written + uint64_t{rng.Below(30 * 86400)} * 10000000ull;
    entry.creationTime = ToFileTime(created);
    entry.lastWriteTime = ToFileTime(written);
    entry.lastAccessTime = ToFileTime(accessed);
    entry.contents.reserve(plan[i].size);
    AppendContent(rng, plan[i].kind, entry.contents, plan[i].size);
    entries.push_back(std::move(entry));
  }
  return entries;
}
