// Reading the resource trees of real mingw programs, packing a payload into PE32 and PE32+ images,
// what the new image's headers and directories say, and the refusal of every unusable file.
#include <algorithm>
#include <functional>

#include "pe_test_support.h"

namespace {

constexpr uint32_t kPayloadSeed = 7;

const ResourceName kSetupType = Str(u"SETUP");

// The tree that windres builds from fixtures/fixture.rc.
ResourceTree FixtureTree() {
  ResourceTree tree;
  tree[Str(u"ALPHA")][Id(1)][Id(1033)] = ResourceData{0, Text("a")};
  tree[Str(u"SETUO")][Id(1)][Id(1033)] = ResourceData{0, Text("o")};
  tree[Str(u"SETUQ")][Id(1)][Id(1033)] = ResourceData{0, Text("q")};
  tree[Str(u"ZTYPE")][Str(u"ABC")][Id(1033)] = ResourceData{0, Text("x")};
  tree[Str(u"ZTYPE")][Id(42)][Id(1033)] = ResourceData{0, Text("y")};
  tree[Id(10)][Str(u"ZDATA")][Id(1031)] = ResourceData{0, Text("hallo")};
  tree[Id(10)][Str(u"ZDATA")][Id(1033)] = ResourceData{0, Text("hello")};
  return tree;
}

std::vector<ResourceName> Keys(const ResourceTree& tree) {
  std::vector<ResourceName> keys;
  for (const auto& type : tree) keys.push_back(type.first);
  return keys;
}

uint64_t AlignUp(uint64_t value, uint64_t alignment) { return (value + alignment - 1) / alignment * alignment; }

}  // namespace

TEST(PeResources, ReadsTheTreeThatWindresWrote) {
  const ResourceTree tree = ReadTree(LoadFixture("res64s"));

  EXPECT_EQ(Keys(tree), (std::vector<ResourceName>{Str(u"ALPHA"), Str(u"SETUO"), Str(u"SETUQ"), Str(u"ZTYPE"), Id(6),
                                                    Id(10), Id(16)}));
  for (const auto& type : FixtureTree()) EXPECT_EQ(tree.at(type.first), type.second);
  const std::vector<uint8_t>& version = tree.at(Id(16)).at(Id(1)).at(Id(1033)).bytes;
  ASSERT_GE(version.size(), 38u);
  EXPECT_EQ(Get16(version, 0), version.size());  // a version block starts with its own length
  std::u16string key;
  for (size_t i = 0; i < 15; ++i) key += static_cast<char16_t>(Get16(version, 6 + 2 * i));
  EXPECT_EQ(key, u"VS_VERSION_INFO");
}

TEST(PeResources, Pe32AndPe32PlusProgramsGiveTheSameTree) {
  const ResourceTree reference = ReadTree(LoadFixture("res64s"));
  for (const char* fixture : {"res32", "res32s", "res32last", "res64", "reader64"}) {
    EXPECT_EQ(ReadTree(LoadFixture(fixture)), reference) << fixture;
  }
  EXPECT_TRUE(ReadTree(LoadFixture("plain32s")).empty());
  EXPECT_TRUE(ReadTree(LoadFixture("plain64s")).empty());
}

TEST(PeResources, SetPayloadResourceReplacesThePayloadInEveryLanguage) {
  ResourceTree tree = FixtureTree();
  tree[kSetupType][Id(2000)][Id(1031)] = ResourceData{1252, Text("old german")};
  tree[kSetupType][Id(2000)][Id(1033)] = ResourceData{0, Text("old english")};
  tree[kSetupType][Id(2001)][Id(1033)] = ResourceData{0, Text("neighbour")};

  SetPayloadResource(tree, Text("new"));

  EXPECT_EQ(tree.at(kSetupType).at(Id(2000)), (ResourceLanguages{{Id(1033), ResourceData{1252, Text("new")}}}));
  EXPECT_EQ(tree.at(kSetupType).at(Id(2001)).at(Id(1033)).bytes, Text("neighbour"));
  EXPECT_EQ(tree.at(Id(10)), FixtureTree().at(Id(10)));
}

class PackedFixture : public testing::TestWithParam<const char*> {};

INSTANTIATE_TEST_SUITE_P(Fixtures, PackedFixture,
                         testing::Values("res32", "res32s", "res32last", "plain32s", "res64", "res64s", "plain64s",
                                         "reader64"));

TEST_P(PackedFixture, CarriesThePayloadBesideTheOriginalResources) {
  const std::vector<uint8_t> original = LoadFixture(GetParam());
  const std::vector<uint8_t> payload = MakePayload(100003, kPayloadSeed);

  const std::vector<uint8_t> packed = AddPayloadResource(original, payload);

  const ResourceTree tree = ReadTree(packed);
  EXPECT_EQ(tree, WithPayload(ReadTree(original), payload));
  EXPECT_EQ(tree.at(kSetupType).at(Id(2000)).at(Id(1033)), (ResourceData{1252, payload}));
}

