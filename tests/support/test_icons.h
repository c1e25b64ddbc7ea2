// Icon files made in memory for the tests, laid out as icon editors write them: the directory,
// then each image in turn. Bitmap images show four coloured quarters, so a picture on screen can
// be told from another; PNG images are whole, valid PNG files.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

struct TestIconImage {
  uint8_t width = 0;   // as the directory states it: 0 for 256
  uint8_t height = 0;
  uint16_t bitCount = 0;
  std::vector<uint8_t> bytes;
};

inline void TestIconPut16(std::vector<uint8_t>& out, uint32_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

inline void TestIconPut32(std::vector<uint8_t>& out, uint32_t value) {
  TestIconPut16(out, value & 0xFFFF);
  TestIconPut16(out, value >> 16);
}

// The colour (0xRRGGBB) of the quarter that holds pixel (x, y), counted from the top left.
inline uint32_t QuarterColour(const uint32_t (&quarters)[4], int size, int x, int y) {
  return quarters[(y < size / 2 ? 0 : 2) + (x < size / 2 ? 0 : 1)];
}

// A 32-bit bitmap image, opaque everywhere: BITMAPINFOHEADER with the doubled height, the pixels
// bottom row first, and an AND mask of zeros.
inline TestIconImage BitmapIcon(int size, const uint32_t (&quarters)[4]) {
  TestIconImage image;
  image.width = image.height = static_cast<uint8_t>(size);
  image.bitCount = 32;
  std::vector<uint8_t>& out = image.bytes;
  const uint32_t maskRow = (size + 31) / 32 * 4;
  for (uint32_t field : {40u, static_cast<uint32_t>(size), static_cast<uint32_t>(2 * size)}) TestIconPut32(out, field);
  TestIconPut16(out, 1);
  TestIconPut16(out, 32);
  for (uint32_t field : {0u, static_cast<uint32_t>(size * size * 4 + maskRow * size), 0u, 0u, 0u, 0u}) {
    TestIconPut32(out, field);
  }
  for (int y = size - 1; y >= 0; --y) {
    for (int x = 0; x < size; ++x) TestIconPut32(out, 0xFF000000u | QuarterColour(quarters, size, x, y));
  }
  out.resize(out.size() + maskRow * size, 0);
  return image;
}

inline uint32_t TestIconCrc32(const uint8_t* data, size_t length) {
  uint32_t crc = 0xFFFFFFFF;
  for (size_t i = 0; i < length; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

inline void TestIconPngChunk(std::vector<uint8_t>& png, const char* type, const std::vector<uint8_t>& data) {
  const uint32_t length = static_cast<uint32_t>(data.size());
  for (int shift = 24; shift >= 0; shift -= 8) png.push_back(static_cast<uint8_t>(length >> shift));
  const size_t typeAt = png.size();
  png.insert(png.end(), type, type + 4);
  png.insert(png.end(), data.begin(), data.end());
  const uint32_t crc = TestIconCrc32(&png[typeAt], png.size() - typeAt);
  for (int shift = 24; shift >= 0; shift -= 8) png.push_back(static_cast<uint8_t>(crc >> shift));
}

// A PNG image of `size` x `size` RGBA pixels in one colour, its zlib stream in stored blocks.
inline TestIconImage PngIcon(int size, uint32_t colour) {
  std::vector<uint8_t> raw;
  for (int y = 0; y < size; ++y) {
    raw.push_back(0);  // filter: none
    for (int x = 0; x < size; ++x) {
      for (int shift : {16, 8, 0}) raw.push_back(static_cast<uint8_t>(colour >> shift));
      raw.push_back(0xFF);
    }
  }
  std::vector<uint8_t> zlib = {0x78, 0x01};
  for (size_t at = 0; at < raw.size(); at += 0xFFFF) {
    const size_t length = std::min<size_t>(0xFFFF, raw.size() - at);
    zlib.push_back(at + length == raw.size() ? 1 : 0);
    TestIconPut16(zlib, static_cast<uint32_t>(length));
    TestIconPut16(zlib, static_cast<uint32_t>(~length & 0xFFFF));
    zlib.insert(zlib.end(), raw.begin() + at, raw.begin() + at + length);
  }
  uint32_t a = 1, b = 0;
  for (uint8_t byte : raw) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  for (int shift = 24; shift >= 0; shift -= 8) zlib.push_back(static_cast<uint8_t>(((b << 16) | a) >> shift));

  TestIconImage image;
  image.width = image.height = static_cast<uint8_t>(size == 256 ? 0 : size);
  image.bitCount = 32;
  std::vector<uint8_t>& png = image.bytes;
  png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> header;
  for (int shift = 24; shift >= 0; shift -= 8) header.push_back(static_cast<uint8_t>(size >> shift));
  for (int shift = 24; shift >= 0; shift -= 8) header.push_back(static_cast<uint8_t>(size >> shift));
  header.insert(header.end(), {8, 6, 0, 0, 0});  // 8 bits per sample, RGBA, deflate, no filter set, no interlace
  TestIconPngChunk(png, "IHDR", header);
  TestIconPngChunk(png, "IDAT", zlib);
  TestIconPngChunk(png, "IEND", {});
  return image;
}

// The .ico file: ICONDIR, one ICONDIRENTRY per image, the images back to back.
inline std::vector<uint8_t> IconFile(const std::vector<TestIconImage>& images) {
  std::vector<uint8_t> file;
  TestIconPut16(file, 0);
  TestIconPut16(file, 1);
  TestIconPut16(file, static_cast<uint32_t>(images.size()));
  uint32_t offset = static_cast<uint32_t>(6 + 16 * images.size());
  for (const TestIconImage& image : images) {
    file.insert(file.end(), {image.width, image.height, 0, 0});
    TestIconPut16(file, 1);
    TestIconPut16(file, image.bitCount);
    TestIconPut32(file, static_cast<uint32_t>(image.bytes.size()));
    TestIconPut32(file, offset);
    offset += static_cast<uint32_t>(image.bytes.size());
  }
  for (const TestIconImage& image : images) file.insert(file.end(), image.bytes.begin(), image.bytes.end());
  return file;
}
