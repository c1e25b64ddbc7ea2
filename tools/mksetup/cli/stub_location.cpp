#include "cli/stub_location.h"

#include <vector>

#include "host/file_calls.h"
#include "host/process_calls.h"
#include "tool_error.h"

namespace {

// An installed mksetup finds its stubs in PREFIX/share/mksetup beside PREFIX/bin; the Windows
// build trees place their stub beside the packer instead.
const char kSharedFolderName[] = "share";
const char kPackageFolderName[] = "mksetup";
const char kInstalledStubName[] = "setup.exe";
const char kBesideStubName[] = "setup-stub.exe";

// PREFIX/share/mksetup/setup.exe for a program in PREFIX/bin/, written with the folder's own
// separator; empty when the folder has no parent.
std::string InstalledStubPath(const std::string& programFolder) {
  if (programFolder.size() < 2) return std::string();
  const char separator = programFolder.back();
  const size_t parentEnd = programFolder.find_last_of("/\\", programFolder.size() - 2);
  if (parentEnd == std::string::npos) return std::string();
  return programFolder.substr(0, parentEnd + 1) + kSharedFolderName + separator + kPackageFolderName + separator +
         kInstalledStubName;
}

std::vector<std::string> DefaultStubCandidates() {
  const std::string folder = ExecutableFolder();
  std::vector<std::string> candidates;
  const std::string installed = InstalledStubPath(folder);
  if (!installed.empty()) candidates.push_back(installed);
  if (!folder.empty()) candidates.push_back(folder + kBesideStubName);
#ifdef MKSETUP_BUILD_TREE_STUB
  candidates.push_back(MKSETUP_BUILD_TREE_STUB);
#endif
  return candidates;
}

}  // namespace

std::string FindDefaultStub() {
  const std::vector<std::string> candidates = DefaultStubCandidates();
  for (const std::string& candidate : candidates) {
    if (IsRegularFile(candidate)) return candidate;
  }
  if (candidates.empty()) {
    throw ToolError("mksetup", "cannot tell its own folder, so it has no setup stub; name one with --stub STUB.exe");
  }
  std::string elsewhere;
  for (size_t i = 1; i < candidates.size(); ++i) elsewhere += ", nor at " + candidates[i];
  throw ToolError(candidates[0], "no setup stub here" + elsewhere + "; name one with --stub STUB.exe");
}
