// What the command line tells about a failed conversion and about a
// destination name that already ends in ".bin": the English gloss after the
// message table's Japanese text, naming the path, the system's reason or the
// line, with every text from a file or the command line made safe to show.
#pragma once

#include <string>

#include "imgconv/cli/options.h"
#include "imgconv/convert.h"

namespace imgconv {

// The gloss of a failed operation's result, from its report and the
// options it was run with (a missing -S, -D or -V is told as missing).
std::string failure_gloss(ConvertResult result, const ConvertReport& report, const Options& options);

// The warning for a destination name ending in ".bin" (either case), or ""
// for any other name.
std::string bin_suffix_warning(const std::string& dest_name);

}  // namespace imgconv
