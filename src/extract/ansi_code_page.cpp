#include "extract/ansi_code_page.h"

#include <windows.h>

LeadBytes AnsiCodePageLeadBytes() {
  LeadBytes leadBytes = kSingleByteCodePage;
  CPINFO info;
  if (!GetCPInfo(CP_ACP, &info)) return leadBytes;
  // LeadByte holds inclusive ranges in pairs, ended by a pair of zeros.
  for (int i = 0; i + 1 < MAX_LEADBYTES && info.LeadByte[i] != 0; i += 2) {
    for (unsigned byte = info.LeadByte[i]; byte <= info.LeadByte[i + 1]; ++byte) leadBytes.opensPair[byte] = true;
  }
  return leadBytes;
}
