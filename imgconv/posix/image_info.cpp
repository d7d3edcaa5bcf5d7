// --info: reads an image or header-only file, prints its header and checks it.
#include "imgconv/posix/image_info.h"

#include <cstring>
#include <string>
#include <vector>

#include "imgconv/image_format.h"
#include "imgconv/posix/cp932.h"
#include "imgconv/posix/texts.h"

namespace imgconv {
namespace {

constexpr std::uint32_t BASE_NONE = 0;
constexpr std::uint32_t BASE_LOW = 0x8000;
constexpr std::uint32_t BASE_HIGH = 0x100000;
constexpr std::uint32_t CHECKED_FROM = 12;  // bytes: the checksum covers offset 12 onwards

const char* mark(bool ok) { return ok ? "OK" : "NG"; }

}  // namespace

void format_version(unsigned version, char* out, std::size_t out_size) {
  const char* digits = "0123456789ABCDEF";
  unsigned suffix = (version >> 12) & 0xF;
  if (suffix == 0) {
    std::snprintf(out, out_size, "%c.%c%c", digits[(version >> 8) & 0xF],
                  digits[(version >> 4) & 0xF], digits[version & 0xF]);
  } else {
    std::snprintf(out, out_size, "%c.%c%c_%c", digits[(version >> 8) & 0xF],
                  digits[(version >> 4) & 0xF], digits[version & 0xF], digits[suffix]);
  }
}

int show_image_info(const char* path, std::FILE* out) {
  std::FILE* f = std::fopen(path, "rb");
  if (f == nullptr) {
    std::fprintf(out, "%s: %s\n", TEXT_CANNOT_READ, path);
    return EXIT_NO_INPUT;
  }
  // One byte more than the largest image tells an oversized file apart.
  std::vector<std::uint8_t> data(IMAGE_LIMIT + 1);
  std::size_t size = std::fread(data.data(), 1, data.size(), f);
  bool read_error = std::ferror(f) != 0;
  std::fclose(f);
  if (read_error) {
    std::fprintf(out, "%s: %s\n", TEXT_CANNOT_READ, path);
    return EXIT_NO_INPUT;
  }
  std::fprintf(out, "file:         %s (%zu bytes%s)\n", path, size,
               size > IMAGE_LIMIT ? " or more" : "");
  if (size < IMAGE_HEADER_SIZE) {
    std::fprintf(out, "%s: shorter than the 64-byte header\n", TEXT_INVALID_IMAGE);
    return EXIT_BAD_IMAGE;
  }

  ImageHeader h = decode_header(data.data());
  bool whole_blocks = size <= IMAGE_LIMIT && size % IMAGE_BLOCK_SIZE == 0;
  bool magic_ok = h.magic == IMAGE_MAGIC;
  bool size_ok = whole_blocks && h.size == size;
  bool length_ok = whole_blocks && h.length == size - CHECKED_FROM;
  std::uint32_t computed = whole_blocks ? xor_words(data.data() + CHECKED_FROM, size - CHECKED_FROM) : 0;
  bool checksum_ok = whole_blocks && h.checksum == computed;
  bool base_ok = h.base_address == BASE_NONE || h.base_address == BASE_LOW || h.base_address == BASE_HIGH;
  // The comment must end with its NUL within 31 bytes.
  bool comment_ok = std::memchr(data.data() + HEADER_COMMENT, 0, IMAGE_COMMENT_MAX + 1) != nullptr;
  char version[16];
  format_version(h.version, version, sizeof version);

  std::fprintf(out, "magic:        0x%08X %s\n", h.magic, mark(magic_ok));
  std::fprintf(out, "length:       0x%08X (%u) %s\n", h.length, h.length, mark(length_ok));
  if (whole_blocks) {
    std::fprintf(out, "checksum:     0x%08X %s", h.checksum, mark(checksum_ok));
    if (!checksum_ok) std::fprintf(out, " (computed 0x%08X)", computed);
    std::fprintf(out, "\n");
  } else {
    std::fprintf(out, "checksum:     0x%08X NG (not a whole number of 2048-byte blocks)\n", h.checksum);
  }
  std::fprintf(out, "base address: 0x%08X %s\n", h.base_address, mark(base_ok));
  std::fprintf(out, "size:         0x%08X (%u) %s\n", h.size, h.size, mark(size_ok));
  std::fprintf(out, "version:      %s (0x%04X)\n", version, h.version);
  // Line breaks of the comment (CR LF) are shown as new lines, indented.
  std::string comment = cp932_to_utf8(h.comment);
  std::string shown;
  for (std::size_t i = 0; i < comment.size(); ++i) {
    if (comment[i] == '\r' && i + 1 < comment.size() && comment[i + 1] == '\n') continue;
    shown += comment[i];
    if (comment[i] == '\n') shown += "              ";
  }
  std::fprintf(out, "comment:      %s%s\n", shown.c_str(), comment_ok ? "" : " NG (no terminating NUL)");

  if (size == IMAGE_HEADER_SIZE && magic_ok) {
    std::fprintf(out, "%s: %s\n", TEXT_HEADER_ONLY_FILE, TEXT_INVALID_IMAGE);
    return EXIT_BAD_IMAGE;
  }
  if (magic_ok && size_ok && length_ok && checksum_ok && base_ok && comment_ok) {
    std::fprintf(out, "%s\n", TEXT_VALID_IMAGE);
    return 0;
  }
  std::fprintf(out, "%s\n", TEXT_INVALID_IMAGE);
  return EXIT_BAD_IMAGE;
}

}  // namespace imgconv
