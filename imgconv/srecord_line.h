// The S-record line reader: the source's lines read in large chunks into the
// 255-character line buffer, record type by the second character, and the
// S0, S3 and S7 records verified (hex digits, byte count against the line,
// checksum) before the S3 fields are read by position.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "imgconv/convert.h"

namespace imgconv {

constexpr std::size_t SRECORD_LINE_BUFFER = 256;  // bytes: up to 255 characters and the NUL
constexpr std::size_t SRECORD_LINE_MAX = SRECORD_LINE_BUFFER - 1;  // characters, line feed not counted
constexpr int SRECORD_MIN_COUNT = 5;              // byte count of an S3 record without data
constexpr std::size_t SRECORD_DATA_COLUMN = 12;   // 0-based index of the first data character

enum RecordKind {
  RECORD_SKIP,     // S0 or S7, verified: nothing to read
  RECORD_DATA,     // S3, verified: address and data bytes
  RECORD_BAD,      // any other type, or a blank line
  RECORD_CORRUPT,  // an S0, S3 or S7 record that fails verification: see fault
};

struct SRecordLine {
  RecordKind kind;
  std::uint32_t address;     // S3 only
  std::uint16_t data_count;  // S3 only: byte count - 5
  const char* data;          // S3 only: first data character inside the line
  RecordFault fault;         // RECORD_CORRUPT only
  const std::uint8_t* bytes; // S3 only: the decoded data bytes, when a buffer was given
};

// Reads one line of length characters (its line feed not included;
// line_feed tells whether one ended it, so a record without one is the
// file's cut-off end). Spaces, tabs and CRs at the end of the line are
// ignored. An S0, S3 or S7 record must consist of hex digits of either case,
// hold exactly the bytes its byte count gives (at least the address and the
// checksum) and carry the checksum that makes the bytes from the count on sum
// to 0xFF (mod 256). The bytes are decoded on the way into decoded (at least
// SRECORD_LINE_BUFFER / 2 bytes) when it is given: rec.bytes then points at
// the data bytes there.
SRecordLine read_srecord_line(const char* line, std::size_t length, bool line_feed,
                              std::uint8_t* decoded = nullptr);
// The same for a NUL-terminated line as fgets delivers it.
inline SRecordLine read_srecord_line(const char* line) {
  std::size_t length = std::strlen(line);
  bool line_feed = length > 0 && line[length - 1] == '\n';
  return read_srecord_line(line, line_feed ? length - 1 : length, line_feed);
}

// Decodes pairs of hex digits of either case at p into out (pairs bytes) and
// adds the bytes to *sum; false when a character is not a hex digit (out and
// *sum then hold an unspecified part of the result).
bool decode_hex_pairs(const char* p, std::size_t pairs, std::uint8_t* out, unsigned* sum);

// The lines of a source stream, read in chunks of the caller's buffer (at
// least 2 bytes) and handed out one at a time, where they lie in the chunk or,
// when one crosses the chunk's end, gathered in the caller's line buffer. A
// line ends at LF or CR LF, as a Windows text-mode stream reads it; a CR
// elsewhere is part of the line.
class SourceLines {
 public:
  enum Status { LINE, TOO_LONG, END, READ_ERROR };

  SourceLines(std::FILE* source, char* chunk, std::size_t chunk_size)
      : source_(source), chunk_(chunk), chunk_size_(chunk_size) {}

  // The next line without its line end, NUL-terminated, at *line: in the
  // chunk, or in spill (SRECORD_LINE_BUFFER bytes); it stays there until the
  // next call. *length counts its characters (a NUL inside is one of them)
  // and *line_feed tells whether a line feed ended it. TOO_LONG: 255
  // characters and more of the same line follow; the line number counts it.
  Status next(char* spill, const char** line, std::size_t* length, bool* line_feed) {
    // Most lines lie whole in the chunk, their line feed within reach.
    const std::size_t unread = end_ - begin_;
    const std::size_t reach = unread < SRECORD_LINE_MAX + 2 ? unread : SRECORD_LINE_MAX + 2;
    char* p = chunk_ + begin_;
    if (const void* lf = std::memchr(p, '\n', reach)) {
      std::size_t n = static_cast<std::size_t>(static_cast<const char*>(lf) - p);
      begin_ += n + 1;
      if (n > 0 && p[n - 1] == '\r') --n;  // CR LF ends the line
      if (n <= SRECORD_LINE_MAX) {
        p[n] = '\0';  // over the consumed line end
        *line = p;
        *length = n;
        *line_feed = true;
        ++line_number_;
        return LINE;
      }
      begin_ -= static_cast<std::size_t>(static_cast<const char*>(lf) - p) + 1;
    }
    *line = spill;
    return gather(spill, length, line_feed);
  }
  // Starts again from the beginning, once the stream has been rewound.
  void restart();
  unsigned long line_number() const { return line_number_; }

 private:
  // A line that crosses the chunk's end (or is too long), gathered in line.
  Status gather(char* line, std::size_t* length, bool* line_feed);
  // At least wanted unread bytes in the chunk, unless the stream ends first.
  bool more(std::size_t wanted);

  std::FILE* source_;
  char* chunk_;
  std::size_t chunk_size_;
  std::size_t begin_ = 0;  // unread bytes of the chunk: begin_ .. end_ - 1
  std::size_t end_ = 0;
  bool at_end_ = false;
  unsigned long line_number_ = 0;
};

}  // namespace imgconv
