// What the command line says differently on each platform: the program's
// name, and the help's lines that hold only there (posix/ or win32/).
#pragma once

namespace imgload {

extern const char PROGRAM_NAME[];        // "imgload", "imgload-cli"
extern const char ENVIRONMENT_HELP[];    // the environment the program reads, or ""
extern const char SIGNAL_EXIT_HELP[];    // exit statuses of a signal's end at once

}  // namespace imgload
