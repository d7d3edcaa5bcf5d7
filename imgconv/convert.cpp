// The conversion engine: S-record file to image file, and the header-only file.
//
// The image is built in memory and written as whole blocks into a temporary
// file beside the output; the header is made from block 0 read back from that
// file, and the finished file is moved over the output name in one step. So
// the output name holds either its previous file or a whole new one, never a
// part: a concurrent converter or reader sees one or the other, and an
// interruption leaves the previous file as it was.
#include "imgconv/convert.h"

#include <cstring>

#include "imgconv/file_services.h"
#include "image/image_format.h"
#include "imgconv/srecord_line.h"
#include "platform/files.h"

namespace imgconv {

using namespace image;  // the image format

namespace {

constexpr std::size_t SOURCE_CHUNK = 512 * 1024;  // bytes of source split into lines at a time
constexpr std::size_t STREAM_BUFFER = 256 * 1024;  // bytes of stdio buffer per stream
constexpr std::uint8_t FILL_BYTE = 0xFF;

}  // namespace

// The engine's buffers, one instance per converter.
struct EngineBuffers {
  char line[SRECORD_LINE_BUFFER];
  char chunk[SOURCE_CHUNK];                   // source bytes not yet split into lines
  // The streams' own buffers: given, since a size without a buffer is not
  // honoured by every C library, and large, so that the source and the
  // read-back of the output take few system calls.
  char source_stream[STREAM_BUFFER];
  char output_stream[STREAM_BUFFER];
  std::uint8_t image[IMAGE_LIMIT];            // blocks 0 .. written_blocks - 1 are valid
  std::uint8_t header[IMAGE_BLOCK_SIZE];      // block 0 while the header is patched in
  std::uint8_t read_back[IMAGE_BLOCK_SIZE];   // blocks read back by the checksum pass
  std::uint8_t record[SRECORD_LINE_BUFFER / 2];  // the decoded bytes of one record
};

namespace {

// Notes why an operation failed; with a path, also the system's reason,
// which is taken at once, before a clean-up call can change it.
void note(ConvertReport* report, const FileServices& files, FailureCause cause, const char* path,
          const zp3k::Status* status = nullptr) {
  if (report == nullptr) return;
  report->cause = cause;
  if (path == nullptr) return;
  std::snprintf(report->path, sizeof report->path, "%s", path);
  const zp3k::Status seen = status != nullptr ? *status
                            : files.last_error != nullptr ? zp3k::Status{zp3k::Result::FAILED, files.last_error()}
                                                           : zp3k::Status{zp3k::Result::FAILED, 0};
  std::snprintf(report->reason, sizeof report->reason, "%s", zp3k::status_words(seen).c_str());
}

// The open files of one operation and the clean-up after a failure.
struct Operation {
  const FileServices& files;
  EngineBuffers& buffers;
  const char* output_path;
  ConvertReport* report;
  std::FILE* source = nullptr;
  std::FILE* output = nullptr;      // the temporary file
  char temp_path[PATH_BUFFER_SIZE] = {};
  bool output_stage = false;        // the temporary file was created

  bool create_output() {
    output = files.create_temp(output_path, temp_path, sizeof temp_path);
    output_stage = output != nullptr;
    if (output_stage) std::setvbuf(output, buffers.output_stream, _IOFBF, sizeof buffers.output_stream);
    return output_stage;
  }

  // A failure of the system at the output: its reason noted before the
  // clean-up.
  ConvertResult output_failed(FailureCause cause, ConvertResult code) {
    note(report, files, cause, output_path);
    return fail(code);
  }

  // Once the output stage is reached, a failure removes the temporary file
  // and whatever stands under the output name: no stale image of an earlier
  // run, which the user may have agreed to replace, is left to be mistaken
  // for the result of this one.
  ConvertResult fail(ConvertResult code) {
    if (source != nullptr) std::fclose(source);
    source = nullptr;
    if (output != nullptr) {
      std::fclose(output);
      output = nullptr;
      files.delete_file(temp_path);
    }
    if (output_stage) files.delete_file(output_path);
    return code;
  }

