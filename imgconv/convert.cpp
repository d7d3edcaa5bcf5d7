// The conversion engine: S-record file to image file, and the header-only file.
//
// The image is built in memory and written as whole blocks, but every result
// code and the output file's state after a failure are those of placing each
// byte in the file directly: a failure after the output is opened leaves the
// blocks placed so far (or deletes a new file), and the header is still made
// from block 0 read back from the file.
#include "imgconv/convert.h"

#include <cstring>

#include "imgconv/file_services.h"
#include "imgconv/image_format.h"
#include "imgconv/srecord_line.h"

namespace imgconv {

ConvertFlags convert_flags;
const FileServices* file_services = &platform_file_services;

namespace {

constexpr std::size_t STREAM_BUFFER = 64 * 1024;  // bytes of stdio buffer per stream
constexpr std::uint8_t FILL_BYTE = 0xFF;

// The engine's buffers, one instance for the program.
struct EngineBuffers {
  char line[SRECORD_LINE_BUFFER];
  std::uint8_t image[IMAGE_LIMIT];            // blocks 0 .. written_blocks - 1 are valid
  std::uint8_t header[IMAGE_BLOCK_SIZE];      // block 0 while the header is patched in
  std::uint8_t fill[IMAGE_BLOCK_SIZE];        // blocks read back by the checksum pass
  std::uint8_t record[SRECORD_LINE_BUFFER / 2];  // the decoded data bytes of one record
};
EngineBuffers buffers;

// The open files of one operation and the clean-up after a failure.
struct Run {
  std::FILE* source = nullptr;
  std::FILE* output = nullptr;
  const char* output_path = nullptr;

  ConvertResult fail(ConvertResult code) {
    if (source != nullptr) std::fclose(source);
    source = nullptr;
    if (output != nullptr) {
      std::fclose(output);
      output = nullptr;
      if (convert_flags.output_was_new) file_services->delete_file(output_path);
    }
    return code;
  }

