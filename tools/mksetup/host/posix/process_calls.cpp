#include "host/process_calls.h"

#include <unistd.h>

std::string ExecutableFolder() {
  char buffer[4096];
  const ssize_t length = readlink("/proc/self/exe", buffer, sizeof(buffer));
  if (length <= 0 || static_cast<size_t>(length) >= sizeof(buffer)) return std::string();
  std::string path(buffer, static_cast<size_t>(length));
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::vector<std::string> ProgramArguments(int argc, char** argv) { return std::vector<std::string>(argv + 1, argv + argc); }

bool StderrIsTerminal() { return isatty(STDERR_FILENO) != 0; }

unsigned long ProcessId() { return static_cast<unsigned long>(getpid()); }

bool DecodeAnsiName(const std::string&, std::string&) { return false; }

bool NamesFoldCase() { return false; }
