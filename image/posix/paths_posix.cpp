// Paths on POSIX: a name completed against getcwd, lengths in bytes.
#include <unistd.h>

#include <cstring>

#include "image/paths.h"

namespace zp3k {

bool full_path(const char* name, char* out, std::size_t out_size) {
  std::size_t name_len = std::strlen(name);
  if (name[0] == '/') {
    if (name_len + 1 > out_size) return false;
    std::memcpy(out, name, name_len + 1);
    return true;
  }
  if (getcwd(out, out_size) == nullptr) return false;  // also when it does not fit
  std::size_t dir_len = std::strlen(out);
  bool need_slash = dir_len == 0 || out[dir_len - 1] != '/';
  std::size_t total = dir_len + (need_slash ? 1 : 0) + name_len;
  if (total + 1 > out_size) return false;
  if (need_slash) out[dir_len++] = '/';
  std::memcpy(out + dir_len, name, name_len + 1);
  return true;
}

std::size_t path_length(const char* path) { return std::strlen(path); }

}  // namespace zp3k