TEST_P(PackedFixture, KeepsEveryOtherSectionAndHeaderByte) {
  const std::vector<uint8_t> original = LoadFixture(GetParam());
  const std::vector<uint8_t> packed = AddPayloadResource(original, MakePayload(5000, kPayloadSeed));
  const PeLayout before = Locate(original);
  const PeLayout after = Locate(packed);
  const size_t resourceVa = Get32(original, before.Directory(2));
  const bool inPlace = after.sections == before.sections;

  for (uint32_t i = 0; i < before.sections; ++i) {
    const size_t header = before.Section(i);
    if (inPlace && resourceVa != 0 && Get32(original, header + kVirtualAddress) == resourceVa) continue;
    EXPECT_TRUE(std::equal(original.begin() + header, original.begin() + header + kSectionHeader,
                           packed.begin() + header))
        << "section header " << i;
    const size_t raw = Get32(original, header + kPointerToRawData);
    const size_t size = Get32(original, header + kSizeOfRawData);
    EXPECT_TRUE(std::equal(original.begin() + raw, original.begin() + raw + size, packed.begin() + raw))
        << "section data " << i;
  }

  // Put back the fields that packing changes; then the headers must be the old ones.
  const size_t headers = Get32(original, before.optional + kSizeOfHeaders);
  std::vector<uint8_t> restored(packed.begin(), packed.begin() + headers);
  Put16(restored, before.coff + kNumberOfSections, Get16(original, before.coff + kNumberOfSections));
  for (size_t field : {before.coff + kPointerToSymbolTable, before.optional + kSizeOfInitializedData,
                       before.optional + kSizeOfImage, before.optional + kCheckSum, before.Directory(2),
                       before.Directory(2) + 4}) {
    Put32(restored, field, Get32(original, field));
  }
  const size_t changedHeader = inPlace ? 0 : before.Section(before.sections);
  for (uint32_t i = 0; i < before.sections && inPlace; ++i) {
    if (Get32(original, before.Section(i) + kVirtualAddress) == resourceVa) {
      std::copy(original.begin() + before.Section(i), original.begin() + before.Section(i) + kSectionHeader,
                restored.begin() + before.Section(i));
    }
  }
  if (!inPlace) std::fill(restored.begin() + changedHeader, restored.begin() + changedHeader + kSectionHeader, 0);
  EXPECT_TRUE(std::equal(restored.begin(), restored.end(), original.begin()));
}

TEST_P(PackedFixture, HeadersDescribeTheNewResourceSection) {
  const std::vector<uint8_t> original = LoadFixture(GetParam());
  const std::vector<uint8_t> packed = AddPayloadResource(original, MakePayload(70001, kPayloadSeed));
  const PeLayout before = Locate(original);
  const PeLayout after = Locate(packed);
  const uint32_t sectionAlignment = Get32(packed, after.optional + kSectionAlignment);
  const uint32_t fileAlignment = Get32(packed, after.optional + kFileAlignment);

  // The resource section is the one the directory names, and it is last in memory and in the file.
  const uint32_t rsrcVa = Get32(packed, after.Directory(2));
  uint32_t index = after.sections;
  uint64_t previousVaEnd = 0;
  uint64_t previousRawEnd = 0;
  for (uint32_t i = 0; i < after.sections; ++i) {
    const size_t header = after.Section(i);
    if (Get32(packed, header + kVirtualAddress) == rsrcVa) {
      index = i;
      continue;
    }
    const uint32_t virtualSize = Get32(packed, header + kVirtualSize);
    previousVaEnd = std::max<uint64_t>(previousVaEnd, Get32(packed, header + kVirtualAddress) + virtualSize);
    if (Get32(packed, header + kSizeOfRawData) != 0) {
      previousRawEnd = std::max<uint64_t>(previousRawEnd, Get32(packed, header + kPointerToRawData) +
                                                              Get32(packed, header + kSizeOfRawData));
    }
  }
  ASSERT_LT(index, after.sections);
  const size_t header = after.Section(index);
  const bool appended = after.sections == before.sections + 1;
  EXPECT_EQ(index, appended ? before.sections : before.sections - 1);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&packed[header]), 8), std::string(".rsrc\0\0\0", 8));
  EXPECT_EQ(rsrcVa, AlignUp(previousVaEnd, sectionAlignment));
  const uint32_t virtualSize = Get32(packed, header + kVirtualSize);
  const uint32_t rawSize = Get32(packed, header + kSizeOfRawData);
  const uint32_t rawPointer = Get32(packed, header + kPointerToRawData);
  EXPECT_EQ(Get32(packed, after.Directory(2) + 4), virtualSize);
  EXPECT_EQ(rawSize, AlignUp(virtualSize, fileAlignment));
  EXPECT_EQ(rawPointer % fileAlignment, 0u);
  EXPECT_EQ(rawPointer, AlignUp(previousRawEnd, fileAlignment));
  EXPECT_EQ(Get32(packed, header + kCharacteristics), 0x40000040u);
  EXPECT_EQ(Get32(packed, after.optional + kSizeOfImage), AlignUp(rsrcVa + virtualSize, sectionAlignment));

  uint32_t replacedRaw = 0;
  for (uint32_t i = 0; i < before.sections && !appended; ++i) {
    if (Get32(original, before.Section(i) + kVirtualAddress) == rsrcVa) {
      replacedRaw = Get32(original, before.Section(i) + kSizeOfRawData);
    }
  }
  EXPECT_EQ(Get32(packed, after.optional + kSizeOfInitializedData),
            Get32(original, before.optional + kSizeOfInitializedData) - replacedRaw + rawSize);

  // Without symbols the file ends with the section; with them, the symbols follow it unchanged.
  const uint32_t symbols = Get32(original, before.coff + kPointerToSymbolTable);
  if (symbols == 0) {
    EXPECT_EQ(packed.size(), rawPointer + rawSize);
    EXPECT_EQ(Get32(packed, after.coff + kPointerToSymbolTable), 0u);
  } else {
    EXPECT_EQ(Get32(packed, after.coff + kPointerToSymbolTable), rawPointer + rawSize);
    EXPECT_EQ(Get32(packed, after.coff + kNumberOfSymbols), Get32(original, before.coff + kNumberOfSymbols));
    EXPECT_TRUE(std::equal(original.begin() + symbols, original.end(), packed.begin() + rawPointer + rawSize,
                           packed.end()));
  }
}

