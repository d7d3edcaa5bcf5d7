// The job file's path rules on POSIX: '/' separates, a path from '/' is absolute.
#include "imgload/cli/job_file.h"

namespace imgload {

bool is_absolute_path(const std::string& path) { return !path.empty() && path[0] == '/'; }

std::string folder_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace imgload
