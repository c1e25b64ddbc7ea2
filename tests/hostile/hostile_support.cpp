#include "hostile_support.h"

#include <windows.h>

#include <algorithm>

namespace {

void ListInto(const std::wstring& root, const std::wstring& relative, std::vector<std::string>* listing) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((root + L"\\" + relative + L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      listing->push_back(Utf8(relative + name + L"\\"));
      ListInto(root, relative + name + L"\\", listing);
    } else {
      listing->push_back(Utf8(relative + name));
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

}  // namespace

std::string Utf8(const std::wstring& wide) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string text(size > 0 ? size : 1, '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, &text[0], size, nullptr, nullptr);
  text.resize(size > 0 ? size - 1 : 0);
  return text;
}

std::vector<std::string> TreeListing(const std::wstring& root) {
  std::vector<std::string> listing;
  ListInto(root, L"", &listing);
  std::sort(listing.begin(), listing.end());
  return listing;
}

std::vector<std::string> TreeListing(const std::string& root) { return TreeListing(Widen(root)); }

std::vector<unsigned char> ReadWholeFileW(const std::wstring& path) {
  std::vector<unsigned char> bytes;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  unsigned char block[65536];
  DWORD read = 0;
  while (ReadFile(file, block, sizeof(block), &read, nullptr) && read > 0) bytes.insert(bytes.end(), block, block + read);
  CloseHandle(file);
  return bytes;
}