TEST_P(PackedFixture, ChecksumMatchesAnIndependentSum) {
  const std::vector<uint8_t> original = LoadFixture(GetParam());
  const PeLayout layout = Locate(original);
  // The linker's own checksum is the first witness.
  EXPECT_EQ(ComputePeChecksum(original.data(), original.size(), layout.optional + kCheckSum),
            Get32(original, layout.optional + kCheckSum));

  const std::vector<uint8_t> packed = AddPayloadResource(original, MakePayload(33333, kPayloadSeed));
  const uint32_t stored = Get32(packed, layout.optional + kCheckSum);
  EXPECT_EQ(stored, IndependentChecksum(packed, layout.optional + kCheckSum));
  EXPECT_NE(stored, Get32(original, layout.optional + kCheckSum));
}

TEST_P(PackedFixture, RepackingReplacesThePayloadInPlace) {
  const std::vector<uint8_t> original = LoadFixture(GetParam());
  const std::vector<uint8_t> first = AddPayloadResource(original, MakePayload(200000, 1));
  const std::vector<uint8_t> second = MakePayload(1001, 2);

  const std::vector<uint8_t> repacked = AddPayloadResource(first, second);

  EXPECT_EQ(ReadTree(repacked), WithPayload(ReadTree(original), second));
  const PeLayout once = Locate(first);
  const PeLayout twice = Locate(repacked);
  EXPECT_EQ(twice.sections, once.sections);
  const size_t last = once.Section(once.sections - 1);
  EXPECT_EQ(Get32(repacked, last + kVirtualAddress), Get32(first, last + kVirtualAddress));
  EXPECT_EQ(Get32(repacked, last + kPointerToRawData), Get32(first, last + kPointerToRawData));
  // The smaller payload leaves no dead copy of the larger one behind.
  EXPECT_LT(repacked.size() + 190000, first.size());
}

TEST(PeResources, FirstPackReplacesALinkersResourceSectionWhenItIsLast) {
  const std::vector<uint8_t> original = LoadFixture("res32last");
  const PeLayout before = Locate(original);
  const size_t rsrc = before.Section(before.sections - 1);
  ASSERT_EQ(Get32(original, rsrc + kVirtualAddress), Get32(original, before.Directory(2)));

  const std::vector<uint8_t> packed = AddPayloadResource(original, MakePayload(4000, kPayloadSeed));

  EXPECT_EQ(Locate(packed).sections, before.sections);
  EXPECT_EQ(Get32(packed, rsrc + kVirtualAddress), Get32(original, rsrc + kVirtualAddress));
  EXPECT_EQ(packed.size(), Get32(original, rsrc + kPointerToRawData) + Get32(packed, rsrc + kSizeOfRawData));
}

