// The fuzz targets' own assertion: a broken invariant aborts at once, under libFuzzer (which then
// keeps the input) and in the corpus replay (which names the file it was replaying).
#pragma once

#include <cstdio>
#include <cstdlib>

// Set by the replay to the path of the input being run; null under libFuzzer.
inline const char* g_fuzzInputName = nullptr;

[[noreturn]] inline void FuzzCheckFailed(const char* condition, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: fuzz check failed: %s\n", file, line, condition);
  if (g_fuzzInputName != nullptr) std::fprintf(stderr, "input: %s\n", g_fuzzInputName);
  std::abort();
}

#define FUZZ_CHECK(condition) \
  ((condition) ? static_cast<void>(0) : FuzzCheckFailed(#condition, __FILE__, __LINE__))
