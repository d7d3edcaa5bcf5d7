// A test-only shim, loaded with LD_PRELOAD: every write(2) to the file named
// by ZP3K_SLOW_WRITE_PATH waits ZP3K_SLOW_WRITE_SECONDS first, as a log on a
// slow network share would. Other writes pass straight through.
#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using WriteFunction = ssize_t (*)(int, const void*, size_t);

bool is_slow_file(int fd) {
  const char* slow = std::getenv("ZP3K_SLOW_WRITE_PATH");
  if (slow == nullptr) return false;
  char link[64];
  char target[PATH_MAX];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t n = readlink(link, target, sizeof target - 1);
  if (n <= 0) return false;
  target[n] = '\0';
  return std::strcmp(target, slow) == 0;
}

}  // namespace

extern "C" ssize_t write(int fd, const void* data, size_t count) {
  static const WriteFunction real_write = reinterpret_cast<WriteFunction>(dlsym(RTLD_NEXT, "write"));
  if (is_slow_file(fd)) {
    const char* seconds = std::getenv("ZP3K_SLOW_WRITE_SECONDS");
    sleep(static_cast<unsigned>(std::atoi(seconds != nullptr ? seconds : "10")));
  }
  return real_write(fd, data, count);
}