  // Closes the finished output; a write that only fails when the stream is
  // flushed is still a write failure.
  ConvertResult finish() {
    std::FILE* file = output;
    output = nullptr;
    if (std::fclose(file) != 0) {
      if (convert_flags.output_was_new) file_services->delete_file(output_path);
      return CONVERT_ERR_DEST_WRITE;
    }
    return CONVERT_OK;
  }
};

// The existence check and the overwrite question; false when the user declined.
bool may_write_output(const char* output_path) {
  if (!convert_flags.confirm_overwrite) return true;
  if (!file_services->file_exists(output_path)) {
    convert_flags.output_was_new = true;
    return true;
  }
  // Without a front end to ask, nothing is overwritten.
  if (convert_flags.ask_overwrite == nullptr ||
      !convert_flags.ask_overwrite(convert_flags.ask_context)) {
    return false;
  }
  convert_flags.output_was_new = false;
  return true;
}

std::uint32_t choose_base(std::uint32_t address) {
  return address >= IMAGE_BASE_HIGH ? IMAGE_BASE_HIGH : IMAGE_BASE_LOW;
}

// Places the bytes of one S3 record. A block is filled with 0xFF, together
// with every unwritten block below it, the first time a byte falls into it;
// the bytes from the first one at or past the image limit on are dropped.
void place_record(const SRecordLine& rec, std::uint32_t base, std::uint32_t* written_blocks) {
  std::uint32_t offset = rec.address - base;  // below the base this wraps past the limit
  if (offset >= IMAGE_LIMIT || rec.data_count == 0) return;
  std::uint32_t kept = rec.data_count;
  if (kept > IMAGE_LIMIT - offset) kept = IMAGE_LIMIT - offset;
  std::uint32_t last_block = (offset + kept - 1) / IMAGE_BLOCK_SIZE;
  if (last_block >= *written_blocks) {
    std::memset(buffers.image + *written_blocks * IMAGE_BLOCK_SIZE, FILL_BYTE,
                (last_block + 1 - *written_blocks) * IMAGE_BLOCK_SIZE);
    *written_blocks = last_block + 1;
  }
  decode_srecord_data(rec, buffers.record);
  std::memcpy(buffers.image + offset, buffers.record, kept);
}

// Writes the blocks placed so far to the start of the output.
bool write_blocks(std::FILE* output, std::uint32_t written_blocks) {
  if (written_blocks == 0) return true;
  if (std::fseek(output, 0, SEEK_SET) != 0) return false;
  return std::fwrite(buffers.image, IMAGE_BLOCK_SIZE, written_blocks, output) == written_blocks;
}

}  // namespace

bool build_output_path(const char* source_path, const char* dest_name, char* out, int out_size) {
  static const char kExtension[] = ".bin";
  char name[PATH_BUFFER_SIZE];
  std::size_t dest_len = std::strlen(dest_name);
  if (dest_len + sizeof kExtension > sizeof name) return false;
  std::memcpy(name, dest_name, dest_len);
  std::memcpy(name + dest_len, kExtension, sizeof kExtension);
  if (file_services->path_length(name) > static_cast<std::size_t>(PATH_LIMIT)) return false;

  if (out_size <= 0) return false;
  std::size_t capacity = static_cast<std::size_t>(out_size);
  if (source_path == nullptr || !file_services->drive_letters ||
      std::strchr(source_path, ':') == nullptr) {
    return file_services->full_path(name, out, capacity) &&
           file_services->path_length(out) <= static_cast<std::size_t>(PATH_LIMIT);
  }
  // A drive letter: the output goes beside the source, in its folder up to
  // the last backslash, or up to the last ':' when there is no backslash.
  const char* cut = std::strrchr(source_path, '\\');
  if (cut == nullptr) cut = std::strrchr(source_path, ':');
  std::size_t folder_len = static_cast<std::size_t>(cut - source_path) + 1;
  std::size_t name_len = std::strlen(name);
  if (folder_len + name_len + 1 > capacity) return false;
  std::memcpy(out, source_path, folder_len);
  std::memcpy(out + folder_len, name, name_len + 1);
  return file_services->path_length(out) <= static_cast<std::size_t>(PATH_LIMIT);
}

ConvertResult convert_to_image(const char* source_path, const char* dest_name,
                               const char* version_text, const char* comment) {
  if (std::strchr(source_path, '.') == nullptr) return CONVERT_ERR_SOURCE_PATH;
  if (dest_name[0] == '\0') return CONVERT_ERR_DEST_OPEN;
  char output_path[PATH_BUFFER_SIZE];
  if (!build_output_path(source_path, dest_name, output_path, sizeof output_path)) {
    return CONVERT_ERR_DEST_OPEN;
  }
  std::uint16_t version = 0;
  if (!parse_version_text(version_text, &version)) return CONVERT_ERR_VERSION;

  Run run;
  run.output_path = output_path;
  run.source = file_services->open_source(source_path);
  if (run.source == nullptr) return CONVERT_ERR_SOURCE_OPEN;
  std::setvbuf(run.source, nullptr, _IOFBF, STREAM_BUFFER);

  // First pass: the first S3 address at or above 0x8000 decides the load base.
  std::uint32_t base = 0;
  while (std::fgets(buffers.line, sizeof buffers.line, run.source) != nullptr) {
    SRecordLine rec = read_srecord_line(buffers.line);
    if (rec.kind == RECORD_BAD) return run.fail(CONVERT_ERR_SOURCE_OPEN);
    if (rec.kind == RECORD_DATA && rec.address >= IMAGE_BASE_LOW) {
      base = choose_base(rec.address);
      break;
    }
  }
  if (std::ferror(run.source)) return run.fail(CONVERT_ERR_SOURCE_OPEN);
  if (std::fseek(run.source, 0, SEEK_SET) != 0) return run.fail(CONVERT_ERR_SOURCE_PATH);

  std::uint32_t written_blocks = 0;  // also the block count: placement never leaves a gap
  if (!may_write_output(output_path)) return run.fail(CONVERT_CANCELLED);  // nothing written
  run.output = file_services->open_output(output_path);
  if (run.output == nullptr) return run.fail(CONVERT_ERR_DEST_OPEN);
  std::setvbuf(run.output, nullptr, _IOFBF, STREAM_BUFFER);

  // Second pass: every S3 record placed at its offset from the base.
  while (std::fgets(buffers.line, sizeof buffers.line, run.source) != nullptr) {
    SRecordLine rec = read_srecord_line(buffers.line);
    if (rec.kind == RECORD_SKIP) continue;
    if (rec.kind == RECORD_BAD) {
      // A kept output holds the blocks placed so far, as byte-by-byte placement leaves it.
      write_blocks(run.output, written_blocks);
      return run.fail(CONVERT_ERR_SOURCE_OPEN);
    }
    place_record(rec, base, &written_blocks);
  }
  if (std::ferror(run.source)) {
    write_blocks(run.output, written_blocks);
    return run.fail(CONVERT_ERR_SOURCE_OPEN);
  }
  std::fclose(run.source);
  run.source = nullptr;
  if (!write_blocks(run.output, written_blocks)) return run.fail(CONVERT_ERR_DEST_WRITE);

  // Block 0 read back; an image without any data byte has none.
  std::uint8_t* header = buffers.header;
  if (std::fseek(run.output, 0, SEEK_SET) != 0 ||
      std::fread(header, IMAGE_BLOCK_SIZE, 1, run.output) != 1) {
    return run.fail(CONVERT_ERR_DEST_WRITE);
  }
  std::uint32_t image_size = written_blocks * IMAGE_BLOCK_SIZE;
  store_le32(header + HEADER_MAGIC, IMAGE_MAGIC);
  store_le32(header + HEADER_LENGTH, image_size - IMAGE_CHECKED_FROM);
  store_le32(header + HEADER_BASE_ADDRESS, base);
  store_le32(header + HEADER_SIZE_FIELD, image_size);
  store_version(header, version);
  std::size_t comment_len = std::strlen(comment);
  if (comment_len > IMAGE_COMMENT_MAX) return run.fail(CONVERT_ERR_COMMENT);
  std::memcpy(header + HEADER_COMMENT, comment, comment_len + 1);

  // Checksum pass over the file as written; block 0 counts as patched.
  if (std::fseek(run.output, 0, SEEK_SET) != 0) return run.fail(CONVERT_ERR_DEST_WRITE);
  std::uint32_t checksum = 0;
  for (std::uint32_t block = 0; block < written_blocks; ++block) {
    if (std::fread(buffers.fill, IMAGE_BLOCK_SIZE, 1, run.output) != 1) {
      return run.fail(CONVERT_ERR_DEST_READ);
    }
    checksum = block == 0
                   ? xor_words(header + IMAGE_CHECKED_FROM, IMAGE_BLOCK_SIZE - IMAGE_CHECKED_FROM, checksum)
                   : xor_words(buffers.fill, IMAGE_BLOCK_SIZE, checksum);
  }
  store_le32(header + HEADER_CHECKSUM, checksum);
  if (std::fseek(run.output, 0, SEEK_SET) != 0 ||
      std::fwrite(header, IMAGE_BLOCK_SIZE, 1, run.output) != 1) {
    return run.fail(CONVERT_ERR_DEST_WRITE);
  }
  return run.finish();
}

ConvertResult write_header_only(const char* dest_name, const char* version_text,
                                const char* comment) {
  if (dest_name[0] == '\0') return CONVERT_ERR_DEST_OPEN;
  char output_path[PATH_BUFFER_SIZE];
  if (!build_output_path(nullptr, dest_name, output_path, sizeof output_path)) {
    return CONVERT_ERR_DEST_OPEN;
  }
  if (!may_write_output(output_path)) return CONVERT_CANCELLED;

  Run run;
  run.output_path = output_path;
  run.output = file_services->open_output(output_path);
  if (run.output == nullptr) return CONVERT_ERR_DEST_OPEN;

  std::uint8_t* header = buffers.header;
  std::memset(header, FILL_BYTE, IMAGE_HEADER_SIZE);
  if (std::fseek(run.output, 0, SEEK_SET) != 0 ||
      std::fwrite(header, IMAGE_HEADER_SIZE, 1, run.output) != 1 ||
      std::fseek(run.output, 0, SEEK_SET) != 0 ||
      std::fread(header, IMAGE_HEADER_SIZE, 1, run.output) != 1) {
    return run.fail(CONVERT_ERR_DEST_WRITE);
  }
  store_le32(header + HEADER_MAGIC, IMAGE_MAGIC);
  std::uint16_t version = 0;
  if (!parse_version_text(version_text, &version)) return run.fail(CONVERT_ERR_VERSION);
  store_version(header, version);
  std::size_t comment_len = std::strlen(comment);
  if (comment_len > IMAGE_COMMENT_MAX) return run.fail(CONVERT_ERR_COMMENT);
  std::memcpy(header + HEADER_COMMENT, comment, comment_len + 1);
  if (std::fseek(run.output, 0, SEEK_SET) != 0 ||
      std::fwrite(header, IMAGE_HEADER_SIZE, 1, run.output) != 1) {
    return run.fail(CONVERT_ERR_DEST_WRITE);
  }
  return run.finish();
}

}  // namespace imgconv
