// Image file layout: 2048-byte blocks, the 64-byte ImageHeader laid over
// block 0, the XOR checksum over the words from offset 12 onwards, the
// version text and the cp932 comment. Both programs and the simulator read
// and write images through this one module (image/, with the platform's
// cp932 conversion in posix/ or win32/).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace image {

constexpr std::uint32_t IMAGE_BLOCK_SIZE = 2048;      // bytes per block
constexpr std::uint32_t IMAGE_MAX_BLOCKS = 1024;
constexpr std::uint32_t IMAGE_LIMIT = IMAGE_BLOCK_SIZE * IMAGE_MAX_BLOCKS;  // 0x200000 bytes
constexpr std::uint32_t IMAGE_MAGIC = 0x12345678;
constexpr std::size_t IMAGE_HEADER_SIZE = 64;         // bytes
constexpr std::size_t IMAGE_COMMENT_MAX = 30;         // bytes, without the NUL
constexpr std::uint32_t IMAGE_CHECKED_FROM = 12;      // bytes: magic, length, checksum left out
constexpr std::uint32_t IMAGE_BASE_LOW = 0x8000;      // the two load bases
constexpr std::uint32_t IMAGE_BASE_HIGH = 0x100000;

// Byte offsets of the header fields inside block 0.
constexpr std::size_t HEADER_MAGIC = 0;
constexpr std::size_t HEADER_LENGTH = 4;
constexpr std::size_t HEADER_CHECKSUM = 8;
constexpr std::size_t HEADER_BASE_ADDRESS = 16;
constexpr std::size_t HEADER_SIZE_FIELD = 20;
constexpr std::size_t HEADER_VERSION = 24;   // high byte first
constexpr std::size_t HEADER_COMMENT = 32;

// The decoded header of an image or header-only file.
struct ImageHeader {
  std::uint32_t magic;
  std::uint32_t length;
  std::uint32_t checksum;
  std::uint32_t base_address;
  std::uint32_t size;
  std::uint16_t version;
  char comment[IMAGE_COMMENT_MAX + 1];  // NUL-terminated, as stored (cp932)
};

std::uint32_t load_le32(const std::uint8_t* p);
void store_le32(std::uint8_t* p, std::uint32_t v);
// The version, unlike every other field, is stored high byte first.
void store_version(std::uint8_t* header, std::uint16_t version);

// Reads the header fields from the first 64 bytes of a file.
ImageHeader decode_header(const std::uint8_t* first64);

// XOR of the little-endian words of a buffer (a trailing partial word is
// left out); the checksum folds block 0 from offset 12 and every later
// block whole, and the XOR of a whole image is its end-request check value.
std::uint32_t xor_words(const std::uint8_t* data, std::size_t length, std::uint32_t seed = 0);

// "D.DD" or "D.DD_H" (suffix digit in either case); true and the 16-bit
// value (suffix, units, tenths, hundredths) on success.
bool parse_version_text(const char* text, std::uint16_t* value);
// The value as text: 1.23, or 1.23_A with a suffix digit.
std::string format_version_text(std::uint16_t version);

// What the bytes of a file say about it as an image: its header and the
// checks that a valid image passes.
struct ImageSummary {
  bool readable = false;       // the file was read (false: cannot be opened or read)
  std::size_t size = 0;        // bytes read, at most IMAGE_LIMIT + 1
  bool has_header = false;     // at least 64 bytes: header and the checks below are set
  ImageHeader header{};
  bool whole_blocks = false;   // 1 to 1024 whole blocks
  bool magic_ok = false;
  bool length_ok = false;      // length = size - 12
  bool size_ok = false;        // the size field is the file size
  bool checksum_ok = false;
  bool base_ok = false;        // 0, 0x8000 or 0x100000
  bool comment_ok = false;     // the comment ends with its NUL within 31 bytes
  std::uint32_t computed_checksum = 0;  // whole blocks only
  std::uint32_t check_value = 0;        // XOR of every word of the file
  // A header whose checksum, length and size agree with the file.
  bool checksum_verifies() const { return magic_ok && length_ok && size_ok && checksum_ok; }
  bool valid() const { return checksum_verifies() && base_ok && comment_ok; }
};
ImageSummary summarize_image(const std::uint8_t* data, std::size_t size);

// The comment's text encoding. The image stores cp932 whatever the system;
// each platform converts with its own facility (POSIX: iconv).
enum class TextError { NONE, NOT_UTF8, NOT_CP932 };

// A line feed not preceded by a carriage return becomes CR LF, as the
// Windows comment field stores a line break.
std::string to_crlf(const std::string& text);
// UTF-8 to cp932, refusing (never replacing) what cannot be converted: text
// that is not valid UTF-8, or a character that cp932 cannot represent. *bad
// then holds that character (or the bad bytes as \xNN) for the message.
TextError utf8_to_cp932(const std::string& utf8, std::string* cp932, std::string* bad);
// cp932 to UTF-8 for display; each byte that does not start a valid cp932
// character is shown as \xNN, so a damaged comment shows what it holds.
std::string cp932_to_utf8(const std::string& cp932);

}  // namespace image
