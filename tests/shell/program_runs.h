// What the tests of whole runs share: the usual three-entry payload, and what the dialog shows
// during a complete run and up to the unpacking, as steps for an observer that polls.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "format/payload_writer.h"
#include "setup_program_support.h"
#include "step_sequence.h"

// The usual payload: the launch program and two files in sub-folders, three entries in all.
inline std::vector<PayloadEntry> ThreeEntries() {
  return {ProbeEntry(1), Entry("docs\\guide.txt", Bytes(std::string(3000, 'g')), 2),
          Entry("docs\\data\\values.bin", std::vector<uint8_t>(70000, 0xA5), 3)};
}

// The launch program, then small files up to `count` entries: an unpacking that lasts `count`
// cancel polls.
inline std::vector<PayloadEntry> ProbeAndSmallFiles(uint32_t count) {
  std::vector<PayloadEntry> entries = {ProbeEntry(1)};
  for (uint32_t i = 2; i <= count; ++i) entries.push_back(Entry("file" + std::to_string(i) + ".txt", Bytes("data"), i));
  return entries;
}

// What the dialog shows during a run that unpacks three entries and completes. A value followed by
// a cancel poll stays for 100 ms at least; the others may come and go between two looks: the
// template's texts, the expansion's, the start of the read-back, the completion's last step, and
// the reset by the cleanup when the worker has ended before the dialog handles its notification.
inline const std::vector<Step<std::string>> kStatusesOfACompleteRun = {
    Fleeting<std::string>("Preparing to install..."),
    {"Preparing data file..."},
    {"Extracting file information..."},
    Fleeting<std::string>("Decompressing merge data file..."),
    {""},
    Fleeting<std::string>("Initializing file information..."),
    {"Extracting file information..."},
    Fleeting<std::string>("Process completed."),
    Fleeting<std::string>("")};
inline const std::vector<Step<std::string>> kPercentsOfACompleteRun = {
    Fleeting<std::string>("100%"), {""}, {"25%"}, {"50%"}, Fleeting<std::string>("75%"), {"100%"},
    Fleeting<std::string>("0%"), {"33%"}, {"66%"}, {"100%"}, {"50%"}, Fleeting<std::string>("100%"),
    Fleeting<std::string>("")};
// The bar's range is 1 to 100, so a position of 0 shows as 1.
inline const std::vector<Step<int>> kBarsOfACompleteRun = {
    Fleeting(0), {1},  {25}, {50}, Fleeting(75), {100}, Fleeting(1),
    {33},        {66}, {100}, {50}, Fleeting(100), Fleeting(1)};
// The same up to the unpacking of the first entry.
inline const std::vector<Step<std::string>> kStatusesUpToUnpacking = {
    Fleeting<std::string>("Preparing to install..."), {"Preparing data file..."}, {"Extracting file information..."},
    Fleeting<std::string>("Decompressing merge data file..."), {""},
    Fleeting<std::string>("Initializing file information..."), {"Extracting file information..."}};
inline const std::vector<Step<std::string>> kPercentsUpToUnpacking = {
    Fleeting<std::string>("100%"), {""}, {"25%"}, {"50%"}, Fleeting<std::string>("75%"), {"100%"},
    Fleeting<std::string>("0%")};

template <typename T>
std::vector<Step<T>> Then(std::vector<Step<T>> steps, const std::vector<Step<T>>& more) {
  steps.insert(steps.end(), more.begin(), more.end());
  return steps;
}
