// How the Windows calls record their failures for LastFailure and LastErrorText: GetLastError,
// kept apart from later calls that may change it, and the failure's kind where a call knows it
// better than the code says.
#pragma once

#include <windows.h>

#include "host/file_calls.h"

// Records GetLastError, with its usual kind or the one given; returns false for the caller to
// pass on.
bool NoteFailure();
bool NoteFailure(CallFailure kind);
bool NoteFailure(DWORD code, CallFailure kind);