  // Writes the patched header (its first header_size bytes) back to the
  // start, closes the finished temporary file (a write that only fails when
  // the stream is flushed is still a write failure) and moves it into place.
  // A move that fails is an output that cannot be created: the output name
  // keeps what it held.
  ConvertResult finish(std::size_t header_size) {
    if (std::fseek(output, 0, SEEK_SET) != 0 || std::fwrite(buffers.header, header_size, 1, output) != 1) {
      return output_failed(CAUSE_WRITE_OUTPUT, CONVERT_ERR_DEST_WRITE);
    }
    std::FILE* file = output;
    output = nullptr;
    if (std::fclose(file) != 0) {
      note(report, files, CAUSE_WRITE_OUTPUT, output_path);
      files.delete_file(temp_path);
      return fail(CONVERT_ERR_DEST_WRITE);
    }
    if (!files.move_into_place(temp_path, output_path)) {
      note(report, files, CAUSE_REPLACE_OUTPUT, output_path);
      files.delete_file(temp_path);
      return CONVERT_ERR_DEST_OPEN;
    }
    return CONVERT_OK;
  }
};

// The existence check and the overwrite question; false when the user
// declined. Without a front end to ask, nothing is overwritten.
bool may_write_output(const ConvertFlags& flags, const FileServices& files, const char* output_path) {
  if (!flags.confirm_overwrite || !files.file_exists(output_path)) return true;
  return flags.ask_overwrite != nullptr && flags.ask_overwrite(flags.ask_context);
}

// Places the bytes of one S3 record. A block is filled with 0xFF, together
// with every unwritten block below it, the first time a byte falls into it;
// the bytes from the first one at or past the image limit on are dropped.
void place_record(const SRecordLine& rec, std::uint32_t base, std::uint8_t* image,
                  std::uint32_t* written_blocks) {
  std::uint32_t offset = rec.address - base;  // below the base this wraps past the limit
  if (offset >= IMAGE_LIMIT || rec.data_count == 0) return;
  std::uint32_t kept = rec.data_count;
  if (kept > IMAGE_LIMIT - offset) kept = IMAGE_LIMIT - offset;
  std::uint32_t last_block = (offset + kept - 1) / IMAGE_BLOCK_SIZE;
  if (last_block >= *written_blocks) {
    std::memset(image + *written_blocks * IMAGE_BLOCK_SIZE, FILL_BYTE,
                (last_block + 1 - *written_blocks) * IMAGE_BLOCK_SIZE);
    *written_blocks = last_block + 1;
  }
  std::memcpy(image + offset, rec.bytes, kept);
}

// What a line that is no S0, S3 or S7 record holds: nothing but blanks,
// another S-record type, or something else (its start kept).
void describe_bad_line(const char* line, std::size_t length, unsigned long number, ConvertReport* report) {
  if (report == nullptr) return;
  report->line = number;
  std::size_t used = length;
  while (used > 0 && (line[used - 1] == ' ' || line[used - 1] == '\t' || line[used - 1] == '\r')) --used;
  if (used == 0) {
    report->cause = CAUSE_EMPTY_LINE;
  } else if (used >= 2 && (line[0] == 'S' || line[0] == 's') && line[1] >= '0' && line[1] <= '9') {
    report->cause = CAUSE_OTHER_RECORD;
    report->record_type = line[1];
  } else {
    report->cause = CAUSE_NOT_SRECORD;
    const std::size_t kept = used < LINE_EXCERPT_SIZE - 1 ? used : LINE_EXCERPT_SIZE - 1;
    std::memcpy(report->excerpt, line, kept);
    report->excerpt[kept] = '\0';
    report->excerpt_cut = kept < used;
  }
}

// The source being read: its lines and what a failure notes.
struct SourceRead {
  SourceLines& lines;
  const FileServices& files;
  const char* path;
  ConvertReport* report;
};

// The next S3 record of the source, past S0 and S7 lines: *end when the
// source has ended. A read error, a line that is no S0, S3 or S7 record, or
// a corrupt record (or a line too long to hold one) ends the run, reported
// with its line and fault.
ConvertResult next_data_record(const SourceRead& source, EngineBuffers& buffers, SRecordLine* rec,
                               bool* end) {
  SourceLines& lines = source.lines;
  for (;;) {
    const char* line = nullptr;
    std::size_t length = 0;
    bool line_feed = false;
    RecordFault found = RECORD_FAULT_TOO_LONG;
    const SourceLines::Status status = lines.next(buffers.line, &line, &length, &line_feed);
    *end = status == SourceLines::END;
    if (*end) return CONVERT_OK;
    if (status == SourceLines::READ_ERROR) {
      note(source.report, source.files, CAUSE_READ_SOURCE, source.path);
      return CONVERT_ERR_SOURCE_OPEN;
    }
    if (status == SourceLines::LINE) {
      *rec = read_srecord_line(line, length, line_feed, buffers.record);
      if (rec->kind == RECORD_BAD) {
        describe_bad_line(line, length, lines.line_number(), source.report);
        return CONVERT_ERR_SOURCE_OPEN;
      }
      if (rec->kind == RECORD_DATA) return CONVERT_OK;
      if (rec->kind != RECORD_CORRUPT) continue;
      found = rec->fault;
    }
    if (source.report != nullptr) {
      source.report->cause = CAUSE_RECORD;
      source.report->fault = found;
      source.report->line = lines.line_number();
    }
    return CONVERT_ERR_SOURCE_RECORD;
  }
}

// The first pass: the load base, decided by the first S3 address at or above
// 0x8000 (0 when there is none); the pass ends there.
ConvertResult find_load_base(const SourceRead& source, EngineBuffers& buffers, std::uint32_t* base) {
  for (;;) {
    SRecordLine rec{};
    bool end = false;
    const ConvertResult r = next_data_record(source, buffers, &rec, &end);
    if (r != CONVERT_OK || end) return r;
    if (rec.address >= IMAGE_BASE_LOW) {
      *base = rec.address >= IMAGE_BASE_HIGH ? IMAGE_BASE_HIGH : IMAGE_BASE_LOW;
      return CONVERT_OK;
    }
  }
}

// The second pass: every S3 record placed at its offset from the base; its
// block count is also the image's: placement never leaves a gap.
ConvertResult place_records(const SourceRead& source, EngineBuffers& buffers, std::uint32_t base,
                            std::uint32_t* written_blocks) {
  for (;;) {
    SRecordLine rec{};
    bool end = false;
    const ConvertResult r = next_data_record(source, buffers, &rec, &end);
    if (r != CONVERT_OK || end) return r;
    place_record(rec, base, buffers.image, written_blocks);
  }
}

// The version text read and the comment's length checked, before anything
// touches the output.
ConvertResult check_arguments(const char* version_text, const char* comment, std::uint16_t* version,
                              ConvertReport* report) {
  if (!parse_version_text(version_text, version)) {
    if (report != nullptr) report->cause = CAUSE_VERSION;
    return CONVERT_ERR_VERSION;
  }
  if (std::strlen(comment) > IMAGE_COMMENT_MAX) {
    if (report != nullptr) report->cause = CAUSE_COMMENT;
    return CONVERT_ERR_COMMENT;
  }
  return CONVERT_OK;
}

// The version and the checked comment into a header.
void store_version_and_comment(std::uint8_t* header, std::uint16_t version, const char* comment) {
  store_version(header, version);
  std::memcpy(header + HEADER_COMMENT, comment, std::strlen(comment) + 1);
}

// Checksum pass over the file as written; block 0 counts as patched.
ConvertResult checksum_of_output(Operation& run, std::uint32_t written_blocks, std::uint32_t* checksum) {
  const std::uint8_t* header = run.buffers.header;
  if (std::fseek(run.output, 0, SEEK_SET) != 0) {
    note(run.report, run.files, CAUSE_WRITE_OUTPUT, run.output_path);
    return CONVERT_ERR_DEST_WRITE;
  }
  for (std::uint32_t block = 0; block < written_blocks; ++block) {
    if (std::fread(run.buffers.read_back, IMAGE_BLOCK_SIZE, 1, run.output) != 1) {
      note(run.report, run.files, CAUSE_READ_OUTPUT, run.output_path);
      return CONVERT_ERR_DEST_READ;
    }
    *checksum = block == 0
                    ? xor_words(header + IMAGE_CHECKED_FROM, IMAGE_BLOCK_SIZE - IMAGE_CHECKED_FROM, *checksum)
                    : xor_words(run.buffers.read_back, IMAGE_BLOCK_SIZE, *checksum);
  }
  return CONVERT_OK;
}

// Block 0 read back (an image without any data byte has none), patched with
// the header fields and the checksum and written again; then the file is
// moved into place.
ConvertResult finish_image(Operation& run, std::uint32_t written_blocks, std::uint32_t base,
                           std::uint16_t version, const char* comment) {
  std::uint8_t* header = run.buffers.header;
  if (std::fseek(run.output, 0, SEEK_SET) != 0 ||
      std::fread(header, IMAGE_BLOCK_SIZE, 1, run.output) != 1) {
    return run.output_failed(CAUSE_WRITE_OUTPUT, CONVERT_ERR_DEST_WRITE);
  }
  std::uint32_t image_size = written_blocks * IMAGE_BLOCK_SIZE;
  store_le32(header + HEADER_MAGIC, IMAGE_MAGIC);
  store_le32(header + HEADER_LENGTH, image_size - IMAGE_CHECKED_FROM);
  store_le32(header + HEADER_BASE_ADDRESS, base);
  store_le32(header + HEADER_SIZE_FIELD, image_size);
  store_version_and_comment(header, version, comment);
  std::uint32_t checksum = 0;
  ConvertResult r = checksum_of_output(run, written_blocks, &checksum);
  if (r != CONVERT_OK) return run.fail(r);
  store_le32(header + HEADER_CHECKSUM, checksum);
  return run.finish(IMAGE_BLOCK_SIZE);
}

}  // namespace

Converter::Converter(const FileServices& services) : files(services), buffers_(new EngineBuffers()) {}

Converter::~Converter() = default;

bool Converter::build_output_path(const char* source_path, const char* dest_name, char* out,
                                  int out_size) const {
  static const char kExtension[] = ".bin";
  char name[PATH_BUFFER_SIZE];
  std::size_t dest_len = std::strlen(dest_name);
  if (dest_len == 0 || dest_len + sizeof kExtension > sizeof name) return false;
  std::memcpy(name, dest_name, dest_len);
  std::memcpy(name + dest_len, kExtension, sizeof kExtension);
  if (zp3k::path_length(name) > static_cast<std::size_t>(PATH_LIMIT)) return false;

  if (out_size <= 0) return false;
  std::size_t capacity = static_cast<std::size_t>(out_size);
  if (source_path == nullptr || !files.drive_letters || std::strchr(source_path, ':') == nullptr) {
    return zp3k::full_path(name, out, capacity) &&
           zp3k::path_length(out) <= static_cast<std::size_t>(PATH_LIMIT);
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
  return zp3k::path_length(out) <= static_cast<std::size_t>(PATH_LIMIT);
}

ConvertResult Converter::convert_to_image(const char* source_path, const char* dest_name,
                                          const char* version_text, const char* comment,
                                          ConvertReport* report) {
  if (report != nullptr) *report = ConvertReport{};
  if (std::strchr(source_path, '.') == nullptr) {
    if (report != nullptr) report->cause = CAUSE_NO_EXTENSION;
    return CONVERT_ERR_SOURCE_PATH;
  }
  char output_path[PATH_BUFFER_SIZE];
  if (!build_output_path(source_path, dest_name, output_path, sizeof output_path)) {
    if (report != nullptr) report->cause = CAUSE_OUTPUT_NAME;
    return CONVERT_ERR_DEST_OPEN;
  }
  std::uint16_t version = 0;
  ConvertResult r = check_arguments(version_text, comment, &version, report);
  if (r != CONVERT_OK) return r;

  EngineBuffers& buffers = *buffers_;
  Operation run{files, buffers, output_path, report};
  zp3k::Status opened;
  run.source = files.open_source(source_path, &opened);
  if (run.source == nullptr) {
    note(report, files, CAUSE_OPEN_SOURCE, source_path, &opened);
    return CONVERT_ERR_SOURCE_OPEN;
  }
  std::setvbuf(run.source, buffers.source_stream, _IOFBF, sizeof buffers.source_stream);
  SourceLines lines(run.source, buffers.chunk, sizeof buffers.chunk);
  const SourceRead source{lines, files, source_path, report};

  std::uint32_t base = 0;
  r = find_load_base(source, buffers, &base);
  if (r != CONVERT_OK) return run.fail(r);
  if (std::fseek(run.source, 0, SEEK_SET) != 0) {
    note(report, files, CAUSE_REWIND_SOURCE, source_path);
    return run.fail(CONVERT_ERR_SOURCE_PATH);
  }
  lines.restart();

  if (!may_write_output(flags, files, output_path)) return run.fail(CONVERT_CANCELLED);  // nothing written
  if (!run.create_output()) return run.output_failed(CAUSE_CREATE_OUTPUT, CONVERT_ERR_DEST_OPEN);
  std::uint32_t written_blocks = 0;
  r = place_records(source, buffers, base, &written_blocks);
  if (r != CONVERT_OK) return run.fail(r);
  std::fclose(run.source);
  run.source = nullptr;
  if (written_blocks == 0) {
    if (report != nullptr) report->cause = CAUSE_NO_DATA;
    return run.fail(CONVERT_ERR_DEST_WRITE);
  }
  // The blocks placed, written to the start of the output.
  if (std::fseek(run.output, 0, SEEK_SET) != 0 ||
      std::fwrite(buffers.image, IMAGE_BLOCK_SIZE, written_blocks, run.output) != written_blocks) {
    return run.output_failed(CAUSE_WRITE_OUTPUT, CONVERT_ERR_DEST_WRITE);
  }
  return finish_image(run, written_blocks, base, version, comment);
}

ConvertResult Converter::write_header_only(const char* dest_name, const char* version_text,
                                           const char* comment, ConvertReport* report) {
  if (report != nullptr) *report = ConvertReport{};
  char output_path[PATH_BUFFER_SIZE];
  if (!build_output_path(nullptr, dest_name, output_path, sizeof output_path)) {
    if (report != nullptr) report->cause = CAUSE_OUTPUT_NAME;
    return CONVERT_ERR_DEST_OPEN;
  }
  std::uint16_t version = 0;
  const ConvertResult r = check_arguments(version_text, comment, &version, report);
  if (r != CONVERT_OK) return r;
  if (!may_write_output(flags, files, output_path)) return CONVERT_CANCELLED;

  Operation run{files, *buffers_, output_path, report};
  if (!run.create_output()) return run.output_failed(CAUSE_CREATE_OUTPUT, CONVERT_ERR_DEST_OPEN);

  // The header is written as 0xFF and read back before its fields are set.
  std::uint8_t* header = buffers_->header;
  std::memset(header, FILL_BYTE, IMAGE_HEADER_SIZE);
  if (std::fseek(run.output, 0, SEEK_SET) != 0 ||
      std::fwrite(header, IMAGE_HEADER_SIZE, 1, run.output) != 1 ||
      std::fseek(run.output, 0, SEEK_SET) != 0 ||
      std::fread(header, IMAGE_HEADER_SIZE, 1, run.output) != 1) {
    return run.output_failed(CAUSE_WRITE_OUTPUT, CONVERT_ERR_DEST_WRITE);
  }
  store_le32(header + HEADER_MAGIC, IMAGE_MAGIC);
  store_version_and_comment(header, version, comment);
  return run.finish(IMAGE_HEADER_SIZE);
}

}  // namespace imgconv
