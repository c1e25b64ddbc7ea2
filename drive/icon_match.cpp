#include "icon_match.h"

#include <cstdint>
#include <cstdlib>
#include <utility>

namespace {

// A 32-bit top-down bitmap of `width` x `height` pixels in a memory device context.
class Canvas {
 public:
  Canvas(int width, int height) : width_(width), height_(height) {
    HDC screen = GetDC(nullptr);
    context_ = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    bitmap_ = CreateDIBSection(screen, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&pixels_), nullptr, 0);
    ReleaseDC(nullptr, screen);
    previous_ = SelectObject(context_, bitmap_);
  }
  ~Canvas() {
    SelectObject(context_, previous_);
    DeleteObject(bitmap_);
    DeleteDC(context_);
  }
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  HDC context() const { return context_; }
  uint32_t Pixel(int x, int y) const { return pixels_[y * width_ + x] & 0xFFFFFF; }
  void Fill(COLORREF colour) {
    RECT all = {0, 0, width_, height_};
    HBRUSH brush = CreateSolidBrush(colour);
    FillRect(context_, &all, brush);
    DeleteObject(brush);
    GdiFlush();
  }

 private:
  int width_;
  int height_;
  HDC context_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ previous_ = nullptr;
  uint32_t* pixels_ = nullptr;
};

bool SameColour(uint32_t a, uint32_t b) {
  for (int shift = 0; shift < 24; shift += 8) {
    if (std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)) > 8) return false;
  }
  return true;
}

}  // namespace

double IconMatch(HWND picture, HICON icon) {
  RECT area;
  if (icon == nullptr || !GetWindowRect(picture, &area)) return 0;
  const int width = area.right - area.left;
  const int height = area.bottom - area.top;
  if (width <= 0 || height <= 0) return 0;

  Canvas screen(width, height);
  HDC desktop = GetDC(nullptr);
  BitBlt(screen.context(), 0, 0, width, height, desktop, area.left, area.top, SRCCOPY);
  ReleaseDC(nullptr, desktop);
  GdiFlush();

  // Drawn once on black and once on white: the pixels that come out the same on both are the
  // icon's opaque ones, whatever its mask or alpha channel.
  Canvas onBlack(width, height);
  Canvas onWhite(width, height);
  onBlack.Fill(RGB(0, 0, 0));
  onWhite.Fill(RGB(255, 255, 255));
  DrawIconEx(onBlack.context(), 0, 0, icon, width, height, 0, nullptr, DI_NORMAL);
  DrawIconEx(onWhite.context(), 0, 0, icon, width, height, 0, nullptr, DI_NORMAL);
  GdiFlush();

  int opaque = 0;
  int matching = 0;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      if (onBlack.Pixel(x, y) != onWhite.Pixel(x, y)) continue;
      ++opaque;
      if (SameColour(onBlack.Pixel(x, y), screen.Pixel(x, y))) ++matching;
    }
  }
  return opaque == 0 ? 0 : static_cast<double>(matching) / opaque;
}

std::string IdentifyStandardIcon(HWND picture) {
  const std::pair<LPCSTR, const char*> candidates[] = {
      {IDI_ERROR, "error"}, {IDI_WARNING, "exclamation"}, {IDI_INFORMATION, "information"}, {IDI_QUESTION, "question"}};
  // The box may not have painted its picture yet when it first shows.
  for (int attempt = 0; attempt < 25; ++attempt) {
    for (const auto& candidate : candidates) {
      if (IconMatch(picture, LoadIconA(nullptr, candidate.first)) >= 0.95) return candidate.second;
    }
    Sleep(20);
  }
  return "unknown";
}

double OwnIconMatch(const std::string& program, HWND picture) {
  HMODULE file = LoadLibraryExA(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  HICON icon = static_cast<HICON>(LoadImageA(file, MAKEINTRESOURCEA(1000), IMAGE_ICON, 32, 32, 0));
  const double match = IconMatch(picture, icon);
  if (icon != nullptr) DestroyIcon(icon);
  if (file != nullptr) FreeLibrary(file);
  return match;
}
