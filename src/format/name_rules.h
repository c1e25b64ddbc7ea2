// The rules that keep a payload's names below the extraction folder: separators, the characters
// Windows forbids, reserved device names and components that Windows resolves to the parent.
#pragma once

#include <cstdint>

// Which bytes open a two-byte character in the ANSI code page that names are read in. A
// single-byte code page has none, and then every byte is a character of its own. On a double-byte
// code page the second byte may be 0x5C or 0x7C, and is then part of a letter, not '\\' or '|'.
struct LeadBytes {
  bool opensPair[256];
};
extern const LeadBytes kSingleByteCodePage;

// Where the character after the one at `at` begins: two bytes on for a lead byte, else one. A
// lead byte at the end of the name counts alone.
uint32_t NextCharacter(const char* name, uint32_t length, uint32_t at, const LeadBytes& leadBytes);

// Where the last character of a non-empty name begins: on a double-byte code page the last byte
// may be the second half of a letter, found only by reading from the start.
uint32_t LastCharacterStart(const char* name, uint32_t length, const LeadBytes& leadBytes);

// The position of the first backslash at or after `from` that is a character of its own, or
// `length` when there is none.
uint32_t FindBackslash(const char* name, uint32_t length, uint32_t from, const LeadBytes& leadBytes);

// Windows file calls take the forward slash as a separator too, so both split components.
bool IsNameSeparator(char c);

// Characters that no Windows file name may hold; the colon also stands for drives and streams.
bool IsForbiddenNameCharacter(unsigned char c);

// A component made only of dots and spaces, with at least two dots: Windows drops trailing dots
// and spaces, so "...", ".. " and ". ." all end up as "..". A lone "." stays harmless.
bool CouldResolveToParent(const char* component, uint32_t length);

// CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0-9 and LPT0-9 in any case, whatever follows them after a
// dot and whatever trailing spaces they carry: "con.txt", "NUL .log" and "aux." all open a device.
bool IsReservedDeviceName(const char* component, uint32_t length);

// A relativePath or launchName that stays below the extraction directory: not empty, no drive or
// other colon, no leading or trailing separator, no component that Windows resolves to the parent,
// no reserved device name, no character that Windows forbids in file names, read character by
// character in the code page of `leadBytes`. No double-byte code page has a second byte below
// 0x40, so a lead byte before such a byte, or at the very end, is no character at all and the name
// is refused. `name` holds `length` bytes without the NUL.
bool IsContainedRelativePath(const char* name, uint32_t length, const LeadBytes& leadBytes);
