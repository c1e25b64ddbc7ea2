// The system's ANSI code page as the unpacking sees it: which bytes open a two-byte character in
// the names that CreateFileA, CreateDirectoryA and DeleteFileA read.
#pragma once

#include "format/name_rules.h"

// Taken from GetCPInfo(CP_ACP). A system whose code page cannot be asked is taken for a
// single-byte one, as every byte then stands for itself.
LeadBytes AnsiCodePageLeadBytes();
