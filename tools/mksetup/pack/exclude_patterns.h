// The --exclude patterns: shell-style wildcards matched against a path relative to the packed
// folder, with '/' between folders, deciding which files and folders the walk never enters.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

// A pattern that cannot be used: empty, or a '[' without its ']'.
class PatternError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// '*' matches any run of characters within one name, '**' any run across folders too, '?' one
// character, '[abc]', '[a-z]' and '[!abc]' one character of (or not of) a set. Nothing but '**'
// matches a '/'. Letters match in their case only.
bool MatchesGlob(const std::string& pattern, const std::string& text);

class ExcludePatterns {
 public:
  // Each pattern, with '\' taken for '/': one without a '/' matches a file or folder of that name
  // at any depth; one with a '/' inside matches the whole path from the top of the folder (a
  // leading '/' changes nothing); one that ends in '/' matches folders only, with everything
  // below them. Throws PatternError naming a pattern that cannot be used.
  explicit ExcludePatterns(const std::vector<std::string>& patterns);

  // Whether `relative` ('/' or '\' between folders) is left out.
  bool Excludes(const std::string& relative, bool isFolder) const;

 private:
  struct Pattern {
    std::string glob;
    bool anchored;
    bool foldersOnly;
  };
  std::vector<Pattern> patterns_;
};
