// The rules that keep a payload's names below the extraction folder: separators, the characters
// Windows forbids, reserved device names and components that Windows resolves to the parent.
#pragma once

#include <cstdint>

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
// no reserved device name, no character that Windows forbids in file names. `name` holds `length`
// bytes without the NUL.
bool IsContainedRelativePath(const char* name, uint32_t length);
