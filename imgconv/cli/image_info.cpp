// --info: reads an image or header-only file, prints its header and checks it.
#include "imgconv/cli/image_info.h"

#include <string>
#include <vector>

#include "image/image_format.h"
#include "image/safe_text.h"
#include "imgconv/cli/texts.h"
#include "platform/files.h"

namespace imgconv {

using namespace image;  // the image format
namespace {

const char* mark(bool ok) { return ok ? "OK" : "NG"; }

// Reads the file, one byte more than the largest image so that an oversized
// one is told apart; a larger one is summarized from those bytes.
ImageSummary read_image(const char* path) {
  std::vector<std::uint8_t> data;
  const zp3k::Status read = zp3k::read_regular_file(path, zp3k::Sharing::WITH_WRITERS, IMAGE_LIMIT + 1, &data);
  if (!read.ok() && read.result != zp3k::Result::TOO_LARGE) return ImageSummary{};
  return summarize_image(data.data(), data.size());
}

// The comment as a terminal may show it: each line break (CR LF, or a
// lone LF) a new line indented under the first, every other control
// character escaped.
std::string shown_comment(const std::string& comment) {
  std::string shown;
  std::size_t start = 0;
  for (;;) {
    const std::size_t lf = comment.find('\n', start);
    std::size_t end = lf == std::string::npos ? comment.size() : lf;
    if (lf != std::string::npos && end > start && comment[end - 1] == '\r') --end;
    shown += zp3k::terminal_text(comment.substr(start, end - start));
    if (lf == std::string::npos) return shown;
    shown += "\n              ";
    start = lf + 1;
  }
}

}  // namespace

int show_image_info(const char* path, std::FILE* out) {
  const ImageSummary s = read_image(path);
  const std::string shown_path = zp3k::terminal_text(path);
  if (!s.readable) {
    std::fprintf(out, "%s: %s\n", TEXT_CANNOT_READ, shown_path.c_str());
    return EXIT_NO_INPUT;
  }
  std::fprintf(out, "file:         %s (%zu bytes%s)\n", shown_path.c_str(), s.size,
               s.size > IMAGE_LIMIT ? " or more" : "");
  if (!s.has_header) {
    std::fprintf(out, "%s: shorter than the 64-byte header\n", TEXT_INVALID_IMAGE);
    return EXIT_BAD_IMAGE;
  }
  const ImageHeader& h = s.header;
  std::fprintf(out, "magic:        0x%08X %s\n", h.magic, mark(s.magic_ok));
  std::fprintf(out, "length:       0x%08X (%u) %s\n", h.length, h.length, mark(s.length_ok));
  if (s.whole_blocks) {
    std::fprintf(out, "checksum:     0x%08X %s", h.checksum, mark(s.checksum_ok));
    if (!s.checksum_ok) std::fprintf(out, " (computed 0x%08X)", s.computed_checksum);
    std::fprintf(out, "\n");
  } else {
    std::fprintf(out, "checksum:     0x%08X NG (not a whole number of 2048-byte blocks)\n", h.checksum);
  }
  std::fprintf(out, "base address: 0x%08X %s\n", h.base_address, mark(s.base_ok));
  std::fprintf(out, "size:         0x%08X (%u) %s\n", h.size, h.size, mark(s.size_ok));
  std::fprintf(out, "version:      %s (0x%04X)\n", format_version_text(h.version).c_str(), h.version);
  std::fprintf(out, "comment:      %s%s\n", shown_comment(cp932_to_utf8(h.comment)).c_str(),
               s.comment_ok ? "" : " NG (no terminating NUL)");

  if (s.size == IMAGE_HEADER_SIZE && s.magic_ok) {
    std::fprintf(out, "%s: %s\n", TEXT_HEADER_ONLY_FILE, TEXT_INVALID_IMAGE);
    return EXIT_BAD_IMAGE;
  }
  std::fprintf(out, "%s\n", s.valid() ? TEXT_VALID_IMAGE : TEXT_INVALID_IMAGE);
  return s.valid() ? 0 : EXIT_BAD_IMAGE;
}

}  // namespace imgconv
