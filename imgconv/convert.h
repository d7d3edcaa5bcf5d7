// The conversion engine: S-record file to image file, and the header-only
// file. Neither operation shows anything; the overwrite question is asked
// through the front end's callback and every outcome is a ConvertResult,
// with what a front end may tell about a failure as values (ConvertReport).
//
// The arguments (version, comment) are checked before the output is touched:
// a bad one leaves an existing file as it was. The output is whole or absent:
// it is written into a temporary file in the destination folder and put in
// the place of the output name only when it is complete and closed. A failure
// after the output stage is reached removes what stood under the output name,
// so no stale or broken image is left.
#pragma once

#include <cstdint>
#include <memory>

#include "imgconv/file_services.h"
#include "image/image_format.h"  // parse_version_text and the header layout
#include "image/paths.h"

namespace imgconv {

enum ConvertResult : int {
  CONVERT_OK = 0,
  CONVERT_CANCELLED = -1,
  CONVERT_ERR_SOURCE_PATH = 1,
  CONVERT_ERR_SOURCE_OPEN = 2,
  CONVERT_ERR_DEST_OPEN = 3,
  CONVERT_ERR_DEST_WRITE = 4,
  CONVERT_ERR_DEST_READ = 5,
  CONVERT_ERR_VERSION = 6,
  CONVERT_ERR_COMMENT = 7,
  CONVERT_ERR_SOURCE_RECORD = 8,  // a corrupt S0, S3 or S7 record: see RecordFaultReport
};

// What is wrong with a corrupt record.
enum RecordFault : int {
  RECORD_FAULT_NONE = 0,
  RECORD_FAULT_NOT_HEX,           // a character that is not a hexadecimal digit
  RECORD_FAULT_COUNT,             // the byte count does not match the line
  RECORD_FAULT_CHECKSUM_MISSING,  // the line ends one byte short: no checksum
  RECORD_FAULT_CHECKSUM_WRONG,    // the checksum does not match the bytes
  RECORD_FAULT_CUT_OFF,           // the file ends inside the record
  RECORD_FAULT_TOO_LONG,          // the line does not fit the 255-character line buffer
};

// The corrupt record behind CONVERT_ERR_SOURCE_RECORD: its 1-based line
// number in the source and its fault.
struct RecordFaultReport {
  RecordFault fault = RECORD_FAULT_NONE;
  unsigned long line = 0;
};

// Why an operation failed, beyond its result code.
enum FailureCause : int {
  CAUSE_NONE = 0,
  CAUSE_NO_EXTENSION,     // 1: the source path holds no '.'
  CAUSE_REWIND_SOURCE,    // 1: the source cannot be read again from its start (path, reason)
  CAUSE_OPEN_SOURCE,      // 2: the source cannot be opened (path, reason)
  CAUSE_READ_SOURCE,      // 2: a read of the source failed (path, reason)
  CAUSE_EMPTY_LINE,       // 2: line `line` is empty (or blanks only)
  CAUSE_OTHER_RECORD,     // 2: line `line` is an S-record of type record_type
  CAUSE_NOT_SRECORD,      // 2: line `line` is no S-record; excerpt holds its start
  CAUSE_OUTPUT_NAME,      // 3: the destination name is empty or the output path too long
  CAUSE_CREATE_OUTPUT,    // 3: the output's temporary file cannot be made (path, reason)
  CAUSE_REPLACE_OUTPUT,   // 3: the finished file cannot take the output name (path, reason)
  CAUSE_WRITE_OUTPUT,     // 4: a write to the output failed (path, reason)
  CAUSE_NO_DATA,          // 4: no data byte of the source falls into the image
  CAUSE_READ_OUTPUT,      // 5: the output cannot be read back (path, reason)
  CAUSE_VERSION,          // 6
  CAUSE_COMMENT,          // 7
  CAUSE_RECORD,           // 8: see fault and line
};

constexpr std::size_t LINE_EXCERPT_SIZE = 17;     // bytes of a line's start kept, NUL included
constexpr std::size_t FAILURE_REASON_SIZE = 128;  // bytes of the system's reason, NUL included

// A name or path may be PATH_LIMIT characters long, counted as the file system
// counts (UTF-16 units on Windows, bytes on POSIX); the buffers hold them in
// UTF-8, which takes at most 3 bytes for one UTF-16 unit.
using zp3k::PATH_LIMIT;                                // file-system units
constexpr int PATH_BUFFER_SIZE = 3 * PATH_LIMIT + 1;   // bytes, NUL included

// What a front end may tell about a failed operation: the cause; the line
// (and fault, for a corrupt record); or the file the system refused and the
// system's reason in English words. Bytes from the source (excerpt) and
// paths are as they are: a front end makes them safe to show.
struct ConvertReport : RecordFaultReport {
  FailureCause cause = CAUSE_NONE;
  char record_type = 0;                      // CAUSE_OTHER_RECORD: '1', '5', ...
  char excerpt[LINE_EXCERPT_SIZE] = {};      // CAUSE_NOT_SRECORD
  bool excerpt_cut = false;                  // the line goes on past the excerpt
  char path[PATH_BUFFER_SIZE] = {};          // the source or the output path
  char reason[FAILURE_REASON_SIZE] = {};
};

// The front end's settings of the overwrite question, which returns true to
// overwrite, false to cancel.
struct ConvertFlags {
  bool confirm_overwrite = true;
  bool (*ask_overwrite)(void* context) = nullptr;
  void* ask_context = nullptr;
};

struct EngineBuffers;

// The engine with its file seam, its flags and its buffers: one object per
// front end, which runs one operation at a time on it.
class Converter {
 public:
  explicit Converter(const FileServices& services);
  ~Converter();

  // *report (when given) tells why an operation failed.
  ConvertResult convert_to_image(const char* source_path, const char* dest_name,
                                 const char* version_text, const char* comment,
                                 ConvertReport* report = nullptr);
  ConvertResult write_header_only(const char* dest_name, const char* version_text,
                                  const char* comment, ConvertReport* report = nullptr);

  // The full output path for a destination name (".bin" appended). The
  // source path decides the folder in convert_to_image; nullptr means the
  // current directory (write_header_only). False for an empty name or when it
  // would not fit out_size.
  bool build_output_path(const char* source_path, const char* dest_name, char* out,
                         int out_size) const;

  FileServices files;   // the platform's seam, or a test's
  ConvertFlags flags;

 private:
  std::unique_ptr<EngineBuffers> buffers_;  // large: kept off the stack
};

}  // namespace imgconv
