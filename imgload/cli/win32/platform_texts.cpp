// The command line's own words on Windows (imgload-cli.exe).
#include "imgload/cli/platform_texts.h"

namespace imgload {

const char PROGRAM_NAME[] = "imgload-cli";
const char ENVIRONMENT_HELP[] = "";
const char SIGNAL_EXIT_HELP[] = " 130  ended by a second Ctrl-C or Ctrl-Break\n";

}  // namespace imgload