TEST(PeResources, DirectoriesListNamesInOrderThenIdsAscending) {
  ResourceTree tree;
  for (const ResourceName& type : {Id(24), Id(3), Str(u"ZZ"), Str(u"SETUPX"), Str(u"b"), Str(u"SETUP"), Str(u"A_B"),
                                   Str(u"AB"), Id(16)}) {
    tree[type][Id(1)][Id(1033)] = ResourceData{0, Text("d")};
  }
  tree[Str(u"SETUP")][Id(7)][Id(0)] = ResourceData{0, Text("seven")};
  tree[Str(u"SETUP")][Str(u"AB")][Id(1033)] = ResourceData{0, Text("shared name")};

  const std::vector<uint8_t> packed = WritePeImage(ReadPeImage(LoadFixture("plain64s")), tree);

  const PeLayout layout = Locate(packed);
  const uint32_t sectionVa = Get32(packed, layout.Directory(2));
  const size_t root = RvaToOffset(packed, layout, sectionVa);
  const size_t sectionEnd = root + Get32(packed, layout.Directory(2) + 4);
  auto readName = [&](uint32_t field) {
    if ((field & 0x80000000) == 0) return Id(static_cast<uint16_t>(field));
    const size_t at = root + (field & 0x7FFFFFFF);
    std::u16string text;
    for (uint32_t i = 0; i < Get16(packed, at); ++i) text += static_cast<char16_t>(Get16(packed, at + 2 + 2 * i));
    return ResourceName::String(text);
  };
  auto listDirectory = [&](size_t directory) {
    std::vector<ResourceName> names;
    const uint32_t named = Get16(packed, directory + 12);
    const uint32_t ids = Get16(packed, directory + 14);
    for (uint32_t i = 0; i < named + ids; ++i) {
      const uint32_t field = Get32(packed, directory + 16 + 8 * i);
      EXPECT_EQ((field & 0x80000000) != 0, i < named) << "entry " << i;
      names.push_back(readName(field));
    }
    return names;
  };

  EXPECT_EQ(listDirectory(root),
            (std::vector<ResourceName>{Str(u"AB"), Str(u"A_B"), Str(u"b"), Str(u"SETUP"), Str(u"SETUPX"), Str(u"ZZ"),
                                       Id(3), Id(16), Id(24)}));
  const size_t setupEntry = root + 16 + 8 * 3;
  const uint32_t setupTarget = Get32(packed, setupEntry + 4);
  ASSERT_NE(setupTarget & 0x80000000, 0u);
  EXPECT_EQ(listDirectory(root + (setupTarget & 0x7FFFFFFF)), (std::vector<ResourceName>{Str(u"AB"), Id(1), Id(7)}));
  // One copy of a name serves every directory that uses it.
  const uint32_t typeName = Get32(packed, root + 16);
  const uint32_t entryName = Get32(packed, root + (setupTarget & 0x7FFFFFFF) + 16);
  EXPECT_EQ(entryName, typeName);

  // Every data entry points at 8-byte aligned data inside the section.
  EXPECT_EQ(ReadTree(packed), tree);
  size_t dataEntries = 0;
  for (size_t type = root + 16; type < root + 16 + 8 * 9; type += 8) {
    const size_t names = root + (Get32(packed, type + 4) & 0x7FFFFFFF);
    for (size_t name = names + 16; name < names + 16 + 8 * (Get16(packed, names + 12) + Get16(packed, names + 14));
         name += 8) {
      const size_t languages = root + (Get32(packed, name + 4) & 0x7FFFFFFF);
      const size_t entry = root + Get32(packed, languages + 16 + 4);
      const uint32_t rva = Get32(packed, entry);
      EXPECT_EQ(rva % 8, 0u);
      EXPECT_GE(rva, sectionVa);
      EXPECT_LE(rva + Get32(packed, entry + 4), sectionVa + (sectionEnd - root));
      ++dataEntries;
    }
  }
  EXPECT_EQ(dataEntries, 11u);
}

TEST(PeResources, PacksAPayloadAsLargeAsTheShippedOne) {
  const std::vector<uint8_t> payload = MakePayload(57 * 1024 * 1024 + 3, kPayloadSeed);
  const std::vector<uint8_t> packed = AddPayloadResource(LoadFixture("res32s"), payload);
  const PeImage image = ReadPeImage(packed);
  const ResourceTree tree = ReadResources(image);
  EXPECT_TRUE(tree.at(kSetupType).at(Id(2000)).at(Id(1033)).bytes == payload);
  EXPECT_EQ(ComputePeChecksum(packed.data(), packed.size(), ChecksumOffset(image)),
            Get32(packed, ChecksumOffset(image)));
}

