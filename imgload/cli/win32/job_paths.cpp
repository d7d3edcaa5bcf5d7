// The job file's path rules on Windows: '\' and '/' separate; a path from
// either, or with a drive ("C:"), does not follow a folder.
#include "imgload/cli/job_file.h"

namespace imgload {

bool is_absolute_path(const std::string& path) {
  if (!path.empty() && (path[0] == '\\' || path[0] == '/')) return true;
  return path.size() >= 2 && path[1] == ':';
}

std::string folder_of(const std::string& path) {
  std::size_t end = path.find_last_of("\\/");
  if (end == std::string::npos && path.size() >= 2 && path[1] == ':') end = 1;  // "C:job.toml"
  return end == std::string::npos ? std::string() : path.substr(0, end + 1);
}

}  // namespace imgload
