// Checks of one row of a download job: path completion, image file size and
// the start-address text, shared by the Windows main dialog and the Linux
// command line.
#include "imgload/download/job_checks.h"

#include <cstdio>
#include <cstring>

#include "image/hex.h"
#include "image/image_format.h"
#include "image/paths.h"
#include "imgload/download/download_job.h"
#include "imgload/download/image_file.h"
#include "imgload/link/protocol.h"

namespace imgload {

namespace {

constexpr int HEX7_DIGITS = 7;
constexpr std::uint32_t INTERNAL_FIRST = 0x8000;
constexpr std::uint32_t INTERNAL_LAST = 0x1F800;
constexpr std::uint32_t INTERNAL_STEP_MASK = 0x7FF;        // multiples of 0x800
constexpr std::uint32_t EXTERNAL_STEP_MASK = 0xFFFF;       // multiples of 0x10000
const char ADDRESS_ZERO_TEXT[] = "0000000_A";

}  // namespace

int CompletePath(char* path) {
  if (path == nullptr || path[0] == '\0') return 0;
  if (std::strchr(path, '.') == nullptr) return 0;
  // A path with a drive colon is taken as it stands; it must still fit the
  // sequencer's copy, or a shortened path would name another file.
  constexpr std::size_t limit = MAX_PATH_UNITS;
  if (std::strchr(path, ':') != nullptr) return zp3k::path_length(path) <= limit ? 1 : 0;
  char completed[JOB_PATH_SIZE];
  if (!zp3k::full_path(path, completed, sizeof completed)) return 0;
  if (zp3k::path_length(completed) > limit) return 0;
  std::strcpy(path, completed);
  return 1;
}

int CheckImageFile(const char* path, std::vector<std::uint8_t>* snapshot) {
  std::vector<std::uint8_t> read;
  std::vector<std::uint8_t>& bytes = snapshot != nullptr ? *snapshot : read;
  const zp3k::Status status = load_image_file(path, &bytes);
  if (status.result == zp3k::Result::TOO_LARGE) return 2;
  if (!status.ok()) return 1;
  if (!whole_image_size(bytes.size())) {
    bytes.clear();
    return 2;
  }
  return 0;
}

bool whole_image_size(std::size_t size) { return size != 0 && size % image::IMAGE_BLOCK_SIZE == 0; }

int ParseHex7(const char* text, std::uint32_t* value) {
  *value = 0;
  return zp3k::parse_hex(text, HEX7_DIGITS, value) ? 1 : 0;
}

std::string address_field_text(std::uint32_t address) {
  if (address == 0) return ADDRESS_ZERO_TEXT;
  char text[16];
  std::snprintf(text, sizeof text, "%07X", static_cast<unsigned>(address));
  return text;
}

int ParseStartAddress(const char* text, std::uint32_t* address) {
  if (std::strlen(text) == static_cast<std::size_t>(HEX7_DIGITS)) {
    std::uint32_t v = 0;
    if (!ParseHex7(text, &v)) return 0;
    bool accepted;
    if (v >= INTERNAL_FIRST && v <= INTERNAL_LAST) {
      accepted = (v & INTERNAL_STEP_MASK) == 0;
    } else {
      accepted = v >= EXTERNAL_FLASH_FIRST && v <= EXTERNAL_FLASH_LAST &&
                 (v & EXTERNAL_STEP_MASK) == 0;
    }
    if (!accepted) return 0;
    *address = v;
    return 1;
  }
  if (std::strcmp(text, ADDRESS_ZERO_TEXT) == 0) {
    *address = 0;
    return 1;
  }
  return 0;
}

int SuggestStartAddress(const char* text, char* suggestion) {
  std::uint32_t value = 0;
  if (ParseStartAddress(text, &value) == 1) return 0;  // nothing to mend
  const char* digits = text;
  if (digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) digits += 2;
  std::size_t count = std::strlen(digits);
  // "_A" (of either case) marks address 0; the digits before it decide.
  if (count > 2 && digits[count - 2] == '_' && (digits[count - 1] | 0x20) == 'a') count -= 2;
  while (count > 1 && digits[0] == '0') {
    ++digits;
    --count;
  }
  if (count == 0 || count > static_cast<std::size_t>(HEX7_DIGITS)) return 0;
  if (!zp3k::parse_hex(digits, static_cast<int>(count), &value)) return 0;
  char candidate[ADDRESS_SUGGESTION_SIZE];
  if (value == 0) {
    std::strcpy(candidate, ADDRESS_ZERO_TEXT);
  } else {
    zp3k::to_hex_digits(static_cast<int>(value), HEX7_DIGITS, candidate);
  }
  std::uint32_t accepted = 0;
  if (ParseStartAddress(candidate, &accepted) != 1) return 0;
  std::strcpy(suggestion, candidate);
  return 1;
}

int LooksLikeSrecord(const std::uint8_t* bytes, std::size_t size) {
  return size >= 2 && bytes[0] == 'S' && bytes[1] >= '0' && bytes[1] <= '9' ? 1 : 0;
}

}  // namespace imgload
