#include "extract/payload_resource.h"

#include "format/setup_identity.h"

bool FindPayloadResource(HMODULE module, PayloadBytes* payload) {
  payload->data = nullptr;
  payload->size = 0;
  HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(kPayloadResourceId), kPayloadResourceType);
  if (resource == nullptr) return false;
  const DWORD size = SizeofResource(module, resource);
  HGLOBAL loaded = LoadResource(module, resource);
  if (loaded == nullptr || size == 0) return false;
  // Resource data is never unlocked or freed: it belongs to the module.
  const void* data = LockResource(loaded);
  if (data == nullptr) return false;
  payload->data = static_cast<const uint8_t*>(data);
  payload->size = size;
  return true;
}
