// The payload resource: the zlib stream that the program carries as its resource "SETUP" / 2000,
// found in a module and handed out as read-only bytes that stay valid while the module is loaded.
#pragma once

#include <windows.h>

#include <cstdint>

struct PayloadBytes {
  const uint8_t* data;
  uint32_t size;
};

// False when the module has no such resource, it cannot be loaded, or it is empty.
bool FindPayloadResource(HMODULE module, PayloadBytes* payload);