TEST(PeResources, ChecksumCountsAnOddLastByteAndSkipsAFieldAtAnOddOffset) {
  for (size_t size : {1u, 7u, 64u, 4097u}) {
    for (size_t field : {0u, 1u, 3u}) {
      const std::vector<uint8_t> bytes = MakePayload(std::max<size_t>(size, field + 4), static_cast<uint32_t>(size));
      EXPECT_EQ(ComputePeChecksum(bytes.data(), bytes.size(), field), IndependentChecksum(bytes, field))
          << "size " << bytes.size() << ", field at " << field;
    }
  }
  const std::vector<uint8_t> ones(4, 0xFF);
  EXPECT_EQ(ComputePeChecksum(ones.data(), ones.size(), 100), 0xFFFFu + 4);  // the carry folds back in
}

// The packer writes the payload while it is compressed and the headers afterwards, so the payload's
// data must be the last thing in the resource section and the checksum must add up from parts.
TEST_P(PackedFixture, PutsThePayloadsDataLastInItsSectionAndSumsItApart) {
  const std::vector<uint8_t> original = LoadFixture(GetParam());
  const std::vector<uint8_t> payload = MakePayload(40001, kPayloadSeed);
  const std::vector<uint8_t> packed = AddPayloadResource(original, payload);
  const PeLayout after = Locate(packed);
  const uint32_t rsrcVa = Get32(packed, after.Directory(2));
  for (uint32_t i = 0; i < after.sections; ++i) {
    const size_t header = after.Section(i);
    if (Get32(packed, header + kVirtualAddress) != rsrcVa) continue;
    const size_t dataEnd = Get32(packed, header + kPointerToRawData) + Get32(packed, header + kVirtualSize);
    ASSERT_GE(dataEnd, payload.size());
    EXPECT_TRUE(std::equal(payload.begin(), payload.end(), packed.begin() + (dataEnd - payload.size())));
  }

  const PeImage image = ReadPeImage(original);
  ResourceTree tree = ReadResources(image);
  SetDeferredPayloadResource(tree, payload.size());
  ImageAroundPayload parts = WritePeImageAroundPayload(image, tree);
  PeWordSum rest;
  for (size_t at = 0; at < payload.size(); at += 4093) {  // odd pieces, so words straddle them
    rest.Add(payload.data() + at, std::min<size_t>(4093, payload.size() - at));
  }
  rest.Add(parts.afterPayload.data(), parts.afterPayload.size());
  SealChecksum(parts, rest);
  std::vector<uint8_t> whole = parts.beforePayload;
  whole.insert(whole.end(), payload.begin(), payload.end());
  whole.insert(whole.end(), parts.afterPayload.begin(), parts.afterPayload.end());
  EXPECT_TRUE(whole == packed);
  EXPECT_EQ(Get32(packed, parts.checksumOffset), ComputePeChecksum(packed.data(), packed.size(), parts.checksumOffset));
}

TEST(PeResources, ChecksumSummedInPiecesMatchesTheWholeFilesSum) {
  const std::vector<uint8_t> bytes = MakePayload(100001, 3);
  const std::vector<uint8_t> ones(20000, 0xFF);  // every word 0xFFFF: the carries fold at every step
  for (const std::vector<uint8_t>* data : {&bytes, &ones}) {
    const uint32_t whole = ComputePeChecksum(data->data(), data->size(), 200);
    for (size_t split : {size_t{0}, size_t{1}, size_t{2}, size_t{4095}, size_t{5000}, data->size()}) {
      std::vector<uint8_t> copy = *data;
      std::fill(copy.begin() + 200, copy.begin() + 204, 0);
      PeWordSum inOrder;
      inOrder.Add(copy.data(), split);
      inOrder.Add(copy.data() + split, copy.size() - split);
      EXPECT_EQ(inOrder.Checksum(), whole) << "split at " << split;
      if (split % 2 != 0) continue;
      PeWordSum head, rest;
      head.Add(copy.data(), split);
      rest.Add(copy.data() + split, copy.size() - split);
      EXPECT_EQ(head.ChecksumFollowedBy(rest), whole) << "head of " << split;
    }
  }
}

// --- Refusals ---

struct Refusal {
  const char* name;
  std::function<void(std::vector<uint8_t>&, const PeLayout&)> damage;
  std::string message;
};

// Offsets into the resource tree of res64s: its root, and the name directory of its first type.
size_t ResourceRoot(const std::vector<uint8_t>& b, const PeLayout& l) {
  return RvaToOffset(b, l, Get32(b, l.Directory(2)));
}
size_t RootEntry(const std::vector<uint8_t>& b, const PeLayout& l, uint32_t i) { return ResourceRoot(b, l) + 16 + 8 * i; }
uint32_t FirstTypeDirectory(const std::vector<uint8_t>& b, const PeLayout& l) {
  return Get32(b, RootEntry(b, l, 0) + 4) & 0x7FFFFFFF;
}
size_t FirstDataEntry(const std::vector<uint8_t>& b, const PeLayout& l) {
  const size_t root = ResourceRoot(b, l);
  const size_t names = root + FirstTypeDirectory(b, l);
  const size_t languages = root + (Get32(b, names + 16 + 4) & 0x7FFFFFFF);
  return root + Get32(b, languages + 16 + 4);
}

