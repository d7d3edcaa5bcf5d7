// The texts of dialog controls in UTF-8, as the core holds them, through the
// W functions. Header only, Windows builds only (both dialog programs).
#pragma once

#include <windows.h>

#include <string>

#include "platform/utf16.h"

namespace zp3k {

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
