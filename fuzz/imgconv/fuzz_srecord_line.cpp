// Fuzzes the S-record line reader, line by line as fgets delivers lines, and
// the whole conversion of the input as a source file into an in-memory output.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "imgconv/convert.h"
#include "imgconv/file_services.h"
#include "imgconv/image_format.h"
#include "imgconv/srecord_line.h"

namespace {

using namespace imgconv;

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
std::FILE* open_input(const char*) {
  // fmemopen refuses a zero size; an empty source is a file with no lines.
  static char empty = 0;
  if (input_size == 0) return fmemopen(&empty, 1, "r");
  return fmemopen(const_cast<std::uint8_t*>(input_data), input_size, "r");
}
std::FILE* open_memory_output(const char*) {
  output_file = MemoryFile{};
  return fopencookie(nullptr, "w+", {mem_read, mem_write, mem_seek, mem_close});
}
std::size_t byte_length(const char* path) { return std::strlen(path); }
const FileServices memory_services = {copy_path,  never_exists,       deleted, open_input,
                                      open_memory_output, false, byte_length};

void check_lines(const std::uint8_t* data, std::size_t size) {
  char line[SRECORD_LINE_BUFFER];
  std::size_t pos = 0;
  while (pos < size) {
    // As fgets: up to 255 characters, ending after a line feed.
    std::size_t n = 0;
    while (n < sizeof line - 1 && pos < size) {
      line[n++] = static_cast<char>(data[pos++]);
      if (line[n - 1] == '\n') break;
    }
    line[n] = '\0';
    SRecordLine rec = read_srecord_line(line);
    if (rec.kind != RECORD_DATA) continue;
    std::size_t length = std::strcspn(line, "\r\n");
    if (rec.data < line || rec.data + 2 * rec.data_count > line + length) std::abort();
    std::uint8_t bytes[SRECORD_LINE_BUFFER / 2];
    decode_srecord_data(rec, bytes);
    for (std::size_t i = 0; i < rec.data_count; ++i) {
      int expected = hex_digit_value(rec.data[2 * i]) * 16 + hex_digit_value(rec.data[2 * i + 1]);
      if (bytes[i] != static_cast<std::uint8_t>(expected)) std::abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  check_lines(data, size);

  input_data = data;
  input_size = size;
  file_services = &memory_services;
  convert_flags.confirm_overwrite = false;
  ConvertResult r = convert_to_image("in.hex", "out", "1.23_A", "fuzz");
  if (r != CONVERT_OK && r != CONVERT_ERR_SOURCE_OPEN && r != CONVERT_ERR_DEST_WRITE) std::abort();
  if (r == CONVERT_OK) {
    // A written image is whole blocks whose words XOR to magic ^ length.
    const auto& img = output_file.bytes;
    if (img.empty() || img.size() % IMAGE_BLOCK_SIZE != 0 || img.size() > IMAGE_LIMIT) std::abort();
    if (xor_words(img.data(), img.size()) != (IMAGE_MAGIC ^ load_le32(img.data() + HEADER_LENGTH))) std::abort();
    if (load_le32(img.data() + HEADER_SIZE_FIELD) != img.size()) std::abort();
  }
  return 0;
}
