// Fuzz target for the job file reader (--job): whatever the text, the reader
// returns; what it accepts fits the command line's limits, and what it
// refuses is placed at FILE:LINE:COLUMN.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "imgload/cli/job_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string path = "/jobs/line3.toml";
  imgload::Arguments a;
  std::string problem;
  if (!imgload::read_job_text(text, path, &a, &problem)) {
    if (problem.compare(0, path.size() + 1, path + ":") != 0) std::abort();
    return 0;
  }
  if (a.count < 0 || a.count > imgload::MAX_ENTRIES) std::abort();
  if (a.speed_index < 0 || a.speed_index > 4) std::abort();
  if (a.devices.size() > imgload::MAX_PORTS) std::abort();
  for (int i = 0; i < a.count; ++i) {
    if (a.files[i].empty()) std::abort();
  }
  return 0;
}