class RefusedFile : public testing::TestWithParam<Refusal> {};

TEST_P(RefusedFile, IsRefusedWithItsMessage) {
  std::vector<uint8_t> file = LoadFixture("res64s");
  GetParam().damage(file, Locate(file));
  try {
    AddPayloadResource(file, Text("payload"));
    ADD_FAILURE() << "no refusal";
  } catch (const PeError& error) {
    EXPECT_EQ(std::string(error.what()), GetParam().message);
  }
}

const char kTruncatedSection[] = "truncated PE file: section \".text\" runs past the end of the file";
const char kOutside[] = "the resource tree points outside its section";
const char kSameDirectory[] = "the resource tree reaches the same directory twice (a loop or a shared subtree)";

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusedFile,
    testing::Values(
        Refusal{"EmptyFile", [](auto& b, auto&) { b.clear(); }, "not a PE file: it is too short for an MZ header"},
        Refusal{"ShortFile", [](auto& b, auto&) { b.resize(63); }, "not a PE file: it is too short for an MZ header"},
        Refusal{"NoMz", [](auto& b, auto&) { b[1] = 'X'; }, "not a PE file: it does not begin with \"MZ\""},
        Refusal{"PeOffsetPastEnd", [](auto& b, auto&) { Put32(b, 0x3C, static_cast<uint32_t>(b.size() - 3)); },
                "not a PE file: its PE header offset points past the end of the file"},
        Refusal{"PeOffsetWraps", [](auto& b, auto&) { Put32(b, 0x3C, 0xFFFFFFFE); },
                "not a PE file: its PE header offset points past the end of the file"},
        Refusal{"NoPeSignature", [](auto& b, auto& l) { b[l.coff - 1] = 1; },
                "not a PE file: there is no \"PE\" signature at its PE header offset"},
        Refusal{"CoffHeaderCut", [](auto& b, auto& l) { b.resize(l.coff + 19); },
                "truncated PE file: the COFF header runs past the end of the file"},
        Refusal{"NoOptionalHeader", [](auto& b, auto& l) { Put16(b, l.coff + kSizeOfOptionalHeader, 0); },
                "not a PE image: it has no optional header (an object file?)"},
        Refusal{"OptionalHeaderCut", [](auto& b, auto& l) { b.resize(l.optional + 100); },
                "truncated PE file: the optional header runs past the end of the file"},
        Refusal{"RomMagic", [](auto& b, auto& l) { Put16(b, l.optional, 0x107); },
                "unknown optional header magic 0x107 (only PE32, 0x10B, and PE32+, 0x20B, are supported)"},
        Refusal{"Pe32MagicOnPe32PlusHeader", [](auto& b, auto& l) { Put16(b, l.optional, 0x10B); },
                "the optional header has no resource directory entry"},
        Refusal{"OptionalHeaderTooShortForMagic", [](auto& b, auto& l) { Put16(b, l.coff + kSizeOfOptionalHeader, 100); },
                "the optional header is too short (100 bytes) for a PE32+ header"},
        Refusal{"OptionalHeaderTooShortForDirectories",
                [](auto& b, auto& l) { Put16(b, l.coff + kSizeOfOptionalHeader, 112 + 8 * 15); },
                "the optional header is too short for its 16 data directories"},
        Refusal{"NoResourceDirectoryEntry", [](auto& b, auto& l) { Put32(b, l.directories - 4, 2); },
                "the optional header has no resource directory entry"},
        Refusal{"FileAlignmentNotPowerOfTwo", [](auto& b, auto& l) { Put32(b, l.optional + kFileAlignment, 0x300); },
                "the file alignment 0x300 is not a power of two up to 64 KiB"},
        Refusal{"SectionAlignmentBelowFileAlignment",
                [](auto& b, auto& l) { Put32(b, l.optional + kSectionAlignment, 0x100); },
                "the section alignment 0x100 is not a power of two at least as large as the file alignment"},
        Refusal{"SectionTablePastEnd", [](auto& b, auto& l) { Put16(b, l.coff + kNumberOfSections, 0xFFFF); },
                "truncated PE file: the section table runs past the end of the file"},
        Refusal{"SectionTablePastHeaders",
                [](auto& b, auto& l) { Put16(b, l.coff + kNumberOfSections, l.sections + 30); },
                "the section table runs past the end of the headers (SizeOfHeaders)"},
        Refusal{"HeadersPastEnd",
                [](auto& b, auto& l) { Put32(b, l.optional + kSizeOfHeaders, static_cast<uint32_t>(b.size() + 1)); },
                "truncated PE file: the headers run past the end of the file"},
        Refusal{"SectionPastEnd", [](auto& b, auto& l) { Put32(b, l.Section(0) + kSizeOfRawData, 0x7FFFFFFF); },
                kTruncatedSection},
        Refusal{"SectionPointerWraps",
                [](auto& b, auto& l) { Put32(b, l.Section(0) + kPointerToRawData, 0xFFFFFF00); }, kTruncatedSection},
        Refusal{"Signed",
                [](auto& b, auto& l) {
                  Put32(b, l.Directory(4), static_cast<uint32_t>(b.size()));
                  Put32(b, l.Directory(4) + 4, 16);
                  b.resize(b.size() + 16, 0x30);
                },
                "the file is signed: adding the payload would break its signature (sign the setup program after "
                "packing)"},
        Refusal{"Overlay", [](auto& b, auto&) { b.insert(b.end(), {'j', 'u', 'n', 'k', '!'}); },
                "the file has 5 bytes after its last section (an overlay) that would be lost or misplaced"},
        Refusal{"HeaderSpaceInUse", [](auto& b, auto& l) { b[l.Section(l.sections) + 39] = 1; },
                "there is no room for another section header: the bytes after the section table are in use"},
        Refusal{"HeadersEndRightAfterTable",
                [](auto& b, auto& l) {
                  Put32(b, l.optional + kSizeOfHeaders, static_cast<uint32_t>(l.Section(l.sections) + 8));
                },
                "there is no room for another section header: the headers end too soon after the section table"},
        Refusal{"SectionDataInsideHeaders",
                [](auto& b, auto& l) {
                  Put32(b, l.Section(0) + kPointerToRawData, static_cast<uint32_t>(l.Section(l.sections) + 8));
                },
                "section \".text\" has its data inside the headers, which packing rewrites"},
        Refusal{"ResourceDirectoryOutsideSections", [](auto& b, auto& l) { Put32(b, l.Directory(2), 0x7FFFFFF0); },
                "the resource directory lies outside the image's sections"},
        Refusal{"TreeLoopsToRoot", [](auto& b, auto& l) { Put32(b, RootEntry(b, l, 2) + 4, 0x80000000); },
                kSameDirectory},
        Refusal{"TreeSharesASubtree",
                [](auto& b, auto& l) { Put32(b, RootEntry(b, l, 1) + 4, Get32(b, RootEntry(b, l, 0) + 4)); },
                kSameDirectory},
        Refusal{"DirectoriesOverlap",
                [](auto& b, auto& l) { Put32(b, RootEntry(b, l, 1) + 4, 0x80000000 | (FirstTypeDirectory(b, l) + 4)); },
                "the resource tree's directories and data entries overlap each other"},
        Refusal{"SubdirectoryOutsideSection",
                [](auto& b, auto& l) { Put32(b, RootEntry(b, l, 0) + 4, 0x80000000 | 0x00FFFFF0); }, kOutside},
        Refusal{"EntryCountRunsPastSection", [](auto& b, auto& l) { Put16(b, ResourceRoot(b, l) + 12, 0xFFFF); },
                kOutside},
        Refusal{"NameStringOutsideSection",
                [](auto& b, auto& l) { Put32(b, RootEntry(b, l, 0), 0x80000000 | 0x00FFFFF0); }, kOutside},
        Refusal{"NameStringLengthRunsPastSection",
                [](auto& b, auto& l) {
                  Put16(b, ResourceRoot(b, l) + (Get32(b, RootEntry(b, l, 0)) & 0x7FFFFFFF), 0xFFFF);
                },
                kOutside},
        Refusal{"DataAtTypeLevel", [](auto& b, auto& l) { Put32(b, RootEntry(b, l, 0) + 4, FirstTypeDirectory(b, l)); },
                "the resource tree is not three levels deep (type, name, language)"},
        Refusal{"DirectoryAtLanguageLevel",
                [](auto& b, auto& l) {
                  const size_t root = ResourceRoot(b, l);
                  const size_t names = root + FirstTypeDirectory(b, l);
                  const size_t languages = root + (Get32(b, names + 20) & 0x7FFFFFFF);
                  Put32(b, languages + 20, 0x80000000 | Get32(b, languages + 20));
                },
                "the resource tree is not three levels deep (type, name, language)"},
        Refusal{"IdWiderThan16Bits", [](auto& b, auto& l) { Put32(b, RootEntry(b, l, 4), 0x12345); },
                "a resource ID (0x12345) is wider than 16 bits"},
        Refusal{"IdListedTwice", [](auto& b, auto& l) { Put32(b, RootEntry(b, l, 5), 6); },
                "a resource directory lists ID 6 twice"},
        Refusal{"DataOutsideSections", [](auto& b, auto& l) { Put32(b, FirstDataEntry(b, l), 0xFFFFFF00); },
                "resource data lies outside the image's sections"},
        Refusal{"DataSizePastSection", [](auto& b, auto& l) { Put32(b, FirstDataEntry(b, l) + 4, 0x7FFFFFFF); },
                "resource data lies outside the image's sections"}),
    [](const testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });

