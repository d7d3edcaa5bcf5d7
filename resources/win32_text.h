// The text edge of both Windows programs: the system is spoken to in UTF-16
// (the W functions) and the portable core works on UTF-8; the image comment's
// cp932 is made by image/win32/cp932.cpp. Header only, Windows builds only.
#pragma once

#include <windows.h>

#include <string>

namespace zp3k {

// UTF-8 (the message tables, the core's paths) to UTF-16 for the system.
inline std::wstring widen(const char* utf8) {
  if (utf8 == nullptr || utf8[0] == '\0') return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
  if (n <= 1) return {};
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8, -1, &wide[0], n);
  wide.resize(static_cast<std::size_t>(n - 1));
  return wide;
}

// UTF-16 from the system to UTF-8 for the core. An unpaired surrogate cannot
// name a file the core could pass back, so it makes the text unusable (false).
inline bool narrow(const std::wstring& wide, std::string* utf8) {
  utf8->clear();
  if (wide.empty()) return true;
  const int length = static_cast<int>(wide.size());
  const int n = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), length, nullptr,
                                    0, nullptr, nullptr);
  if (n <= 0) return false;
  utf8->resize(static_cast<std::size_t>(n));
  WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), length, &(*utf8)[0], n,
                      nullptr, nullptr);
  return true;
}

// The whole text of a dialog control, however long.
inline std::wstring item_text(HWND dialog, int id) {
  const int length = GetWindowTextLengthW(GetDlgItem(dialog, id));
  if (length <= 0) return {};
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const UINT copied = GetDlgItemTextW(dialog, id, &text[0], length + 1);
  text.resize(copied);
  return text;
}

inline void set_item_text(HWND dialog, int id, const char* utf8) {
  SetDlgItemTextW(dialog, id, widen(utf8).c_str());
}

}  // namespace zp3k
