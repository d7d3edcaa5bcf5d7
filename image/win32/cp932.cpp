// The image comment's UTF-8 to cp932 conversion on Windows, with code page 932
// itself, never the ANSI code page; the way back for the command lines, which
// show a stored comment.
#include <windows.h>

#include <string>

#include "image/hex.h"
#include "image/image_format.h"

namespace image {
namespace {

constexpr UINT CP_IMAGE_COMMENT = 932;

}  // namespace

// One character at a time (a lead byte takes two), so that a byte that
// starts no cp932 character is shown as \xNN and the rest still reads.
std::string cp932_to_utf8(const std::string& cp932) {
  std::string out;
  for (std::size_t i = 0; i < cp932.size();) {
    const unsigned char b = static_cast<unsigned char>(cp932[i]);
    const int length = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC) ? 2 : 1;
    wchar_t wide[2];
    const int units = i + length <= cp932.size()
                          ? MultiByteToWideChar(CP_IMAGE_COMMENT, MB_ERR_INVALID_CHARS,
                                                &cp932[i], length, wide, 2)
                          : 0;
    char bytes[8];
    const int n = units > 0 ? WideCharToMultiByte(CP_UTF8, 0, wide, units, bytes, sizeof bytes,
                                                  nullptr, nullptr)
                            : 0;
    if (n <= 0) {
      out += zp3k::escape_bytes(&cp932[i], 1);
      ++i;
      continue;
    }
    out.append(bytes, static_cast<std::size_t>(n));
    i += static_cast<std::size_t>(length);
  }
  return out;
}

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

}  // namespace image
