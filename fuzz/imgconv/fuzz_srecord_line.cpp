// Fuzzes the S-record line reader, line by line as the source's line splitter
// delivers lines, and the whole conversion of the input as a source file into
// an in-memory output.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "imgconv/convert.h"
#include "imgconv/file_services.h"
#include "image/image_format.h"
#include "imgconv/srecord_line.h"

namespace {

using namespace imgconv;
using namespace image;

const std::uint8_t* input_data;
std::size_t input_size;

// The output: a growable memory file behind a stdio stream.
struct MemoryFile {
  std::vector<std::uint8_t> bytes;
  off64_t position = 0;
} output_file;

ssize_t mem_write(void*, const char* buf, size_t n) {
  auto& f = output_file;
  if (f.bytes.size() < static_cast<size_t>(f.position) + n) f.bytes.resize(f.position + n);
  std::memcpy(f.bytes.data() + f.position, buf, n);
  f.position += static_cast<off64_t>(n);
  return static_cast<ssize_t>(n);
}
ssize_t mem_read(void*, char* buf, size_t n) {
  auto& f = output_file;
  size_t left = f.position >= static_cast<off64_t>(f.bytes.size()) ? 0 : f.bytes.size() - f.position;
  n = n < left ? n : left;
  std::memcpy(buf, f.bytes.data() + f.position, n);
  f.position += static_cast<off64_t>(n);
  return static_cast<ssize_t>(n);
}
int mem_seek(void*, off64_t* offset, int whence) {
  auto& f = output_file;
  off64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? f.position : static_cast<off64_t>(f.bytes.size());
  f.position = base + *offset;
  *offset = f.position;
  return 0;
}
int mem_close(void*) { return 0; }

bool copy_path(const char* name, char* out, std::size_t size) {
  std::size_t n = std::strlen(name);
  if (n + 1 > size) return false;
  std::memcpy(out, name, n + 1);
  return true;
}
bool never_exists(const char*) { return false; }
bool deleted(const char*) { return true; }
std::FILE* open_input(const char*, zp3k::Status* status) {
  *status = zp3k::Status{};
  // fmemopen refuses a zero size; an empty source is a file with no lines.
  static char empty = 0;
  if (input_size == 0) return fmemopen(&empty, 1, "r");
  return fmemopen(const_cast<std::uint8_t*>(input_data), input_size, "r");
}
std::FILE* create_memory_temp(const char*, char* temp_path, std::size_t temp_size) {
  output_file = MemoryFile{};
  if (!copy_path("out.tmp", temp_path, temp_size)) return nullptr;
  return fopencookie(nullptr, "w+", {mem_read, mem_write, mem_seek, mem_close});
}
bool moved(const char*, const char*) { return true; }
int no_error() { return 0; }
const FileServices memory_services = {never_exists, deleted,  open_input, create_memory_temp,
                                      moved,        false,    no_error};

// The value of two characters that must be hex digits, read by the C
// library rather than the reader's own decoder.
unsigned pair_value(const char* digits) {
  if (!std::isxdigit(static_cast<unsigned char>(digits[0])) ||
      !std::isxdigit(static_cast<unsigned char>(digits[1]))) {
    std::abort();
  }
  const char pair[3] = {digits[0], digits[1], '\0'};
  return static_cast<unsigned>(std::strtoul(pair, nullptr, 16));
}

// Every line the splitter hands out fits the line buffer; a data record's
// fields lie inside its line, its digits are real hex digits and its bytes
// with the checksum sum to 0xFF.
void check_lines() {
  zp3k::Status opened;
  std::FILE* source = open_input("in.hex", &opened);
  char chunk[97];  // small, so that lines cross chunk boundaries
  char spill[SRECORD_LINE_BUFFER];
  const char* line = nullptr;
  SourceLines lines(source, chunk, sizeof chunk);
  std::size_t length = 0;
  bool line_feed = false;
  for (;;) {
    SourceLines::Status status = lines.next(spill, &line, &length, &line_feed);
    if (status == SourceLines::END || status == SourceLines::TOO_LONG) break;
    if (status != SourceLines::LINE || length > SRECORD_LINE_MAX || line[length] != '\0') std::abort();
    SRecordLine rec = read_srecord_line(line, length, line_feed);
    if (rec.kind == RECORD_CORRUPT && rec.fault == RECORD_FAULT_NONE) std::abort();
    if (rec.kind != RECORD_DATA) continue;
    if (rec.data != line + SRECORD_DATA_COLUMN || rec.data + 2 * rec.data_count + 2 > line + length) std::abort();
    unsigned sum = static_cast<unsigned>(rec.data_count) + SRECORD_MIN_COUNT;
    for (int shift = 0; shift < 32; shift += 8) sum += (rec.address >> shift) & 0xFF;
    for (std::size_t i = 0; i <= rec.data_count; ++i) sum += pair_value(rec.data + 2 * i);  // and the checksum
    if ((sum & 0xFF) != 0xFF) std::abort();
  }
  std::fclose(source);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  input_data = data;
  input_size = size;
  check_lines();

  static Converter converter(memory_services);  // one engine for every input, as a program has
  converter.flags.confirm_overwrite = false;
  ConvertReport fault;
  ConvertResult r = converter.convert_to_image("in.hex", "out", "1.23_A", "fuzz", &fault);
  if (r != CONVERT_OK && r != CONVERT_ERR_SOURCE_OPEN && r != CONVERT_ERR_DEST_WRITE &&
      r != CONVERT_ERR_SOURCE_RECORD) {
    std::abort();
  }
  // A corrupt record is reported with its fault and a line of the input.
  if ((r == CONVERT_ERR_SOURCE_RECORD) != (fault.fault != RECORD_FAULT_NONE)) std::abort();
  if (r == CONVERT_ERR_SOURCE_RECORD && (fault.line == 0 || fault.line > size + 1)) std::abort();
  // A line that is no S0, S3 or S7 record is named by its number, and what
  // is kept of it is a terminated excerpt.
  const bool bad_line = fault.cause == CAUSE_EMPTY_LINE || fault.cause == CAUSE_OTHER_RECORD ||
                        fault.cause == CAUSE_NOT_SRECORD;
  if (bad_line && (r != CONVERT_ERR_SOURCE_OPEN || fault.line == 0 || fault.line > size + 1)) std::abort();
  if (std::memchr(fault.excerpt, '\0', sizeof fault.excerpt) == nullptr) std::abort();
  if (r == CONVERT_OK) {
    // A written image is whole blocks whose words XOR to magic ^ length.
    const auto& img = output_file.bytes;
    if (img.empty() || img.size() % IMAGE_BLOCK_SIZE != 0 || img.size() > IMAGE_LIMIT) std::abort();
    if (xor_words(img.data(), img.size()) != (IMAGE_MAGIC ^ load_le32(img.data() + HEADER_LENGTH))) std::abort();
    if (load_le32(img.data() + HEADER_SIZE_FIELD) != img.size()) std::abort();
  }
  return 0;
}
