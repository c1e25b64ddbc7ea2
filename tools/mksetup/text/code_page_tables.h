// The Windows ANSI code pages that the packer writes names in, as tables generated at build time
// from Microsoft's mappings: what each byte and each two-byte pair stands for.
#pragma once

#include <cstddef>
#include <cstdint>

// A byte or a pair that stands for no character.
constexpr uint16_t kNoCharacter = 0xFFFF;

struct CodePageTable {
  unsigned number;
  const char* name;
  const uint16_t* single;  // 256 code points, one per byte alone
  const uint8_t* row;      // 256: 0 for a byte that opens no pair, else its row + 1 in `pairs`
  const uint16_t* pairs;   // 256 code points per lead byte, indexed by the second byte
};

extern const CodePageTable kCodePageTables[];
extern const size_t kCodePageTableCount;

// Every letter of these code pages whose upper case differs, with it, sorted by the letter.
extern const uint16_t (*const kUpperCase)[2];
extern const size_t kUpperCaseCount;
