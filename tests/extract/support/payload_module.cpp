#include "payload_module.h"

#include <gtest/gtest.h>

#include "extract/progress_link.h"
#include "format/setup_identity.h"

namespace {

constexpr char kHostProgram[] = "launch_probe.exe";

}  // namespace

std::string BesideTestProgram(const std::string& name) {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, sizeof(path));
  std::string folder(path);
  folder.resize(folder.find_last_of('\\') + 1);
  return folder + name;
}

PayloadModule::PayloadModule(const std::string& folder, const std::vector<uint8_t>& payload, bool withResource)
    : path_(folder + "\\payload_host.exe"), savedModule_(AttachedPayloadModule()) {
  if (!CopyFileA(BesideTestProgram(kHostProgram).c_str(), path_.c_str(), FALSE)) {
    ADD_FAILURE() << "cannot copy the host program: " << GetLastError();
    return;
  }
  if (withResource) {
    HANDLE update = BeginUpdateResourceA(path_.c_str(), FALSE);
    if (update == nullptr) {
      ADD_FAILURE() << "BeginUpdateResourceA failed: " << GetLastError();
      return;
    }
    const BOOL added = UpdateResourceA(update, kPayloadResourceType, MAKEINTRESOURCEA(kPayloadResourceId), kPayloadLanguage,
                                       const_cast<uint8_t*>(payload.data()), static_cast<DWORD>(payload.size()));
    if (!EndUpdateResourceA(update, !added) || !added) {
      ADD_FAILURE() << "adding the payload resource failed: " << GetLastError();
      return;
    }
  }
  module_ = LoadLibraryExA(path_.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module_ == nullptr) {
    ADD_FAILURE() << "LoadLibraryExA failed: " << GetLastError();
    return;
  }
  AttachPayloadModule(module_);
}

PayloadModule::~PayloadModule() {
  AttachPayloadModule(savedModule_);
  if (module_ != nullptr) FreeLibrary(module_);
  DeleteFileA(path_.c_str());
}
