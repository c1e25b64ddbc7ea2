// What makes a program a setup program of ours, shared by the stub and the packer: where it keeps
// its payload, the folders it works in below the temporary directory, and its exit code.
#pragma once

#include <cstdint>

// The payload resource: a named type, an integer name, US English.
constexpr char kPayloadResourceType[] = "SETUP";
constexpr uint16_t kPayloadResourceId = 2000;
constexpr uint16_t kPayloadLanguage = 1033;

// The folders below the temporary directory, each followed by a backslash there: the extraction
// folder receives the files and stays; the work folder holds one run's temporary files.
constexpr char kExtractionFolderName[] = "{93BE7657-D655-425A-8E7A-F7D9392A5939}";
constexpr char kWorkFolderName[] = "{5A659A68-DCC7-42FC-8677-554E990BC882}";

// Every run that got as far as the progress dialog ends with this code, whatever its outcome.
constexpr int kSetupExitCode = 18;
