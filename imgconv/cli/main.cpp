// imgconv on the command line (Linux imgconv, Windows imgconv-cli.exe): the converter on the portable engine.
#include <cstdio>
#include <string>

#include "cli/program.h"

#include "imgconv/convert.h"
#include "imgconv/file_services.h"
#include "imgconv/messages.h"
#include "image/image_format.h"
#include "image/safe_text.h"
#include "imgconv/cli/failure_text.h"
#include "imgconv/cli/image_info.h"
#include "imgconv/cli/interrupt.h"
#include "imgconv/cli/options.h"
#include "imgconv/cli/texts.h"
#include "platform/console.h"

namespace {

using namespace imgconv;
using namespace image;  // the image format

int usage_error(const std::string& problem) {
  std::fprintf(stderr, "imgconv: %s: %s\n%s\n", TEXT_BAD_COMMAND_LINE, zp3k::terminal_text(problem).c_str(),
               TEXT_SEE_HELP);
  return EXIT_USAGE;
}

// The comment as the Windows comment field stores it: CR LF line breaks,
// cp932 bytes; false (told on stderr) when it cannot be stored.
bool comment_of(const Options& options, std::string* comment) {
  std::string bad;
  const TextError error = utf8_to_cp932(to_crlf(options.value[SLOT_COMMENT]), comment, &bad);
  if (error == TextError::NONE) return true;
  std::fprintf(stderr, "imgconv: %s: %s\n", error == TextError::NOT_CP932 ? TEXT_NOT_CP932 : TEXT_NOT_UTF8,
               zp3k::terminal_text(bad).c_str());
  return false;
}

int run(const Options& options) {
  std::string comment;
  if (!comment_of(options, &comment)) return EXIT_USAGE;
  Converter converter(platform_file_services());
  // Like the Windows automatic run: no question about an existing output.
  converter.flags.confirm_overwrite = false;
  const std::string& dest = options.value[SLOT_DEST];
  const std::string& version = options.value[SLOT_VERSION];
  const std::string warning = bin_suffix_warning(dest);
  if (!warning.empty()) std::fprintf(stderr, "imgconv: %s\n", warning.c_str());
  ConvertResult result;
  const char* source_for_path = nullptr;
  ConvertReport report;
  if (options.mode == Mode::HEADER_ONLY) {
    result = converter.write_header_only(dest.c_str(), version.c_str(), comment.c_str(), &report);
  } else {
    source_for_path = options.value[SLOT_SOURCE].c_str();
    result = converter.convert_to_image(source_for_path, dest.c_str(), version.c_str(), comment.c_str(),
                                        &report);
  }
  if (result != CONVERT_OK) {
    // The table's texts may hold a line break; the gloss follows on the last line.
    const bool record = result == CONVERT_ERR_SOURCE_RECORD;
    std::fprintf(stderr, "imgconv: %s (%s)\n",
                 record ? record_fault_message(report).c_str() : convert_message(ROW_RESULT_BASE + result),
                 failure_gloss(result, report, options).c_str());
    return result;
  }
  char output_path[PATH_BUFFER_SIZE];
  if (!options.quiet &&
      converter.build_output_path(source_for_path, dest.c_str(), output_path, sizeof output_path)) {
    std::printf("%s: %s\n", TEXT_WRITTEN, zp3k::terminal_text(output_path).c_str());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  zp3k::prepare_console();
  end_cleanly_when_interrupted();
  zp3k::CommandWords words(argc, argv);
  Options options;
  if (!read_options(words.argc(), words.argv(), &options)) return usage_error(options.problem);
  switch (options.mode) {
    case Mode::HELP:
      std::fputs(TEXT_USAGE, stdout);
      return 0;
    case Mode::VERSION:
      std::puts(zp3k::version_line("imgconv").c_str());
      return 0;
    case Mode::INFO:
      return show_image_info(options.info_path.c_str(), stdout);
    case Mode::CONVERT:
    case Mode::HEADER_ONLY:
      break;
  }
  return run(options);
}
