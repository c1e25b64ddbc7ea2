// Unpacking the entries of the merge data block below the extraction directory, one file per
// entry with its recorded times, and the rollback that deletes what a stopped run has written.
#pragma once

#include <cstdint>

#include "extract/worker_state.h"

// The percentage after `done` of `entryCount` entries, in IEEE double precision with the
// division first: 28 after 29 of 100, 100 when done equals entryCount.
int EntryPercent(uint32_t done, uint32_t entryCount);

// Writes the entries from state.currentEntry to the end of the table. True when all are written.
// False after a failure, already reported, or a cancel; currentEntry then names the entry in
// which the run stopped, and the caller goes on with RollBackEntries.
bool UnpackEntries(WorkerState& state);

// Creates the folders that `entry`'s relativePath names before its last backslash, from the top
// down; existing ones are accepted. False after a failure, already reported.
bool CreateEntryDirectories(WorkerState& state, const MergeFileEntry& entry);

// Closes the open file and deletes the files of the entries from currentEntry down to 0, moving
// the bar back as it goes. Folders stay. Without an entry table there is nothing to delete.
void RollBackEntries(WorkerState& state);
