#include "pe/version_block.h"

#include <algorithm>

#include "pe/pe_layout.h"

namespace {

using namespace pe;

// Every node: wLength, wValueLength, wType, then the key as UTF-16 up to its terminator.
constexpr uint64_t kNodeLengthOffset = 0;
constexpr uint64_t kNodeValueLengthOffset = 2;
constexpr uint64_t kNodeTypeOffset = 4;
constexpr uint64_t kNodeHeaderSize = 6;
constexpr uint16_t kTextType = 1;
constexpr uint64_t kNodeAlignment = 4;
constexpr uint64_t kMaxBlockSize = 0xFFFF;
// The root, StringFileInfo, a table, a string: no block of a resource compiler goes deeper.
constexpr int kMaxDepth = 8;

const char16_t kRootKey[] = u"VS_VERSION_INFO";
const char16_t kStringFileInfoKey[] = u"StringFileInfo";
const char16_t kVarFileInfoKey[] = u"VarFileInfo";
const char16_t kTranslationKey[] = u"Translation";
// US English in Unicode: the table name and its translation, language then code page.
const char16_t kDefaultTableKey[] = u"040904b0";
constexpr uint16_t kEnglishUs = 0x0409;
constexpr uint16_t kUnicodeCodePage = 0x04B0;

// The fixed part of a new block: flags mask, OS and file type of a 32-bit Windows application.
constexpr uint64_t kFixedStructVersionOffset = 4;
constexpr uint64_t kFixedFlagsMaskOffset = 24;
constexpr uint64_t kFixedOsOffset = 32;
constexpr uint64_t kFixedTypeOffset = 36;
constexpr uint32_t kFixedStructVersion = 0x10000;
constexpr uint32_t kAllFileFlags = 0x3F;
constexpr uint32_t kWindowsNt32 = 0x40004;  // VOS_NT_WINDOWS32
constexpr uint32_t kApplication = 1;         // VFT_APP

const char kDamaged[] = "the version block is damaged: ";

VersionNode ReadNode(const std::vector<uint8_t>& block, uint64_t at, uint64_t limit, int depth) {
  Require(depth < kMaxDepth, std::string(kDamaged) + "its nodes are nested too deep");
  Require(Fits(at, kNodeHeaderSize, limit), std::string(kDamaged) + "a node runs past the one that holds it");
  const uint64_t end = at + Read16(block, at + kNodeLengthOffset);
  Require(end >= at + kNodeHeaderSize && end <= limit, std::string(kDamaged) + "a node's length runs past the one that holds it");
  VersionNode node;
  node.valueLength = Read16(block, at + kNodeValueLengthOffset);
  node.isText = Read16(block, at + kNodeTypeOffset) == kTextType;
  uint64_t cursor = at + kNodeHeaderSize;
  for (;; cursor += 2) {
    Require(cursor + 2 <= end, std::string(kDamaged) + "a key has no terminator");
    const uint16_t unit = Read16(block, cursor);
    if (unit == 0) break;
    node.key += static_cast<char16_t>(unit);
  }
  cursor = AlignUp(cursor + 2, kNodeAlignment);
  const uint64_t valueBytes = node.isText ? 2ull * node.valueLength : node.valueLength;
  if (valueBytes != 0) {
    Require(Fits(cursor, valueBytes, end), std::string(kDamaged) + "a value runs past its node");
    node.value.assign(block.begin() + cursor, block.begin() + cursor + valueBytes);
    cursor = AlignUp(cursor + valueBytes, kNodeAlignment);
  }
  while (cursor < end) {
    node.children.push_back(ReadNode(block, cursor, end, depth + 1));
    cursor = AlignUp(cursor + Read16(block, cursor + kNodeLengthOffset), kNodeAlignment);
  }
  return node;
}

void PadTo4(std::vector<uint8_t>& out) { out.resize(AlignUp(out.size(), kNodeAlignment), 0); }

void Append16(std::vector<uint8_t>& out, uint16_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

void WriteNode(std::vector<uint8_t>& out, const VersionNode& node) {
  const uint64_t start = out.size();
  out.resize(start + kNodeHeaderSize, 0);
  for (char16_t unit : node.key) Append16(out, unit);
  Append16(out, 0);
  if (!node.value.empty() || !node.children.empty()) PadTo4(out);
  out.insert(out.end(), node.value.begin(), node.value.end());
  for (const VersionNode& child : node.children) {
    PadTo4(out);
    WriteNode(out, child);
  }
  Require(out.size() - start <= kMaxBlockSize, "the version block would be longer than 65535 bytes");
  Write16(out, start + kNodeLengthOffset, static_cast<uint16_t>(out.size() - start));
  Write16(out, start + kNodeValueLengthOffset, node.valueLength);
  Write16(out, start + kNodeTypeOffset, node.isText ? kTextType : 0);
}

VersionNode TextNode(const std::u16string& key, const std::u16string& text) {
  VersionNode node;
  node.key = key;
  node.isText = true;
  for (char16_t unit : text) Append16(node.value, unit);
  Append16(node.value, 0);
  node.valueLength = static_cast<uint16_t>(std::min<size_t>(text.size() + 1, kMaxBlockSize));
  return node;
}

VersionNode ContainerNode(const std::u16string& key) {
  VersionNode node;
  node.key = key;
  node.isText = true;
  return node;
}

VersionNode* Child(VersionNode& parent, const std::u16string& key) {
  for (VersionNode& child : parent.children) {
    if (child.key == key) return &child;
  }
  return nullptr;
}

// The translation that goes with a new US English table.
void AddDefaultTranslation(VersionNode& root) {
  VersionNode* variables = Child(root, kVarFileInfoKey);
  if (variables == nullptr) {
    root.children.push_back(ContainerNode(kVarFileInfoKey));
    variables = &root.children.back();
  }
  if (Child(*variables, kTranslationKey) != nullptr) return;
  VersionNode translation;
  translation.key = kTranslationKey;
  Append16(translation.value, kEnglishUs);
  Append16(translation.value, kUnicodeCodePage);
  translation.valueLength = static_cast<uint16_t>(translation.value.size());
  variables->children.push_back(translation);
}

// The string tables, made when there are none. StringFileInfo goes first, as compilers put it.
std::vector<VersionNode>& StringTables(VersionNode& root) {
  VersionNode* strings = Child(root, kStringFileInfoKey);
  if (strings == nullptr) {
    root.children.insert(root.children.begin(), ContainerNode(kStringFileInfoKey));
    strings = &root.children.front();
  }
  if (strings->children.empty()) {
    strings->children.push_back(ContainerNode(kDefaultTableKey));
    AddDefaultTranslation(root);
    strings = Child(root, kStringFileInfoKey);
  }
  return strings->children;
}

void SetFixedVersion(VersionNode& root, uint64_t offset, const std::u16string& text) {
  uint32_t mostSignificant = 0;
  uint32_t leastSignificant = 0;
  if (!ParseFourPartVersion(text, mostSignificant, leastSignificant)) return;
  Write32(root.value, offset, mostSignificant);
  Write32(root.value, offset + 4, leastSignificant);
}

bool ParseVersionNumber(const std::u16string& text, size_t& at, uint32_t& number) {
  const size_t start = at;
  number = 0;
  while (at < text.size() && text[at] >= u'0' && text[at] <= u'9' && at - start < 5) {
    number = number * 10 + (text[at] - u'0');
    ++at;
  }
  return at > start && number <= 0xFFFF && (at == text.size() || text[at] == u'.');
}

}  // namespace

VersionNode ReadVersionBlock(const std::vector<uint8_t>& block) {
  VersionNode root = ReadNode(block, 0, block.size(), 0);
  Require(root.key == kRootKey, std::string(kDamaged) + "it does not begin with VS_VERSION_INFO");
  Require(root.value.size() == kFixedInfoSize && Read32(root.value, kFixedSignatureOffset) == kFixedInfoSignature,
          std::string(kDamaged) + "its fixed part is missing");
  return root;
}

std::vector<uint8_t> WriteVersionBlock(const VersionNode& root) {
  std::vector<uint8_t> out;
  WriteNode(out, root);
  return out;
}

VersionNode NewVersionBlock() {
  VersionNode root;
  root.key = kRootKey;
  root.value.assign(kFixedInfoSize, 0);
  root.valueLength = static_cast<uint16_t>(kFixedInfoSize);
  Write32(root.value, kFixedSignatureOffset, kFixedInfoSignature);
  Write32(root.value, kFixedStructVersionOffset, kFixedStructVersion);
  Write32(root.value, kFixedFlagsMaskOffset, kAllFileFlags);
  Write32(root.value, kFixedOsOffset, kWindowsNt32);
  Write32(root.value, kFixedTypeOffset, kApplication);
  return root;
}

void SetVersionString(VersionNode& root, const VersionString& string) {
  for (VersionNode& table : StringTables(root)) {
    VersionNode* existing = Child(table, string.key);
    if (existing != nullptr) {
      *existing = TextNode(string.key, string.value);
    } else {
      table.children.push_back(TextNode(string.key, string.value));
    }
  }
  if (string.key == u"FileVersion") SetFixedVersion(root, kFixedFileVersionOffset, string.value);
  if (string.key == u"ProductVersion") SetFixedVersion(root, kFixedProductVersionOffset, string.value);
}

bool ParseFourPartVersion(const std::u16string& text, uint32_t& mostSignificant, uint32_t& leastSignificant) {
  uint32_t parts[4];
  size_t at = 0;
  for (int i = 0; i < 4; ++i) {
    if (i > 0 && (at >= text.size() || text[at++] != u'.')) return false;
    if (!ParseVersionNumber(text, at, parts[i])) return false;
  }
  if (at != text.size()) return false;
  mostSignificant = parts[0] << 16 | parts[1];
  leastSignificant = parts[2] << 16 | parts[3];
  return true;
}
