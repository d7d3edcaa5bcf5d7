// The S-record line reader: record type by the second character, and the S3
// fields read by position without ever looking past the end of the line.
#pragma once

#include <cstddef>
#include <cstdint>

#include "imgconv/convert.h"

namespace imgconv {

constexpr std::size_t SRECORD_LINE_BUFFER = 256;  // bytes: up to 255 characters and the NUL
constexpr int SRECORD_MIN_COUNT = 5;              // byte count of an S3 record without data
constexpr std::size_t SRECORD_DATA_COLUMN = 12;   // 0-based index of the first data character

enum RecordKind {
  RECORD_SKIP,  // S0 or S7: nothing to read
  RECORD_DATA,  // S3: address and data bytes
  RECORD_BAD,   // any other type, a blank line, or an S3 record that does not fit its line
};

struct SRecordLine {
  RecordKind kind;
  std::uint32_t address;     // S3 only
  std::uint16_t data_count;  // S3 only: byte count - 5
  const char* data;          // S3 only: first data character inside the line
};

// Reads one line as fgets delivered it (NUL-terminated). The line's content
// ends at its first CR, LF or NUL; an S3 record whose byte count is below 5 or
// whose data would run past that end is RECORD_BAD.
SRecordLine read_srecord_line(const char* line);

// Decodes the data bytes of an S3 record into out (rec.data_count bytes), each
// two characters, first * 16 + second, as hex_digit_value reads them.
void decode_srecord_data(const SRecordLine& rec, std::uint8_t* out);

}  // namespace imgconv
