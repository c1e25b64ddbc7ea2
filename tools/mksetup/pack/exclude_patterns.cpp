#include "pack/exclude_patterns.h"

namespace {

// The end of the set that begins at `open` (the '['), or npos when it is never closed. A ']'
// right after the '[' or the '!' belongs to the set.
size_t SetEnd(const std::string& pattern, size_t open) {
  size_t at = open + 1;
  if (at < pattern.size() && (pattern[at] == '!' || pattern[at] == '^')) ++at;
  if (at < pattern.size() && pattern[at] == ']') ++at;
  return pattern.find(']', at);
}

bool InSet(const std::string& pattern, size_t open, size_t close, char c) {
  size_t at = open + 1;
  const bool negated = pattern[at] == '!' || pattern[at] == '^';
  if (negated) ++at;
  bool found = false;
  for (; at < close; ++at) {
    const bool range = at + 2 < close && pattern[at + 1] == '-';
    if (range) {
      found = found || (c >= pattern[at] && c <= pattern[at + 2]);
      at += 2;
    } else {
      found = found || c == pattern[at];
    }
  }
  return found != negated;
}

bool MatchFrom(const std::string& pattern, size_t p, const std::string& text, size_t t) {
  while (p < pattern.size()) {
    if (pattern[p] == '*') {
      const bool acrossFolders = p + 1 < pattern.size() && pattern[p + 1] == '*';
      while (p < pattern.size() && pattern[p] == '*') ++p;
      // "**/" also stands for no folder at all, so "a/**/b" matches "a/b".
      if (acrossFolders && p < pattern.size() && pattern[p] == '/' && MatchFrom(pattern, p + 1, text, t)) return true;
      for (size_t rest = t;; ++rest) {
        if (MatchFrom(pattern, p, text, rest)) return true;
        if (rest == text.size() || (!acrossFolders && text[rest] == '/')) return false;
      }
    }
    if (t == text.size()) return false;
    if (pattern[p] == '?') {
      if (text[t] == '/') return false;
      ++p;
      ++t;
      continue;
    }
    if (pattern[p] == '[') {
      const size_t close = SetEnd(pattern, p);
      if (close != std::string::npos) {
        if (text[t] == '/' || !InSet(pattern, p, close, text[t])) return false;
        p = close + 1;
        ++t;
        continue;
      }
    }
    if (pattern[p] != text[t]) return false;
    ++p;
    ++t;
  }
  return t == text.size();
}

std::string WithSlashes(std::string path) {
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  return path;
}

}  // namespace

bool MatchesGlob(const std::string& pattern, const std::string& text) { return MatchFrom(pattern, 0, text, 0); }

ExcludePatterns::ExcludePatterns(const std::vector<std::string>& patterns) {
  for (const std::string& typed : patterns) {
    std::string glob = WithSlashes(typed);
    const bool foldersOnly = !glob.empty() && glob.back() == '/';
    while (!glob.empty() && glob.back() == '/') glob.pop_back();
    const bool anchored = glob.find('/') != std::string::npos;
    while (!glob.empty() && glob.front() == '/') glob.erase(0, 1);
    if (glob.empty()) throw PatternError("--exclude '" + typed + "' matches nothing; give a name or a path");
    for (size_t at = glob.find('['); at != std::string::npos; at = glob.find('[', at + 1)) {
      if (SetEnd(glob, at) == std::string::npos) {
        throw PatternError("--exclude '" + typed + "' has a '[' without its ']'");
      }
      at = SetEnd(glob, at);
    }
    patterns_.push_back(Pattern{glob, anchored, foldersOnly});
  }
}

bool ExcludePatterns::Excludes(const std::string& relative, bool isFolder) const {
  const std::string path = WithSlashes(relative);
  const size_t slash = path.rfind('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  for (const Pattern& pattern : patterns_) {
    if (pattern.foldersOnly && !isFolder) continue;
    if (MatchesGlob(pattern.glob, pattern.anchored ? path : name)) return true;
  }
  return false;
}
