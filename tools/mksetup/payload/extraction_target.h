// What each host gives the shared extraction: how it spells and compares the entries' names, the
// check of what already lies on their way, and the writing and removing of one entry's file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "payload/payload_source.h"

// An entry as the host names it: its folders and its file name, already in the host's encoding.
struct PlannedEntry {
  std::vector<std::string> folders;
  std::string fileName;
  std::string shownPath;  // the folder joined with the entry, for messages
};

// Why the host cannot spell `name` although the setup program would take it; empty when it can.
std::string LocalSpellingProblem(const std::string& name);

// One component of a stored name, read in the host's own ANSI code page (1252 where it has none),
// as the UTF-8 that the packer's paths are in.
std::string LocalFileName(const std::string& part);

// Two names that the host takes for one file have the same key.
std::string SameFileKey(const std::string& name);

// `part` below `folder`, as messages show it.
std::string JoinShown(const std::string& folder, const std::string& part);

// Refuses up front what the writing would refuse later: a folder on an entry's way that is a file
// or a link, and an entry that is a folder already.
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

// The folder of one extraction, created if missing. Each entry's contents go into a fresh file
// beside the target, piece by piece, which then replaces the target's name, so no link that was
// there is ever written through.
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
  struct OpenEntry;  // the host's handles of the entry being written

  std::string folder_;
  // Where the host can, the folder is opened once, so that every entry lands in that very folder
  // whatever happens to its name meanwhile; -1 where it cannot.
  int root_ = -1;
  std::unique_ptr<OpenEntry> open_;
};