TEST(PeResources, SymbolTableFollowedByMoreBytesIsAnOverlay) {
  std::vector<uint8_t> file = LoadFixture("res64");
  const size_t trailer = file.size() - SectionDataEnd(file, Locate(file)) + 1;
  file.push_back(0);
  try {
    AddPayloadResource(file, Text("payload"));
    ADD_FAILURE() << "no refusal";
  } catch (const PeError& error) {
    EXPECT_EQ(std::string(error.what()), "the file has " + std::to_string(trailer) +
                                             " bytes after its last section (an overlay) that would be lost or misplaced");
  }
}

TEST(PeResources, ReadingStillWorksForFilesThatCannotBeWritten) {
  std::vector<uint8_t> signedFile = LoadFixture("res64s");
  const PeLayout layout = Locate(signedFile);
  Put32(signedFile, layout.Directory(4), static_cast<uint32_t>(signedFile.size()));
  Put32(signedFile, layout.Directory(4) + 4, 8);
  signedFile.resize(signedFile.size() + 8);
  EXPECT_EQ(ReadTree(signedFile), ReadTree(LoadFixture("res64s")));
}

// --- Hostile input: whatever the bytes, the outcome is a PeError or an image that reads back ---

namespace {

// Returns whether the file was packed.
bool ExpectRefusedOrConsistent(const std::vector<uint8_t>& file, const std::string& what) {
  const std::vector<uint8_t> payload = Text("payload");
  ResourceTree tree;
  std::vector<uint8_t> packed;
  try {
    tree = ReadTree(file);
    packed = AddPayloadResource(file, payload);
  } catch (const PeError&) {
    return false;
  }
  EXPECT_EQ(ReadTree(packed), WithPayload(tree, payload)) << what;
  return true;
}

}  // namespace

