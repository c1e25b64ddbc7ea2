// The icon file reader: every image with its directory fields, bitmaps and PNG alike, and the
// refusal of every malformed file with the reason the user is shown.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "pe/icon_file.h"
#include "pe_test_support.h"
#include "test_icons.h"

namespace {

constexpr uint32_t kQuarters[4] = {0xE02020, 0x20A020, 0x2040E0, 0xF0D000};

// Two bitmaps and a PNG image, as an icon editor saves them.
std::vector<TestIconImage> ThreeImages() { return {BitmapIcon(16, kQuarters), BitmapIcon(32, kQuarters), PngIcon(256, 0x3366CC)}; }

constexpr size_t kEntry = 6;          // the first directory entry
constexpr size_t kEntrySize = 16;
constexpr size_t kEntryBytes = 8;
constexpr size_t kEntryOffset = 12;

std::string RefusalOf(const std::vector<uint8_t>& file) {
  try {
    ReadIconFile(file);
  } catch (const IconFileError& error) {
    return error.what();
  }
  return "(accepted)";
}

// The bytes of a literal, NULs included.
template <size_t N>
std::vector<uint8_t> Literal(const char (&text)[N]) {
  return std::vector<uint8_t>(text, text + N - 1);
}

}  // namespace

TEST(IconFile, ReadsEveryImageWithItsDirectoryFields) {
  const std::vector<TestIconImage> written = ThreeImages();
  std::vector<uint8_t> file = IconFile(written);
  file[kEntry + 2] = 0;            // colour count
  Put16(file, kEntry + kEntrySize + 4, 0);  // a directory that leaves planes to the bitmap

  const std::vector<IconImage> images = ReadIconFile(file);

  ASSERT_EQ(images.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(images[i].width, written[i].width);
    EXPECT_EQ(images[i].height, written[i].height);
    EXPECT_EQ(images[i].bitCount, 32);
    EXPECT_EQ(images[i].bytes, written[i].bytes);
  }
  EXPECT_EQ(images[0].planes, 1);
  EXPECT_EQ(images[1].planes, 0) << "the directory's fields are carried as they are";
  EXPECT_EQ(images[2].width, 0) << "256 pixels";
  EXPECT_EQ(images[2].bytes[1], 'P');
}

TEST(IconFile, PalettedBitmapsNeedTheirPaletteAndBothPlanes) {
  // 16 x 16 at 4 bits: 40 + 16 colours * 4 + 16 rows * 8 + 16 rows * 4 = 296 bytes.
  std::vector<uint8_t> bitmap(296, 0);
  Put32(bitmap, 0, 40);
  Put32(bitmap, 4, 16);
  Put32(bitmap, 8, 32);
  Put16(bitmap, 12, 1);
  Put16(bitmap, 14, 4);
  std::vector<uint8_t> file = IconFile({TestIconImage{16, 16, 4, bitmap}});
  EXPECT_EQ(ReadIconFile(file).at(0).bytes, bitmap);

  bitmap.pop_back();
  EXPECT_EQ(RefusalOf(IconFile({TestIconImage{16, 16, 4, bitmap}})),
            "image 1 is cut short: a 16 x 16 bitmap of 4 bits per pixel with its mask needs 296 bytes, the directory "
            "gives 295");
  // A palette of 2 colours of the 16 that 4 bits could use makes the image 56 bytes shorter.
  bitmap.resize(296 - 56);
  Put32(bitmap, 32, 2);
  EXPECT_EQ(ReadIconFile(IconFile({TestIconImage{16, 16, 4, bitmap}})).size(), 1u);
}

