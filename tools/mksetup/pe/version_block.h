// A program's version block (VS_VERSIONINFO) as a tree of keyed nodes, read and written again byte
// for byte, and the edits of `--version`: one string in every string table, and the fixed numbers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One node: a key, a value that is UTF-16 text or bytes, and the nodes it holds.
struct VersionNode {
  std::u16string key;
  bool isText = false;       // wType 1
  uint16_t valueLength = 0;  // as stored: characters with the terminator for text, else bytes
  std::vector<uint8_t> value;
  std::vector<VersionNode> children;
};

struct VersionString {
  std::u16string key;
  std::u16string value;
};

// VS_FIXEDFILEINFO, the root's value: where its numbers sit.
constexpr uint32_t kFixedInfoSignature = 0xFEEF04BD;
constexpr uint64_t kFixedInfoSize = 52;
constexpr uint64_t kFixedSignatureOffset = 0;
constexpr uint64_t kFixedFileVersionOffset = 8;      // most significant half, then least
constexpr uint64_t kFixedProductVersionOffset = 16;

// Reads a whole block. Throws PeError when it is not a VS_VERSION_INFO with its fixed part, or a
// node's length, key or value runs past the node that holds it.
VersionNode ReadVersionBlock(const std::vector<uint8_t>& block);

// The bytes of a block: each node's header, key and value, with every value and child on a 4-byte
// boundary, as resource compilers lay it out. Throws PeError for a block longer than 65535 bytes.
std::vector<uint8_t> WriteVersionBlock(const VersionNode& root);

// The block of a program that has none: the fixed part of a Windows application, version 0.0.0.0.
VersionNode NewVersionBlock();

// Sets `string` in every string table, replacing the value of its key or adding it at the end; a
// block without tables gets one for US English, Unicode ("040904b0"), and its translation. A
// FileVersion or ProductVersion of four numbers a.b.c.d also sets the fixed part's version.
void SetVersionString(VersionNode& root, const VersionString& string);

// Reads "a.b.c.d", four decimal numbers of 0 to 65535, as the fixed part stores it.
bool ParseFourPartVersion(const std::u16string& text, uint32_t& mostSignificant, uint32_t& leastSignificant);
