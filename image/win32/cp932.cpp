// The image comment's UTF-8 to cp932 conversion on Windows, with code page 932
// itself, never the ANSI code page. Nothing on Windows shows a stored comment,
// so the way back (cp932_to_utf8) is the POSIX front ends' alone.
#include <windows.h>

#include <string>

#include "image/hex.h"
#include "image/image_format.h"

namespace imgconv {
namespace {

constexpr UINT CP_IMAGE_COMMENT = 932;

}  // namespace

TextError utf8_to_cp932(const std::string& utf8, std::string* cp932, std::string* bad) {
  cp932->clear();
  bad->clear();
  if (utf8.empty()) return TextError::NONE;
  const int size = static_cast<int>(utf8.size());
  const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, nullptr, 0);
  if (units <= 0) {
    // Every byte outside ASCII written as \xNN.
    *bad = zp3k::escape_bytes(utf8.data(), utf8.size(), true);
    return TextError::NOT_UTF8;
  }
  std::wstring wide(static_cast<std::size_t>(units), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, &wide[0], units);
  // One character at a time, so the first one cp932 lacks can be named. A
  // character counts as held only when its bytes read back as itself: no
  // look-alike ("best fit") and no '?' ever reaches the image.
  for (std::size_t i = 0; i < wide.size();) {
    const int length = IS_HIGH_SURROGATE(wide[i]) && i + 1 < wide.size() ? 2 : 1;
    char bytes[8];
    BOOL replaced = FALSE;
    const int n = WideCharToMultiByte(CP_IMAGE_COMMENT, WC_NO_BEST_FIT_CHARS, &wide[i], length,
                                      bytes, sizeof bytes, nullptr, &replaced);
    wchar_t back[4];
    const int m = n > 0 ? MultiByteToWideChar(CP_IMAGE_COMMENT, MB_ERR_INVALID_CHARS, bytes, n,
                                              back, 4)
                        : 0;
    if (n <= 0 || replaced || m != length || wide.compare(i, length, back, m) != 0) {
      const int k = WideCharToMultiByte(CP_UTF8, 0, &wide[i], length, bytes, sizeof bytes,
                                        nullptr, nullptr);
      bad->assign(bytes, k > 0 ? static_cast<std::size_t>(k) : 0);
      cp932->clear();
      return TextError::NOT_CP932;
    }
    cp932->append(bytes, static_cast<std::size_t>(n));
    i += static_cast<std::size_t>(length);
  }
  return TextError::NONE;
}

}  // namespace imgconv
