#include "pe/icon_file.h"

#include <cstring>

#include "pe/pe_layout.h"

namespace {

using pe::Format;
using pe::Read16;
using pe::Read32;

// ICONDIR: reserved (0), type (1 for icons, 2 for cursors), image count.
constexpr uint64_t kHeaderSize = 6;
constexpr uint64_t kTypeOffset = 2;
constexpr uint64_t kCountOffset = 4;
constexpr uint16_t kIconType = 1;
constexpr uint16_t kCursorType = 2;

// ICONDIRENTRY, one per image after the header.
constexpr uint64_t kEntrySize = 16;
constexpr uint64_t kEntryWidthOffset = 0;
constexpr uint64_t kEntryHeightOffset = 1;
constexpr uint64_t kEntryColorCountOffset = 2;
constexpr uint64_t kEntryReservedOffset = 3;
constexpr uint64_t kEntryPlanesOffset = 4;
constexpr uint64_t kEntryBitCountOffset = 6;
constexpr uint64_t kEntryBytesOffset = 8;
constexpr uint64_t kEntryImageOffsetOffset = 12;

// A PNG image: its signature, then the IHDR chunk's length and type.
constexpr uint8_t kPngSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr uint64_t kPngChunkTypeOffset = 12;
constexpr uint64_t kPngHeaderEnd = 33;  // signature, IHDR length, type, 13 bytes of data, CRC

// BITMAPINFOHEADER at the start of a bitmap image; its height counts the colour and the mask rows.
constexpr uint64_t kBitmapHeaderSize = 40;
constexpr uint64_t kBitmapWidthOffset = 4;
constexpr uint64_t kBitmapHeightOffset = 8;
constexpr uint64_t kBitmapPlanesOffset = 12;
constexpr uint64_t kBitmapBitCountOffset = 14;
constexpr uint64_t kBitmapCompressionOffset = 16;
constexpr uint64_t kBitmapColorsUsedOffset = 32;
constexpr uint32_t kBitmapV4HeaderSize = 108;
constexpr uint32_t kBitmapV5HeaderSize = 124;
constexpr uint32_t kUncompressed = 0;  // BI_RGB
constexpr uint64_t kPaletteEntrySize = 4;
// The largest side that an icon directory can state; it also keeps the sizes below from overflowing.
constexpr int32_t kLargestSide = 256;

bool IsPng(const std::vector<uint8_t>& image) {
  return image.size() >= sizeof kPngSignature && std::memcmp(image.data(), kPngSignature, sizeof kPngSignature) == 0;
}

void CheckPng(const std::vector<uint8_t>& image, unsigned number) {
  if (image.size() < kPngHeaderEnd || std::memcmp(&image[kPngChunkTypeOffset], "IHDR", 4) != 0) {
    throw IconFileError(Format("image %u is a PNG image without its IHDR header", number));
  }
}

// Rows of a bitmap are padded to 32 bits.
uint64_t RowBytes(uint64_t width, uint64_t bitCount) { return (width * bitCount + 31) / 32 * 4; }

bool IsIconBitCount(uint16_t bitCount) {
  return bitCount == 1 || bitCount == 4 || bitCount == 8 || bitCount == 16 || bitCount == 24 || bitCount == 32;
}

void CheckBitmap(const std::vector<uint8_t>& image, unsigned number) {
  const uint32_t headerSize = image.size() >= 4 ? Read32(image, 0) : 0;
  if (headerSize != kBitmapHeaderSize && headerSize != kBitmapV4HeaderSize && headerSize != kBitmapV5HeaderSize) {
    throw IconFileError(Format("image %u is neither a PNG image nor a bitmap", number));
  }
  if (image.size() < headerSize) {
    throw IconFileError(Format("image %u is cut short: %u bytes, fewer than its %u-byte bitmap header", number,
                               static_cast<unsigned>(image.size()), headerSize));
  }
  const int32_t width = static_cast<int32_t>(Read32(image, kBitmapWidthOffset));
  const int32_t doubledHeight = static_cast<int32_t>(Read32(image, kBitmapHeightOffset));
  if (width < 1 || width > kLargestSide || doubledHeight < 2 || doubledHeight > 2 * kLargestSide ||
      doubledHeight % 2 != 0) {
    throw IconFileError(Format("image %u has a bitmap of %d x %d pixels; an icon bitmap is 1 to 256 pixels wide and "
                               "twice as high as its picture (1 to 256 pixels), for the mask",
                               number, width, doubledHeight));
  }
  const uint16_t planes = Read16(image, kBitmapPlanesOffset);
  const uint16_t bitCount = Read16(image, kBitmapBitCountOffset);
  const uint32_t compression = Read32(image, kBitmapCompressionOffset);
  if (planes != 1 || !IsIconBitCount(bitCount) || compression != kUncompressed) {
    throw IconFileError(Format("image %u is a bitmap that icons cannot use: %u planes, %u bits per pixel, "
                               "compression %u (an icon bitmap has 1 plane, 1 to 32 bits, no compression)",
                               number, planes, bitCount, compression));
  }
  const uint32_t colorsUsed = Read32(image, kBitmapColorsUsedOffset);
  const uint64_t fullPalette = bitCount <= 8 ? uint64_t{1} << bitCount : 0;
  // Above 8 bits a palette is optional, and a bound keeps the size sum from overflowing.
  if (colorsUsed > (bitCount <= 8 ? fullPalette : 256)) {
    throw IconFileError(Format("image %u has a palette of %u colours, more than its %u bits per pixel can use", number,
                               colorsUsed, bitCount));
  }
  const uint64_t palette = colorsUsed != 0 ? colorsUsed : fullPalette;
  const uint64_t height = static_cast<uint64_t>(doubledHeight) / 2;
  const uint64_t needed = headerSize + kPaletteEntrySize * palette + RowBytes(width, bitCount) * height +
                          RowBytes(width, 1) * height;
  if (image.size() < needed) {
    throw IconFileError(Format("image %u is cut short: a %d x %u bitmap of %u bits per pixel with its mask needs %llu "
                               "bytes, the directory gives %u",
                               number, width, static_cast<unsigned>(height), bitCount,
                               static_cast<unsigned long long>(needed), static_cast<unsigned>(image.size())));
  }
}

IconImage ReadImage(const std::vector<uint8_t>& file, unsigned number, uint64_t directoryEnd) {
  const uint64_t entry = kHeaderSize + kEntrySize * (number - 1);
  IconImage image;
  image.width = file[entry + kEntryWidthOffset];
  image.height = file[entry + kEntryHeightOffset];
  image.colorCount = file[entry + kEntryColorCountOffset];
  image.reserved = file[entry + kEntryReservedOffset];
  image.planes = Read16(file, entry + kEntryPlanesOffset);
  image.bitCount = Read16(file, entry + kEntryBitCountOffset);
  const uint32_t size = Read32(file, entry + kEntryBytesOffset);
  const uint32_t offset = Read32(file, entry + kEntryImageOffsetOffset);
  if (size == 0) throw IconFileError(Format("image %u is empty: its directory entry gives 0 bytes", number));
  if (offset < directoryEnd) {
    throw IconFileError(Format("image %u begins at offset %u, inside the directory, which ends at %u", number, offset,
                               static_cast<unsigned>(directoryEnd)));
  }
  if (!pe::Fits(offset, size, file.size())) {
    throw IconFileError(Format("image %u runs past the end of the file: %u bytes at offset %u, the file has %u",
                               number, size, offset, static_cast<unsigned>(file.size())));
  }
  image.bytes.assign(file.begin() + offset, file.begin() + offset + size);
  if (IsPng(image.bytes)) {
    CheckPng(image.bytes, number);
  } else {
    CheckBitmap(image.bytes, number);
  }
  return image;
}

}  // namespace

std::vector<IconImage> ReadIconFile(const std::vector<uint8_t>& file) {
  if (file.size() < kHeaderSize) {
    throw IconFileError(Format("cut short: %u bytes, fewer than the 6 of an icon file's header",
                               static_cast<unsigned>(file.size())));
  }
  const uint16_t type = Read16(file, kTypeOffset);
  if (Read16(file, 0) != 0 || type != kIconType) {
    throw IconFileError(type == kCursorType && Read16(file, 0) == 0
                            ? "a cursor file, not an icon file"
                            : "not an icon file: it does not begin with the bytes 00 00 01 00");
  }
  const uint16_t count = Read16(file, kCountOffset);
  if (count == 0) throw IconFileError("the icon file holds no images");
  const uint64_t directoryEnd = kHeaderSize + kEntrySize * count;
  if (file.size() < directoryEnd) {
    throw IconFileError(Format("cut short: its directory of %u images needs %u bytes, the file has %u", count,
                               static_cast<unsigned>(directoryEnd), static_cast<unsigned>(file.size())));
  }
  std::vector<IconImage> images;
  for (unsigned number = 1; number <= count; ++number) images.push_back(ReadImage(file, number, directoryEnd));
  return images;
}
