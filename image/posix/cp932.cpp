// The image comment's cp932 <-> UTF-8 conversion on POSIX, with iconv(3).
#include "image/image_format.h"

#include <iconv.h>

#include <cerrno>

#include "image/hex.h"

namespace image {
namespace {

constexpr char CP932[] = "CP932";
constexpr char UTF8[] = "UTF-8";

// Length of the UTF-8 sequence that starts with byte b (1 for a stray byte).
std::size_t utf8_sequence_length(unsigned char b) {
  if (b >= 0xF0) return 4;
  if (b >= 0xE0) return 3;
  if (b >= 0xC0) return 2;
  return 1;
}

// Converts all of in; on a sequence that cannot be converted either stops
// (returning false with its offset) or, when escape is set, appends \xNN
// for one byte and goes on.
bool convert(const char* to, const char* from, const std::string& in, std::string* out,
             bool escape, std::size_t* bad_offset) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    *bad_offset = 0;
    return false;
  }
  out->clear();
  char* src = const_cast<char*>(in.data());
  std::size_t src_left = in.size();
  char chunk[256];
  bool ok = true;
  while (src_left > 0) {
    char* dst = chunk;
    std::size_t dst_left = sizeof chunk;
    std::size_t r = iconv(cd, &src, &src_left, &dst, &dst_left);
    out->append(chunk, static_cast<std::size_t>(dst - chunk));
    if (r != static_cast<std::size_t>(-1)) continue;
    if (errno == E2BIG) continue;
    // EILSEQ, or EINVAL for a sequence cut short at the end of the text.
    if (!escape) {
      *bad_offset = static_cast<std::size_t>(src - in.data());
      ok = false;
      break;
    }
    *out += zp3k::escape_bytes(src, 1);
    ++src;
    --src_left;
  }
  if (ok) {
    char* dst = chunk;
    std::size_t dst_left = sizeof chunk;
    iconv(cd, nullptr, nullptr, &dst, &dst_left);
    out->append(chunk, static_cast<std::size_t>(dst - chunk));
  }
  iconv_close(cd);
  return ok;
}

}  // namespace

TextError utf8_to_cp932(const std::string& utf8, std::string* cp932, std::string* bad) {
  std::size_t offset = 0;
  if (convert(CP932, UTF8, utf8, cp932, false, &offset)) return TextError::NONE;
  std::size_t n = utf8_sequence_length(static_cast<unsigned char>(utf8[offset]));
  if (offset + n > utf8.size()) n = utf8.size() - offset;
  // Show the character itself when it is valid UTF-8, else its bytes.
  std::string piece = utf8.substr(offset, n);
  std::string probe;
  std::size_t ignored = 0;
  bool valid = convert("UTF-16LE", UTF8, piece, &probe, false, &ignored);
  if (valid) {
    *bad = piece;
    return TextError::NOT_CP932;
  }
  *bad = zp3k::escape_bytes(piece.data(), piece.size());
  return TextError::NOT_UTF8;
}

std::string cp932_to_utf8(const std::string& cp932) {
  std::string out;
  std::size_t ignored = 0;
  convert(UTF8, CP932, cp932, &out, true, &ignored);
  return out;
}

}  // namespace image
