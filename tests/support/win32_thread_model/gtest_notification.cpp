// GoogleTest's Notification on a manual-reset Win32 event, for runtimes without std::mutex.
#include <gtest/internal/custom/gtest-port.h>

#include <windows.h>

#include <cstdlib>

namespace testing {
namespace internal {

// GoogleTest has no way to report a failure here; a test run without its start signal would hang.
Notification::Notification() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  if (event_ == nullptr) std::abort();
}

Notification::~Notification() { CloseHandle(event_); }

void Notification::Notify() { SetEvent(event_); }

void Notification::WaitForNotification() { WaitForSingleObject(event_, INFINITE); }

}  // namespace internal
}  // namespace testing
