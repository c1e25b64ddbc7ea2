// Byte patches shared by the format tests, for damaging a merge data file after the producer has
// written it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "format/merge_format.h"
#include "format/payload_writer.h"
#include "payload_entries.h"

inline uint32_t RecordOffset(uint32_t index) { return 264 + 296 * index; }

inline void Patch32(std::vector<uint8_t>& file, uint32_t offset, uint32_t value) {
  WriteLittleEndian32(&file[offset], value);
}
