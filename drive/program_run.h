// Starting a Windows program and collecting its exit code: the one place where the tests, the
// session driver, the demo's runner and the benchmark's launcher create processes.
#pragma once

#include <windows.h>

#include <string>
#include <utility>

// How a program is started beyond its name; the defaults inherit everything from this process.
struct ProgramStart {
  ProgramStart() = default;
  explicit ProgramStart(std::string commandArguments) : arguments(std::move(commandArguments)) {}

  std::string arguments;   // follow the quoted program name on the command line
  std::wstring temp;       // when set, the program's TMP and TEMP; the rest of the environment is ours
  std::string folder;      // its current folder; ours when empty
  WORD showCommand = 0;    // the show command it finds in its start-up information, when not 0
  bool suspended = false;  // its first thread waits for Resume()
};

// What GetExitCodeProcess cannot answer: the program did not start, or had not ended.
constexpr DWORD kNoExitCode = 0xFFFFFFFF;

// One started program. A program still running when this goes is terminated first.
class Program {
 public:
  Program() = default;
  ~Program();
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  // False when CreateProcess refuses; startError() then says why.
  bool Start(const std::string& program, const ProgramStart& how = {});
  DWORD startError() const { return startError_; }

  HANDLE process() const { return process_.hProcess; }
  DWORD processId() const { return process_.dwProcessId; }
  DWORD mainThreadId() const { return process_.dwThreadId; }
  // Lets the first thread of a program started suspended run.
  void Resume() const;

  // How many threads the program runs now.
  int ThreadCount() const;

  // True once the program has ended, waiting at most `limitMs` for it.
  bool WaitForEnd(DWORD limitMs) const;
  // Ends the program and waits until it has gone.
  void Terminate();
  // Its exit code once it has ended; kNoExitCode before.
  DWORD ExitCode() const;

 private:
  PROCESS_INFORMATION process_ = {};
  DWORD startError_ = 0;
};

// `text` in the ANSI code page, in wide characters.
std::wstring Widen(const std::string& text);

// Runs `program` to its end: its exit code, or kNoExitCode when it did not start or was still
// running after `limitMs` (it is then terminated).
DWORD RunToEnd(const std::string& program, const ProgramStart& how, DWORD limitMs);
