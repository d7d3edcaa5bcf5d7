// What every program of the tools says the same way: its --version line and
// the exit statuses of a bad command line and of an interruption (each
// program's other statuses are in its front end).
#pragma once

#include <string>

#include "zp3k_version.h"

namespace zp3k {

constexpr int EXIT_USAGE = 64;         // EX_USAGE: a command line the program cannot use
constexpr int EXIT_INTERRUPTED = 130;  // 128 + SIGINT: ended by Ctrl-C (on Windows too)

// "NAME 1.1.0": the program and the tools' one version.
inline std::string version_line(const char* program) { return std::string(program) + " " + ZP3K_VERSION; }

}  // namespace zp3k
