// How the POSIX calls record their failures for LastFailure and LastErrorText: errno, kept apart
// from later calls that may change it, and the failure's kind where a call knows it better than
// errno says.
#pragma once

#include "host/file_calls.h"

// Records errno, with its usual kind or the one given; returns false for the caller to pass on.
bool NoteFailure();
bool NoteFailure(CallFailure kind);
int LastErrorNumber();
