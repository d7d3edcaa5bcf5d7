// The command line's own words on POSIX.
#include "imgload/cli/platform_texts.h"

namespace imgload {

const char PROGRAM_NAME[] = "imgload";
const char ENVIRONMENT_HELP[] =
    "environment:\n"
    "  ZP3K_LOCK_DIR   the folder of the ports' lock files (default /var/lock)\n"
    "\n";
const char SIGNAL_EXIT_HELP[] =
    " 130  ended by a second Ctrl-C\n"
    " 143  ended by a second stop signal that was SIGTERM (129: SIGHUP)\n";

}  // namespace imgload
