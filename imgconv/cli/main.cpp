// imgconv on the command line (Linux imgconv, Windows imgconv-cli.exe): the converter on the portable engine.
#include <cstdio>
#include <string>

#include "imgconv/convert.h"
#include "imgconv/file_services.h"
#include "imgconv/messages.h"
#include "image/image_format.h"
#include "imgconv/cli/image_info.h"
#include "imgconv/cli/options.h"
#include "imgconv/cli/texts.h"
#include "imgload/cli/console.h"
#include "zp3k_version.h"

namespace {

using namespace imgconv;

int usage_error(const std::string& problem) {
  std::fprintf(stderr, "imgconv: %s: %s\n%s\n", TEXT_BAD_COMMAND_LINE, problem.c_str(), TEXT_SEE_HELP);
  return EXIT_USAGE;
}

int run(const Options& options) {
  // The comment goes into the image as the Windows comment field stores it:
  // CR LF line breaks, cp932 bytes.
  std::string comment;
  std::string bad;
  const TextError error = utf8_to_cp932(to_crlf(options.value[SLOT_COMMENT]), &comment, &bad);
  if (error != TextError::NONE) {
    std::fprintf(stderr, "imgconv: %s: %s\n", error == TextError::NOT_CP932 ? TEXT_NOT_CP932 : TEXT_NOT_UTF8,
                 bad.c_str());
    return EXIT_USAGE;
  }
  Converter converter(platform_file_services());
  // Like the Windows automatic run: no question about an existing output.
  converter.flags.confirm_overwrite = false;
  const std::string& dest = options.value[SLOT_DEST];
  const std::string& version = options.value[SLOT_VERSION];
  ConvertResult result;
  const char* source_for_path = nullptr;
  RecordFaultReport fault;
  if (options.mode == Mode::HEADER_ONLY) {
    result = converter.write_header_only(dest.c_str(), version.c_str(), comment.c_str());
  } else {
    source_for_path = options.value[SLOT_SOURCE].c_str();
    result = converter.convert_to_image(source_for_path, dest.c_str(), version.c_str(), comment.c_str(),
                                        &fault);
  }
  if (result != CONVERT_OK) {
    // The table's texts may hold a line break; the gloss follows on the last line.
    const int row = ROW_RESULT_BASE + result;
    const bool record = result == CONVERT_ERR_SOURCE_RECORD;
    std::fprintf(stderr, "imgconv: %s (%s)\n", record ? record_fault_message(fault).c_str() : convert_message(row),
                 record ? record_fault_gloss(fault).c_str() : convert_gloss(row));
    return result;
  }
  char output_path[PATH_BUFFER_SIZE];
  if (converter.build_output_path(source_for_path, dest.c_str(), output_path, sizeof output_path)) {
    std::printf("%s: %s\n", TEXT_WRITTEN, output_path);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  zp3k::prepare_console();
  zp3k::CommandWords words(argc, argv);
  Options options;
  if (!read_options(words.argc(), words.argv(), &options)) return usage_error(options.problem);
  switch (options.mode) {
    case Mode::HELP:
      std::fputs(TEXT_USAGE, stdout);
      return 0;
    case Mode::VERSION:
      std::fputs("imgconv " ZP3K_VERSION "\n", stdout);
      return 0;
    case Mode::INFO:
      return show_image_info(options.info_path.c_str(), stdout);
    case Mode::CONVERT:
    case Mode::HEADER_ONLY:
      break;
  }
  return run(options);
}
