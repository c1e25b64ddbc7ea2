// Writes the seed corpus of the fuzz targets: merge data files and zlib streams from the payload
// producer, sound and damaged, PE stubs as given and as packed by the packer's writer, and the
// files that the packer's list, verify and extract commands read.
// Usage: fuzz_corpus_maker CORPUS_DIR [STUB.exe...]
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "deflate_data.h"
#include "format/merge_format.h"
#include "format/payload_writer.h"
#include "payload_entries.h"
#include "pe/pe_writer.h"

namespace {

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

// An entry of `size` bytes in a pattern of its seed's own.
PayloadEntry EntryOfSize(const std::string& path, size_t size, uint32_t seed) {
  Bytes contents(size);
  for (size_t i = 0; i < size; ++i) contents[i] = static_cast<uint8_t>((i * 31 + seed) ^ (i >> 3));
  return Entry(path, std::move(contents), seed);
}

// Text and noise in turns, so that compressed streams hold both matches and literals.
Bytes MixedBytes(size_t size, uint32_t seed) {
  Bytes bytes(size);
  uint32_t state = seed;
  const char text[] = "Extracting file information...\r\n";
  for (size_t i = 0; i < size; ++i) {
    state = state * 1103515245u + 12345u;
    bytes[i] = (i / 512) % 2 ? static_cast<uint8_t>(state >> 16) : static_cast<uint8_t>(text[i % (sizeof text - 1)]);
  }
  return bytes;
}

Bytes ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteSeed(const fs::path& folder, const std::string& name, const Bytes& bytes) {
  std::ofstream out(folder / name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + (folder / name).string());
}

// A target's folder, emptied of the seeds of an earlier run.
fs::path SeedFolder(const fs::path& corpus, const std::string& target) {
  const fs::path folder = corpus / target;
  fs::create_directories(folder);
  for (const auto& item : fs::directory_iterator(folder)) fs::remove(item.path());
  return folder;
}

uint32_t RecordOffset(uint32_t index) { return kHeaderSize + kEntrySize * index; }

struct MergeSeeds {
  Bytes one;
  Bytes nested;
  Bytes eight;
};

MergeSeeds WriteMergeSeeds(const fs::path& corpus) {
  const fs::path folder = SeedFolder(corpus, "merge_file");
  MergeSeeds seeds;
  seeds.one = BuildMergeFile("setup.exe", {EntryOfSize("setup.exe", 40, 1)});
  seeds.nested = BuildMergeFile("data\\sub\\deep file.bin",
                                {EntryOfSize("readme.txt", 17, 2), EntryOfSize("data\\a b.dat", 5, 3),
                                 EntryOfSize("data\\sub\\deep file.bin", 9, 4)});
  std::vector<PayloadEntry> eight;
  for (uint32_t i = 0; i < 8; ++i) eight.push_back(EntryOfSize("f" + std::to_string(i) + ".txt", 1 + i * 3, 10 + i));
  seeds.eight = BuildMergeFile("", eight);
  WriteSeed(folder, "one_entry", seeds.one);
  WriteSeed(folder, "nested_folders", seeds.nested);
  WriteSeed(folder, "eight_entries_no_launch", seeds.eight);

  Bytes zeroSize = BuildMergeFile("a.txt", {EntryOfSize("a.txt", 3, 5), EntryOfSize("b.txt", 0, 6)});
  WriteSeed(folder, "second_entry_size_zero", zeroSize);

  Bytes truncated = seeds.nested;
  truncated.resize(truncated.size() - 4);
  WriteSeed(folder, "contents_cut_short", truncated);

  WriteSeed(folder, "parent_folder_name", BuildMergeFile("", {EntryOfSize("..\\evil.txt", 4, 7)}));
  WriteSeed(folder, "device_and_slash_names",
            BuildMergeFile("con.txt", {EntryOfSize("a/b.txt", 2, 8), EntryOfSize("x\\nul.log", 2, 9)}));
  WriteSeed(folder, "long_name",
            BuildMergeFile("", {EntryOfSize(std::string(120, 'n') + "\\" + std::string(80, 'm'), 3, 11)}));

  // 296 x this count just passes 2^32.
  Bytes overflow = seeds.one;
  WriteLittleEndian32(&overflow[0], 0x00DD67CAu);
  WriteSeed(folder, "entry_count_overflows", overflow);

  Bytes noNul = seeds.one;
  for (uint32_t i = 0; i < kNameFieldSize; ++i) noNul[RecordOffset(0) + kEntryRelativePathOffset + i] = 'x';
  WriteSeed(folder, "name_without_nul", noNul);

  Bytes trailing = seeds.one;
  trailing.insert(trailing.end(), {'t', 'a', 'i', 'l'});
  WriteSeed(folder, "bytes_after_data", trailing);

  WriteSeed(folder, "header_cut_short", Bytes(seeds.one.begin(), seeds.one.begin() + 100));
  return seeds;
}

void WriteInflateSeeds(const fs::path& corpus, const MergeSeeds& merge) {
  const fs::path folder = SeedFolder(corpus, "inflate");
  WriteSeed(folder, "payload_one_entry", CompressPayload(merge.one));
  WriteSeed(folder, "payload_nested", CompressPayload(merge.nested));
  WriteSeed(folder, "payload_eight_entries", CompressPayload(merge.eight));

  // More than one 4096-byte input block, and output of exactly two full blocks.
  WriteSeed(folder, "several_input_blocks", Deflate(MixedBytes(9000, 3)));
  WriteSeed(folder, "output_two_full_blocks", Deflate(MixedBytes(8192, 4), 6));

  const Bytes text = MixedBytes(1500, 5);
  WriteSeed(folder, "stored_blocks", Deflate(text, 0));
  WriteSeed(folder, "fixed_codes", Deflate(text, 9, 15, Z_FIXED));
  WriteSeed(folder, "run_lengths", Deflate(text, 9, 15, Z_RLE));
  WriteSeed(folder, "small_window", Deflate(text, 9, 9));
  WriteSeed(folder, "gzip_wrapper", Deflate(text, 9, 31));
  WriteSeed(folder, "preset_dictionary",
            Deflate(text, 9, 15, Z_DEFAULT_STRATEGY, Bytes(text.begin(), text.begin() + 64)));

  const Bytes sound = Deflate(text);
  Bytes trailing = sound;
  trailing.insert(trailing.end(), {0x78, 0xDA, 0x00, 0x01});
  WriteSeed(folder, "bytes_after_stream", trailing);
  WriteSeed(folder, "stream_cut_short", Bytes(sound.begin(), sound.begin() + sound.size() / 2));
  Bytes badAdler = sound;
  badAdler.back() ^= 0x01;
  WriteSeed(folder, "wrong_adler", badAdler);
  WriteSeed(folder, "empty", Bytes());
}

void WritePeSeeds(const fs::path& corpus, const std::vector<fs::path>& stubs) {
  const fs::path folder = SeedFolder(corpus, "pe_image");
  const Bytes payload = Payload("setup.exe", {EntryOfSize("setup.exe", 12, 1)});
  for (const fs::path& stub : stubs) {
    const Bytes bytes = ReadFile(stub);
    const std::string name = stub.stem().string();
    WriteSeed(folder, name, bytes);
    WriteSeed(folder, name + "_packed", AddPayloadResource(bytes, payload));
  }
}

// Files as the packer's list, verify and extract commands take them: bare streams and packed
// programs, with names that the host has to map and payloads that one of the commands refuses.
void WritePackerSeeds(const fs::path& corpus, const MergeSeeds& merge, const std::vector<fs::path>& stubs) {
  const fs::path folder = SeedFolder(corpus, "mksetup_payload");
  WriteSeed(folder, "stream_nested", CompressPayload(merge.nested));
  WriteSeed(folder, "stream_eight_entries", CompressPayload(merge.eight));
  WriteSeed(folder, "stream_same_name_twice",
            Payload("a.txt", {EntryOfSize("a.txt", 3, 1), EntryOfSize("d\\b.txt", 2, 2), EntryOfSize("a.txt", 5, 3)}));
  WriteSeed(folder, "stream_case_clash", Payload("", {EntryOfSize("Dir\\x", 3, 1), EntryOfSize("dir\\X", 4, 2)}));
  WriteSeed(folder, "stream_file_where_folder_needed",
            Payload("", {EntryOfSize("a", 3, 1), EntryOfSize("a\\b", 4, 2)}));
  WriteSeed(folder, "stream_code_page_names",
            Payload("caf\xE9.exe", {EntryOfSize("caf\xE9.exe", 3, 1), EntryOfSize("\x80\\\x9F y.txt", 2, 2)}));
  WriteSeed(folder, "stream_parent_name", Payload("", {EntryOfSize("ok.txt", 2, 1), EntryOfSize("..\\up.txt", 2, 2)}));
  WriteSeed(folder, "stream_size_zero", Payload("", {EntryOfSize("a.txt", 2, 1), EntryOfSize("b.txt", 0, 2)}));
  // 200 bytes of code page 1252 become 400 bytes of UTF-8, too long for a Linux file name, so the
  // second entry fails after the first one was written and the extraction rolls back.
  WriteSeed(folder, "stream_second_name_too_long_for_host",
            Payload("", {EntryOfSize("ok.txt", 2, 1), EntryOfSize(std::string(200, '\xE9'), 2, 2)}));
  Bytes trailing = CompressPayload(merge.one);
  trailing.push_back(0);
  WriteSeed(folder, "stream_byte_after_end", trailing);
  const Bytes payload = CompressPayload(merge.nested);
  for (const fs::path& stub : stubs) {
    if (stub.stem().string().find("resources") == std::string::npos) continue;
    WriteSeed(folder, stub.stem().string() + "_packed", AddPayloadResource(ReadFile(stub), payload));
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR [STUB.exe...]\n", argv[0]);
    return 2;
  }
  try {
    const fs::path corpus = argv[1];
    const MergeSeeds merge = WriteMergeSeeds(corpus);
    WriteInflateSeeds(corpus, merge);
    const std::vector<fs::path> stubs(argv + 2, argv + argc);
    WritePeSeeds(corpus, stubs);
    WritePackerSeeds(corpus, merge, stubs);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "fuzz_corpus_maker: %s\n", error.what());
    return 1;
  }
  return 0;
}
