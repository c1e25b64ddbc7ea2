// Where an extraction's entries go, one by one: the host's folder, where nothing already there is
// ever written through, or memory; and how the host spells and compares the entries' names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/folder_calls.h"
#include "payload/payload_source.h"

// An entry as the host names it: its folders and its file name, already in the host's encoding.
struct PlannedEntry {
  std::vector<std::string> folders;
  std::string fileName;
  std::string shownPath;  // the folder joined with the entry, for messages
};

// Why the host cannot spell `name` although the setup program would take it; empty when it can.
// Where the host has no ANSI code page, names are read in code page 1252, which leaves five byte
// values undefined.
std::string LocalSpellingProblem(const std::string& name);

// One component of a stored name, read in the host's own ANSI code page (1252 where it has none),
// as the UTF-8 that the packer's paths are in.
std::string LocalFileName(const std::string& part);

// Two names that the host takes for one file have the same key.
std::string SameFileKey(const std::string& name);

// `part` below `folder`, as messages show it.
std::string JoinShown(const std::string& folder, const std::string& part);

// Refuses up front what the writing would refuse later: a folder on an entry's way that is a file
// or a link (or a junction), and an entry that is a folder already.
void CheckRoutes(const std::vector<PlannedEntry>& plan, const std::string& folder);

// Where an extraction's entries go, one at a time: the host's folder, or memory where the whole
// extraction is exercised without touching the disk. Failures are ToolError naming the entry.
class ExtractionTarget {
 public:
  virtual ~ExtractionTarget() = default;
  // Creates the entry's folders and the fresh file for its contents.
  virtual void Begin(const PlannedEntry& entry) = 0;
  // Adds the next piece of the contents of the entry begun last.
  virtual void Append(const uint8_t* data, size_t size) = 0;
  // Gives that entry's file its times and the target's name.
  virtual void Finish(const StoredEntry& stored) = 0;
  // Best effort, for undoing after a failure: Abandon deletes the fresh file of an unfinished
  // entry, Remove the file of a finished one.
  virtual void Abandon() = 0;
  virtual void Remove(const PlannedEntry& entry) = 0;
};

// The folder of one extraction, created if missing. Each entry's folders are held open from the
// top down, never through a link, while its contents go into a fresh file beside the target,
// created under a name nothing held before, which then replaces the target's name: so no link or
// hard link that was there is ever written through, and nothing outside the folder is touched.
class ExtractionFolder : public ExtractionTarget {
 public:
  explicit ExtractionFolder(const std::string& folder);
  ~ExtractionFolder() override;
  ExtractionFolder(const ExtractionFolder&) = delete;
  ExtractionFolder& operator=(const ExtractionFolder&) = delete;

  void Begin(const PlannedEntry& entry) override;
  void Append(const uint8_t* data, size_t size) override;
  void Finish(const StoredEntry& stored) override;
  void Abandon() override;
  void Remove(const PlannedEntry& entry) override;

 private:
  struct OpenEntry;  // the held folders and the fresh file of the entry being written

  std::string folder_;
  // Held once, so that every entry lands in that very folder whatever happens to its name meanwhile.
  HeldFolder root_;
  std::unique_ptr<OpenEntry> open_;
};
