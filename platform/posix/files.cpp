// Regular files on POSIX: opened without waiting (a FIFO without a writer
// would hold open()), refused unless regular, held against writers by a
// shared flock where the caller asks; errno in the C locale's words.
#include <fcntl.h>
#include <locale.h>
#include <stdio_ext.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files.h"

namespace zp3k {

namespace {

Status failed_open(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR: return {Result::NOT_FOUND, error};
    case EACCES:
    case EPERM: return {Result::NO_ACCESS, error};
    default: return {Result::FAILED, error};
  }
}

// The descriptor opened and judged; -1 with *status when refused.
int open_regular(const char* path, Sharing sharing, Status* status) {
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *status = failed_open(errno);
    return -1;
  }
  struct stat st {};
  const int flags = fcntl(fd, F_GETFL);
  if (fstat(fd, &st) != 0 || flags < 0 || !S_ISREG(st.st_mode)) {
    *status = {Result::WRONG_KIND, S_ISDIR(st.st_mode) ? EISDIR : 0};
  } else if (fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    *status = {Result::FAILED, errno};
  } else if (sharing != Sharing::WITH_WRITERS && flock(fd, LOCK_SH | LOCK_NB) != 0) {
    // A writer holds it locked: said as such, not as EWOULDBLOCK's words.
    *status = {Result::IN_USE, 0};
  } else {
    *status = Status{};
    return fd;
  }
  close(fd);
  return -1;
}

}  // namespace

std::FILE* open_regular_file(const char* path, Sharing sharing, bool, Status* status) {
  const int fd = open_regular(path, sharing, status);
  if (fd < 0) return nullptr;
  std::FILE* file = fdopen(fd, "r");  // the flock goes with the descriptor
  if (file == nullptr) {
    *status = {Result::FAILED, errno};
    close(fd);
    return nullptr;
  }
  // One thread reads it: no lock per call.
  __fsetlocking(file, FSETLOCKING_BYCALLER);
  return file;
}

std::string system_error_words(int error) {
  locale_t c_locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  const char* text = c_locale != static_cast<locale_t>(0) ? strerror_l(error, c_locale) : nullptr;
  std::string words = text != nullptr ? text : "unknown error";
  if (c_locale != static_cast<locale_t>(0)) freelocale(c_locale);
  return words;
}

}  // namespace zp3k
