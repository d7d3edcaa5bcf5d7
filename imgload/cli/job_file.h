// The job file of the command line (--job FILE): a TOML text that holds
// everything a job needs, read into Arguments with every key checked and
// each error placed at its line and column. Reading the text opens nothing.
#pragma once

#include <string>

#include "imgload/cli/command_line.h"

namespace imgload {

// Reads the job text of the file at path into *a, over what a holds; paths
// in it (files, log, trace) are taken relative to path's folder. False with
// *problem, "PATH:LINE:COLUMN: what is wrong", at the first error in the
// text's order: a syntax error, an unknown key, a value of the wrong type or
// out of range.
bool read_job_text(const std::string& text, const std::string& path, Arguments* a,
                   std::string* problem);

// The platform's path rules (posix/ or win32/job_paths.cpp): whether a path
// stands on its own (not taken relative to a folder), and the folder part of
// a path with its last separator ("" for a bare name).
bool is_absolute_path(const std::string& path);
std::string folder_of(const std::string& path);

}  // namespace imgload