TEST(PeResources, EveryTruncationIsRefusedOrPackedConsistently) {
  for (const char* fixture : {"res32s", "res64s"}) {
    const std::vector<uint8_t> file = LoadFixture(fixture);
    size_t packedPrefixes = 0;
    for (size_t length = 0; length <= file.size(); ++length) {
      const std::vector<uint8_t> prefix(file.begin(), file.begin() + length);
      if (ExpectRefusedOrConsistent(prefix, std::string(fixture) + " cut to " + std::to_string(length))) {
        ++packedPrefixes;
      }
    }
    // Only the whole file is complete: every shorter one loses part of its last section.
    EXPECT_EQ(packedPrefixes, 1u) << fixture;
  }
}

TEST(PeResources, RandomDamageIsRefusedOrPackedConsistently) {
  const std::vector<uint8_t> original = LoadFixture("res64s");
  const PeLayout layout = Locate(original);
  const size_t headers = Get32(original, layout.optional + kSizeOfHeaders);
  const size_t root = ResourceRoot(original, layout);
  const size_t rsrcSize = Get32(original, layout.Directory(2) + 4);
  uint32_t state = 12345;
  auto next = [&state]() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  };
  constexpr int kRounds = 4000;
  int damaged = 0;
  int packed = 0;
  int refused = 0;
  for (int round = 0; round < kRounds; ++round) {
    std::vector<uint8_t> file = original;
    const int changes = 1 + next() % 3;
    for (int i = 0; i < changes; ++i) {
      const bool inHeaders = next() % 2 == 0;
      const size_t at = inHeaders ? next() % headers : root + next() % rsrcSize;
      const uint32_t kind = next() % 4;
      file[at] = kind == 0 ? 0 : kind == 1 ? 0xFF : kind == 2 ? static_cast<uint8_t>(file[at] ^ (1u << (next() % 8)))
                                                              : static_cast<uint8_t>(next());
    }
    // A change may write the byte that was there: such a round tests the original once more.
    if (file != original) ++damaged;
    if (ExpectRefusedOrConsistent(file, "round " + std::to_string(round))) {
      ++packed;
    } else {
      ++refused;
    }
  }
  // Most rounds damaged the file, and the damage led to both verdicts: some files are still
  // whole enough to pack, others are refused.
  EXPECT_GE(damaged, kRounds * 3 / 4);
  EXPECT_GT(packed, 0);
  EXPECT_GT(refused, 0);
  RecordProperty("damaged", damaged);
  RecordProperty("packed", packed);
  RecordProperty("refused", refused);
}
