#include "host/win32/call_failure.h"

#include <string>

namespace {

thread_local DWORD g_errorCode = 0;
thread_local CallFailure g_failure = CallFailure::kOther;

CallFailure KindOf(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return CallFailure::kNotFound;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return CallFailure::kExists;
    case ERROR_CANT_RESOLVE_FILENAME:
      return CallFailure::kLoop;
    default:
      return CallFailure::kOther;
  }
}

}  // namespace

bool NoteFailure() {
  const DWORD code = GetLastError();
  return NoteFailure(code, KindOf(code));
}

bool NoteFailure(CallFailure kind) { return NoteFailure(GetLastError(), kind); }

bool NoteFailure(DWORD code, CallFailure kind) {
  g_errorCode = code;
  g_failure = kind;
  return false;
}

CallFailure LastFailure() { return g_failure; }

std::string LastErrorText() {
  char* text = nullptr;
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                          FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, g_errorCode, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string result = length > 0 ? std::string(text, length) : "error " + std::to_string(g_errorCode);
  if (text) LocalFree(text);
  while (!result.empty() && (result.back() == '\r' || result.back() == '\n' || result.back() == '.' ||
                             result.back() == ' ')) {
    result.pop_back();
  }
  return result;
}
