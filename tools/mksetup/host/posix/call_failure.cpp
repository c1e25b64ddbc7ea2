#include "host/posix/call_failure.h"

#include <cerrno>

namespace {

thread_local int g_errorNumber = 0;
thread_local CallFailure g_failure = CallFailure::kOther;

CallFailure KindOf(int error) {
  switch (error) {
    case ENOENT:
      return CallFailure::kNotFound;
    case EEXIST:
      return CallFailure::kExists;
    case ELOOP:
      return CallFailure::kLoop;
    default:
      return CallFailure::kOther;
  }
}

}  // namespace

bool NoteFailure() { return NoteFailure(KindOf(errno)); }

bool NoteFailure(CallFailure kind) {
  g_errorNumber = errno;
  g_failure = kind;
  return false;
}

int LastErrorNumber() { return g_errorNumber; }

CallFailure LastFailure() { return g_failure; }