TEST(IconFile, MalformedFilesAreRefusedWithTheirReason) {
  const std::vector<uint8_t> good = IconFile({BitmapIcon(32, kQuarters)});
  const size_t bitmap = kEntry + kEntrySize;
  struct Case {
    const char* what;
    std::vector<uint8_t> file;
    std::string refusal;
  };
  const auto edited = [&](const std::function<void(std::vector<uint8_t>&)>& edit) {
    std::vector<uint8_t> file = good;
    edit(file);
    return file;
  };
  const std::vector<Case> cases = {
      {"empty", {}, "cut short: 0 bytes, fewer than the 6 of an icon file's header"},
      {"five bytes", {0, 0, 1, 0, 1}, "cut short: 5 bytes, fewer than the 6 of an icon file's header"},
      {"a bitmap file", Literal("BM6\x0c\0\0\0\0"), "not an icon file: it does not begin with the bytes 00 00 01 00"},
      {"a cursor", edited([](auto& f) { f[2] = 2; }), "a cursor file, not an icon file"},
      {"no images", {0, 0, 1, 0, 0, 0}, "the icon file holds no images"},
      {"count past the end", edited([](auto& f) { Put16(f, 4, 0x2000); }),
       "cut short: its directory of 8192 images needs 131078 bytes, the file has 4286"},
      {"an image of 0 bytes", edited([](auto& f) { Put32(f, kEntry + kEntryBytes, 0); }),
       "image 1 is empty: its directory entry gives 0 bytes"},
      {"an image inside the directory", edited([](auto& f) { Put32(f, kEntry + kEntryOffset, 6); }),
       "image 1 begins at offset 6, inside the directory, which ends at 22"},
      {"an image past the end", edited([](auto& f) { Put32(f, kEntry + kEntryBytes, 4265); }),
       "image 1 runs past the end of the file: 4265 bytes at offset 22, the file has 4286"},
      {"offset and size whose 32-bit sum wraps", edited([](auto& f) {
         Put32(f, kEntry + kEntryBytes, 0x100);
         Put32(f, kEntry + kEntryOffset, 0xFFFFFF80);
       }),
       "image 1 runs past the end of the file: 256 bytes at offset 4294967168, the file has 4286"},
      {"the last byte of the mask missing", edited([](auto& f) {
         f.pop_back();
         Put32(f, kEntry + kEntryBytes, 4263);
       }),
       "image 1 is cut short: a 32 x 32 bitmap of 32 bits per pixel with its mask needs 4264 bytes, the directory "
       "gives 4263"},
      {"a width whose size would overflow", edited([&](auto& f) { Put32(f, bitmap + 4, 0x7FFFFFFF); }),
       "image 1 has a bitmap of 2147483647 x 64 pixels; an icon bitmap is 1 to 256 pixels wide and twice as high as "
       "its picture (1 to 256 pixels), for the mask"},
      {"a top-down bitmap", edited([&](auto& f) { Put32(f, bitmap + 8, static_cast<uint32_t>(-64)); }),
       "image 1 has a bitmap of 32 x -64 pixels; an icon bitmap is 1 to 256 pixels wide and twice as high as its "
       "picture (1 to 256 pixels), for the mask"},
      {"a height without the mask", edited([&](auto& f) { Put32(f, bitmap + 8, 33); }),
       "image 1 has a bitmap of 32 x 33 pixels; an icon bitmap is 1 to 256 pixels wide and twice as high as its "
       "picture (1 to 256 pixels), for the mask"},
      {"a compressed bitmap", edited([&](auto& f) { Put32(f, bitmap + 16, 1); }),
       "image 1 is a bitmap that icons cannot use: 1 planes, 32 bits per pixel, compression 1 (an icon bitmap has 1 "
       "plane, 1 to 32 bits, no compression)"},
      {"7 bits per pixel", edited([&](auto& f) { Put16(f, bitmap + 14, 7); }),
       "image 1 is a bitmap that icons cannot use: 1 planes, 7 bits per pixel, compression 0 (an icon bitmap has 1 "
       "plane, 1 to 32 bits, no compression)"},
      {"a palette larger than 8 bits can use", edited([&](auto& f) { Put16(f, bitmap + 14, 8); Put32(f, bitmap + 32, 257); }),
       "image 1 has a palette of 257 colours, more than its 8 bits per pixel can use"},
      {"a core header", edited([&](auto& f) { Put32(f, bitmap, 12); }), "image 1 is neither a PNG image nor a bitmap"},
      {"a PNG image without IHDR", IconFile({TestIconImage{0, 0, 32, Literal("\x89PNG\r\n\x1a\n\0\0\0\x0dIDAT0123456789abcdefghi")}}),
       "image 1 is a PNG image without its IHDR header"},
  };
  for (const Case& c : cases) EXPECT_EQ(RefusalOf(c.file), c.refusal) << c.what;
}

TEST(IconFile, TheSecondOfTwoImagesIsNamedByItsNumber) {
  std::vector<uint8_t> file = IconFile({BitmapIcon(16, kQuarters), BitmapIcon(32, kQuarters)});
  file.resize(file.size() - 1);
  EXPECT_EQ(RefusalOf(file), "image 2 runs past the end of the file: 4264 bytes at offset 1166, the file has 5429");
}

// Under the sanitizers: no prefix of a good file is read past its end, and none is accepted.
TEST(IconFile, EveryTruncationIsRefused) {
  const std::vector<uint8_t> file = IconFile({BitmapIcon(16, kQuarters), PngIcon(4, 0x3366CC)});
  for (size_t length = 0; length < file.size(); ++length) {
    EXPECT_EQ(RefusalOf(std::vector<uint8_t>(file.begin(), file.begin() + length)).find("(accepted)"), std::string::npos)
        << length;
  }
}
