// How the command line ends when it is interrupted: the temporary output
// file removed, the previous image left as it was. One implementation per
// platform (posix/ or win32/).
#pragma once

namespace imgconv {

// Called once, first thing in main. POSIX: nothing to do here, the file
// seam catches SIGINT, SIGTERM, SIGHUP and SIGQUIT while a temporary file
// exists and the program ends by the signal. Windows: Ctrl-C, Ctrl-Break
// and closing the console remove the temporary file and end the program
// with exit status 130, as a shell reports an interrupted program on Linux.
void end_cleanly_when_interrupted();

}  // namespace imgconv
