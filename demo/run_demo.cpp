// Runs a setup program the way its user does and tells what happened: the steps the dialog showed,
// a picture of the dialog while it unpacks, the files of the extraction folder with their times,
// whether the launch program ran, and the exit code.
//
//   run_demo SETUP.EXE TEMP-FOLDER PICTURE.BMP
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "setup_session.h"

namespace {

constexpr char kExtractionFolderName[] = "{93BE7657-D655-425A-8E7A-F7D9392A5939}";

// The dialog as the screen shows it, as a 24-bit bottom-up bitmap file.
bool SaveWindowPicture(HWND window, const char* path) {
  RECT rect;
  if (!GetWindowRect(window, &rect)) return false;
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  SelectObject(memory, old);

  BITMAPINFOHEADER info = {};
  info.biSize = sizeof(info);
  info.biWidth = width;
  info.biHeight = height;
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biCompression = BI_RGB;
  const DWORD rowSize = ((width * 3 + 3) / 4) * 4;
  std::vector<BYTE> pixels(rowSize * height);
  const int rows = GetDIBits(memory, bitmap, 0, height, pixels.data(), reinterpret_cast<BITMAPINFO*>(&info),
                             DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  if (rows != height) return false;

  BITMAPFILEHEADER file = {};
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof(file) + sizeof(info);
  file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
  FILE* out = std::fopen(path, "wb");
  if (out == nullptr) return false;
  std::fwrite(&file, sizeof(file), 1, out);
  std::fwrite(&info, sizeof(info), 1, out);
  std::fwrite(pixels.data(), 1, pixels.size(), out);
  return std::fclose(out) == 0;
}

std::string FormatTime(const FILETIME& time) {
  SYSTEMTIME parts;
  if (!FileTimeToSystemTime(&time, &parts)) return "(not a time)";
  const unsigned long long ticks = (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  char text[64];
  std::snprintf(text, sizeof(text), "%04u-%02u-%02u %02u:%02u:%02u.%07llu UTC", parts.wYear, parts.wMonth, parts.wDay,
                parts.wHour, parts.wMinute, parts.wSecond, ticks % 10000000ULL);
  return text;
}

void ListFiles(const std::string& folder, const std::string& relative) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + relative + "*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const std::string name = found.cFileName;
    if (name == "." || name == "..") continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      ListFiles(folder, relative + name + "\\");
      continue;
    }
    std::printf("  %-34s %6lu bytes  created %s\n", (relative + name).c_str(), found.nFileSizeLow,
                FormatTime(found.ftCreationTime).c_str());
    std::printf("  %-34s %6s        accessed %s, written %s\n", "", "", FormatTime(found.ftLastAccessTime).c_str(),
                FormatTime(found.ftLastWriteTime).c_str());
  } while (FindNextFileA(search, &found));
  FindClose(search);
}

void PrintSequence(const char* what, const std::vector<std::string>& values) {
  std::printf("%s:", what);
  for (const std::string& value : values) std::printf(" \"%s\"", value.c_str());
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: run_demo SETUP.EXE TEMP-FOLDER PICTURE.BMP\n");
    return 2;
  }
  const std::string temp = argv[2];
  SetupSession session(argv[1], temp);
  bool pictured = false;
  bool unpacking = false;
  session.Run([&](SetupSession& seen) {
    // The entries are being written once the percent has started again from 0%.
    if (seen.percent() == "0%") unpacking = true;
    if (!pictured && unpacking && seen.status() == "Extracting file information..." && seen.percent() != "0%") {
      pictured = SaveWindowPicture(seen.dialogWindow(), argv[3]);
    }
  });

  std::printf("The setup program showed\n");
  PrintSequence("  status line", session.statuses());
  PrintSequence("  percent text", session.percents());
  for (const SeenBox& box : session.boxes()) std::printf("  a message box: \"%s\"\n", box.text.c_str());
  std::printf("  %s\n", pictured ? "(picture of the dialog taken while it unpacked)" : "(no picture taken)");

  const std::string folder = temp + "\\" + kExtractionFolderName + "\\";
  std::printf("\nFiles in %s\n", folder.c_str());
  ListFiles(folder, "");

  std::string note;
  for (int wait = 0; wait < 50 && note.empty(); ++wait) {
    if (FILE* in = std::fopen((folder + "welcome-ran.txt").c_str(), "r")) {
      char line[512];
      while (std::fgets(line, sizeof(line), in)) note += std::string("  ") + line;
      std::fclose(in);
    } else {
      Sleep(100);
    }
  }
  std::printf("\nThe launch program %s\n%s", note.empty() ? "did not run" : "ran:", note.c_str());
  std::printf("\nExit code of the setup program: %lu\n", session.exitCode());
  return session.timedOut() || note.empty() || !pictured ? 1 : 0;
}
