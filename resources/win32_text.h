// The text edge of both Windows programs: the system is spoken to in UTF-16
// (the W functions), the portable core works on UTF-8, and the image header's
// comment is the one text kept in cp932. Header only, Windows builds only.
#pragma once

#include <windows.h>

#include <string>

namespace zp3k {

constexpr UINT CP_IMAGE_COMMENT = 932;  // code page of the comment stored in an image

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

// The comment as the image stores it: cp932 bytes, whatever the ANSI code
// page. False when a character has no cp932 form; it is never replaced by a
// look-alike or '?', because the controller would show that instead.
inline bool to_image_comment(const std::wstring& wide, std::string* cp932) {
  cp932->clear();
  if (wide.empty()) return true;
  const int length = static_cast<int>(wide.size());
  BOOL replaced = FALSE;
  const int n = WideCharToMultiByte(CP_IMAGE_COMMENT, WC_NO_BEST_FIT_CHARS, wide.data(), length,
                                    nullptr, 0, nullptr, &replaced);
  if (n <= 0 || replaced) return false;
  cp932->resize(static_cast<std::size_t>(n));
  WideCharToMultiByte(CP_IMAGE_COMMENT, WC_NO_BEST_FIT_CHARS, wide.data(), length, &(*cp932)[0],
                      n, nullptr, &replaced);
  // The bytes must read back as the very text typed: a conversion that
  // quietly chose a neighbour (some systems map a few characters one way
  // only) is refused as well.
  std::wstring back(wide.size() * 2, L'\0');
  const int m = MultiByteToWideChar(CP_IMAGE_COMMENT, MB_ERR_INVALID_CHARS, cp932->data(), n,
                                    &back[0], static_cast<int>(back.size()));
  back.resize(m > 0 ? static_cast<std::size_t>(m) : 0);
  return !replaced && back == wide;
}

}  // namespace zp3k
