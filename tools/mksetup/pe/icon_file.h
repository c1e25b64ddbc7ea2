// A Windows icon file (.ico) as `--icon` takes it: its directory and its images, each checked to be
// a whole bitmap or PNG image inside the file before the packer carries it.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <vector>

// Every refusal of an icon file; what() says what is wrong, in words meant for the user.
class IconFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One image with the fields that its directory entry gives, which a program's icon group repeats.
struct IconImage {
  uint8_t width = 0;   // 0 stands for 256
  uint8_t height = 0;
  uint8_t colorCount = 0;
  uint8_t reserved = 0;
  uint16_t planes = 0;
  uint16_t bitCount = 0;
  std::vector<uint8_t> bytes;  // a bitmap without its file header, or a whole PNG file
};

// The images of an icon file in the order of its directory. Throws IconFileError for a file that
// is not an icon file, has no images, is cut short, or holds an image that runs past its end, lies
// inside the directory, or is neither a PNG image nor an uncompressed icon bitmap that fits its
// stated size.
std::vector<IconImage> ReadIconFile(const std::vector<uint8_t>& file);
