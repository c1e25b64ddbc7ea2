// GoogleTest's port settings for a C++ runtime without std::mutex (mingw's win32 thread model, the
// shipped flavour's): the start signal GoogleTest gives its own threads, kept on a Win32 event.
#ifndef SETUP_TESTS_WIN32_THREAD_MODEL_GTEST_PORT_H_
#define SETUP_TESTS_WIN32_THREAD_MODEL_GTEST_PORT_H_

// GoogleTest would otherwise define its Notification on std::mutex and std::condition_variable.
#define GTEST_HAS_NOTIFICATION_ 1

namespace testing {
namespace internal {

class Notification {
 public:
  Notification();
  ~Notification();
  Notification(const Notification&) = delete;
  Notification& operator=(const Notification&) = delete;

  void Notify();
  void WaitForNotification();

 private:
  void* event_;  // a manual-reset event; void* keeps <windows.h> out of every test source
};

}  // namespace internal
}  // namespace testing

#endif  // SETUP_TESTS_WIN32_THREAD_MODEL_GTEST_PORT_H_
