// The S-record line reader, the source's line splitter and the hexadecimal
// field readers they use.
#include "imgconv/srecord_line.h"

#include <cstring>

#include "image/hex.h"

namespace imgconv {

namespace {

// The digit value of every byte from the digit rule of image/hex.h (either
// case), or NOT_A_DIGIT, which the record verification goes by.
struct HexTable {
  std::uint16_t strict[256];  // 0 .. 15, or NOT_A_DIGIT
  static constexpr std::uint16_t NOT_A_DIGIT = 0x100;
  constexpr HexTable() : strict() {
    for (int code = 0; code < 256; ++code) {
      const int digit = zp3k::hex_value(static_cast<char>(code));
      strict[code] = digit >= 0 ? static_cast<std::uint16_t>(digit) : NOT_A_DIGIT;
    }
  }
};
constexpr HexTable kHex;

// The byte value of the character, so the result does not depend on whether
// plain char is signed.
inline unsigned strict_digit(char c) { return kHex.strict[static_cast<unsigned char>(c)]; }

// Address bytes of the verified record types by their type character.
int address_bytes(char type) {
  switch (type) {
    case '0': return 2;
    case '3':
    case '7': return 4;
    default: return 0;
  }
}

SRecordLine corrupt(RecordFault fault) {
  return SRecordLine{RECORD_CORRUPT, 0, 0, nullptr, fault, nullptr};
}

}  // namespace

bool decode_hex_pairs(const char* p, std::size_t pairs, std::uint8_t* out, unsigned* sum) {
  // One pair at a time, without a branch per digit (data digits are random,
  // so branches would be mispredicted): a bad one only sets a flag bit.
  unsigned flags = 0;
  for (std::size_t i = 0; i < pairs; ++i) {
    const unsigned high = strict_digit(p[2 * i]);
    const unsigned low = strict_digit(p[2 * i + 1]);
    flags |= high | low;
    const unsigned byte = (high << 4 | low) & 0xFF;
    out[i] = static_cast<std::uint8_t>(byte);
    *sum += byte;
  }
  return (flags & HexTable::NOT_A_DIGIT) == 0;
}

SRecordLine read_srecord_line(const char* line, std::size_t length, bool line_feed,
                              std::uint8_t* decoded) {
  SRecordLine rec{RECORD_BAD, 0, 0, nullptr, RECORD_FAULT_NONE, nullptr};
  if (length < 2) return rec;  // a blank line has no record type
  const int address_len = address_bytes(line[1]);
  if (address_len == 0) return rec;
  while (length > 2 && (line[length - 1] == ' ' || line[length - 1] == '\t' || line[length - 1] == '\r')) {
    --length;
  }

  // Every character after the type is a hex digit; their bytes sum to 0xFF.
  std::uint8_t local[SRECORD_LINE_BUFFER / 2];
  std::uint8_t* out = decoded != nullptr ? decoded : local;
  std::size_t digits = length - 2;
  unsigned sum = 0;
  bool all_hex = decode_hex_pairs(line + 2, digits / 2, out, &sum);
  if (digits % 2 != 0) all_hex = all_hex && strict_digit(line[length - 1]) != HexTable::NOT_A_DIGIT;
  if (!all_hex) return corrupt(RECORD_FAULT_NOT_HEX);

  // The byte count gives the bytes after it: address, data and checksum.
  if (digits < 2) return corrupt(line_feed ? RECORD_FAULT_COUNT : RECORD_FAULT_CUT_OFF);
  const int count = out[0];
  std::size_t expected = 2 + 2 * static_cast<std::size_t>(count);
  if (digits != expected) {
    if (!line_feed && digits < expected) return corrupt(RECORD_FAULT_CUT_OFF);
    if (digits + 2 == expected) return corrupt(RECORD_FAULT_CHECKSUM_MISSING);
    return corrupt(RECORD_FAULT_COUNT);
  }
  if (count < address_len + 1) return corrupt(RECORD_FAULT_COUNT);
  if ((sum & 0xFF) != 0xFF) return corrupt(RECORD_FAULT_CHECKSUM_WRONG);

  if (line[1] != '3') {
    rec.kind = RECORD_SKIP;
    return rec;
  }
  rec.kind = RECORD_DATA;
  zp3k::parse_hex(line + 4, 8, &rec.address);  // digits verified above
  rec.data_count = static_cast<std::uint16_t>(count - SRECORD_MIN_COUNT);
  rec.data = line + SRECORD_DATA_COLUMN;
  if (decoded != nullptr) rec.bytes = decoded + 1 + address_len;
  return rec;
}

bool SourceLines::more(std::size_t wanted) {
  if (end_ - begin_ >= wanted) return true;
  // Keep the unread bytes (at most one) and read on behind them.
  std::size_t left = end_ - begin_;
  std::memmove(chunk_, chunk_ + begin_, left);
  begin_ = 0;
  end_ = left;
  while (!at_end_ && end_ < wanted) {
    std::size_t got = std::fread(chunk_ + end_, 1, chunk_size_ - end_, source_);
    if (got == 0) at_end_ = true;
    end_ += got;
  }
  return end_ >= wanted;
}

SourceLines::Status SourceLines::gather(char* line, std::size_t* length, bool* line_feed) {
  std::size_t n = 0;
  std::size_t end_length = 0;  // characters of the line end consumed: LF, or CR LF
  *line_feed = false;
  for (;;) {
    if (!more(1)) {
      if (std::ferror(source_)) return READ_ERROR;
      if (n == 0) return END;
      break;  // the last line, without a line feed
    }
    const char* p = chunk_ + begin_;
    if (n == SRECORD_LINE_MAX) {
      // The buffer is full: only the line end, LF or CR LF, may still follow.
      end_length = *p == '\n' ? 1 : *p == '\r' && more(2) && chunk_[begin_ + 1] == '\n' ? 2 : 0;
      if (end_length == 0) {
        ++line_number_;
        return TOO_LONG;
      }
      begin_ += end_length;
      *line_feed = true;
      break;
    }
    std::size_t take = end_ - begin_;
    if (take > SRECORD_LINE_MAX - n) take = SRECORD_LINE_MAX - n;
    if (const void* lf = std::memchr(p, '\n', take)) {
      std::size_t k = static_cast<std::size_t>(static_cast<const char*>(lf) - p);
      std::memcpy(line + n, p, k);
      n += k;
      begin_ += k + 1;
      *line_feed = true;
      break;
    }
    std::memcpy(line + n, p, take);
    n += take;
    begin_ += take;
  }
  // A CR directly before the LF is part of the line end, as a Windows
  // text-mode stream reads it.
  if (*line_feed && end_length != 2 && n > 0 && line[n - 1] == '\r') --n;
  line[n] = '\0';
  *length = n;
  ++line_number_;
  return LINE;
}

void SourceLines::restart() {
  begin_ = end_ = 0;
  at_end_ = false;
  line_number_ = 0;
}

}  // namespace imgconv
