// POSIX file seam of the converter: paths against getcwd, stat, unlink, fopen.
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "imgconv/file_services.h"

namespace imgconv {
namespace {

bool posix_full_path(const char* name, char* out, std::size_t out_size) {
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

bool posix_file_exists(const char* path) {
  struct stat st;
  return lstat(path, &st) == 0;
}

bool posix_delete_file(const char* path) { return unlink(path) == 0; }

std::FILE* posix_open_source(const char* path) { return std::fopen(path, "rt"); }

std::FILE* posix_open_output(const char* path) { return std::fopen(path, "w+b"); }

}  // namespace

const FileServices platform_file_services = {posix_full_path, posix_file_exists,
                                             posix_delete_file, posix_open_source,
                                             posix_open_output};

}  // namespace imgconv
