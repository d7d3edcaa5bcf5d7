// The command line's glosses of failures and its warning for a name ending in ".bin".
#include "imgconv/cli/failure_text.h"

#include <cctype>

#include "image/paths.h"
#include "image/safe_text.h"
#include "imgconv/cli/texts.h"
#include "imgconv/messages.h"

namespace imgconv {
namespace {

std::string safe(const std::string& text) { return zp3k::terminal_text(text); }

// "VERB PATH: REASON" for a step the system refused.
std::string refused(const char* verb, const ConvertReport& report) {
  return std::string(verb) + " " + safe(report.path) + ": " + report.reason;
}

// The line that is no S0, S3 or S7 record.
std::string bad_line(const ConvertReport& report) {
  const std::string line = "line " + std::to_string(report.line);
  switch (report.cause) {
    case CAUSE_EMPTY_LINE: return line + " is empty";
    case CAUSE_OTHER_RECORD:
      return line + ": S" + std::string(1, report.record_type) + " record; only S0, S3 and S7 are read";
    default:
      return line + " is not an S-record: \"" + safe(report.excerpt) + (report.excerpt_cut ? "...\"" : "\"");
  }
}

std::string output_name(const ConvertReport&, const Options& options) {
  if (!options.given[SLOT_DEST]) return "-D (the destination file name) is missing";
  if (options.value[SLOT_DEST].empty()) return "the destination file name is empty";
  return "the output path of " + safe(options.value[SLOT_DEST]) + ".bin is longer than " + std::to_string(zp3k::PATH_LIMIT) + " characters";
}

std::string source_path(const Options& options) {
  if (!options.given[SLOT_SOURCE]) return "-S (the source file path) is missing";
  return std::string(convert_gloss(ROW_RESULT_BASE + CONVERT_ERR_SOURCE_PATH)) +
         ": the source path needs an extension (a '.'): " + safe(options.value[SLOT_SOURCE]);
}

}  // namespace

std::string failure_gloss(ConvertResult result, const ConvertReport& report, const Options& options) {
  switch (report.cause) {
    case CAUSE_NO_EXTENSION: return source_path(options);
    case CAUSE_REWIND_SOURCE:
      return "cannot read " + safe(report.path) + " again from its start: " + report.reason;
    case CAUSE_OPEN_SOURCE: return refused("cannot open", report);
    case CAUSE_READ_SOURCE: return refused("cannot read", report);
    case CAUSE_EMPTY_LINE: case CAUSE_OTHER_RECORD: case CAUSE_NOT_SRECORD: return bad_line(report);
    case CAUSE_OUTPUT_NAME: return output_name(report, options);
    case CAUSE_CREATE_OUTPUT: return refused("cannot create", report);
    case CAUSE_REPLACE_OUTPUT: return refused("cannot replace", report);
    case CAUSE_WRITE_OUTPUT: return refused("cannot write", report);
    case CAUSE_READ_OUTPUT: return refused("cannot read back", report);
    case CAUSE_NO_DATA:
      return std::string(convert_gloss(ROW_RESULT_BASE + result)) +
             ": no data byte of the source falls into the image";
    case CAUSE_VERSION:
      if (!options.given[SLOT_VERSION]) return "-V (the version) is missing";
      break;
    case CAUSE_RECORD: return record_fault_gloss(report);
    default: break;
  }
  return convert_gloss(ROW_RESULT_BASE + result);
}

std::string bin_suffix_warning(const std::string& dest_name) {
  static const char kSuffix[] = ".bin";
  const std::size_t n = sizeof kSuffix - 1;
  if (dest_name.size() < n) return "";
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char c = static_cast<unsigned char>(dest_name[dest_name.size() - n + i]);
    if (std::tolower(c) != kSuffix[i]) return "";
  }
  return std::string(TEXT_BIN_APPENDED) + " (warning: the output is named " + safe(dest_name) +
         ".bin because \".bin\" is always appended)";
}

}  // namespace imgconv
