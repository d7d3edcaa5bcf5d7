// UTF-8 and UTF-16 with MultiByteToWideChar and WideCharToMultiByte.
#include <windows.h>

#include "platform/utf16.h"

namespace zp3k {

namespace {

bool to_utf16(const char* utf8, int bytes, DWORD flags, std::wstring* wide) {
  wide->clear();
  if (bytes == 0) return true;
  const int units = MultiByteToWideChar(CP_UTF8, flags, utf8, bytes, nullptr, 0);
  if (units <= 0) return false;
  wide->resize(static_cast<std::size_t>(units));
  return MultiByteToWideChar(CP_UTF8, flags, utf8, bytes, &(*wide)[0], units) == units;
}

bool to_utf8(const wchar_t* wide, std::size_t units, DWORD flags, std::string* utf8) {
  utf8->clear();
  if (units == 0) return true;
  const int length = static_cast<int>(units);
  const int bytes = WideCharToMultiByte(CP_UTF8, flags, wide, length, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return false;
  utf8->resize(static_cast<std::size_t>(bytes));
  return WideCharToMultiByte(CP_UTF8, flags, wide, length, &(*utf8)[0], bytes, nullptr, nullptr) == bytes;
}

}  // namespace

std::wstring widen(const char* utf8) {
  std::wstring wide;
  if (utf8 != nullptr) to_utf16(utf8, static_cast<int>(std::char_traits<char>::length(utf8)), 0, &wide);
  return wide;
}

bool widen_exact(const std::string& utf8, std::wstring* wide) {
  return to_utf16(utf8.data(), static_cast<int>(utf8.size()), MB_ERR_INVALID_CHARS, wide);
}

bool narrow(const std::wstring& wide, std::string* utf8) {
  return to_utf8(wide.data(), wide.size(), WC_ERR_INVALID_CHARS, utf8);
}

std::string narrow_lossy(const wchar_t* wide, std::size_t units) {
  std::string utf8;
  to_utf8(wide, units, 0, &utf8);
  return utf8;
}

}  // namespace zp3k
