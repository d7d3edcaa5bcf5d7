// POSIX file seam of the converter: paths against getcwd, lstat, unlink, and
// a source stream that reads CR LF as LF, as a Windows text-mode stream does.
#include <fcntl.h>
#include <stdio_ext.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

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

std::size_t posix_path_length(const char* path) { return std::strlen(path); }

bool posix_file_exists(const char* path) {
  struct stat st;
  return lstat(path, &st) == 0;
}

bool posix_delete_file(const char* path) { return unlink(path) == 0; }

// The source in text mode: a CR directly before an LF is dropped, so a line
// reads the same, and fits the line buffer the same, as on Windows.
struct TextSource {
  int fd;
  int lookahead;  // a byte read past a CR at the end of a chunk, or -1
};

ssize_t read_some(int fd, char* buf, size_t size) {
  for (;;) {
    ssize_t n = read(fd, buf, size);
    if (n >= 0 || errno != EINTR) return n;
  }
}

ssize_t text_read(void* cookie, char* buf, size_t size) {
  auto* src = static_cast<TextSource*>(cookie);
  if (size == 0) return 0;
  size_t n = 0;
  if (src->lookahead >= 0) {
    buf[n++] = static_cast<char>(src->lookahead);
    src->lookahead = -1;
  }
  ssize_t got = read_some(src->fd, buf + n, size - n);
  if (got < 0) return n > 0 ? static_cast<ssize_t>(n) : -1;
  n += static_cast<size_t>(got);
  if (n == 0) return 0;
  // Drop each CR that an LF follows inside the chunk.
  char* out = static_cast<char*>(std::memchr(buf, '\r', n));
  if (out != nullptr) {
    const char* end = buf + n;
    const char* in = out;
    while (in < end) {
      // in points at a CR: drop it when an LF follows, then move the run up to the next CR.
      if (in + 1 < end && in[1] == '\n') ++in;
      const char* next = static_cast<const char*>(std::memchr(in + 1, '\r', static_cast<size_t>(end - in - 1)));
      if (next == nullptr) next = end;
      std::memmove(out, in, static_cast<size_t>(next - in));
      out += next - in;
      in = next;
    }
    n = static_cast<size_t>(out - buf);
  }
  // A CR at the end of the chunk: the next byte decides.
  if (buf[n - 1] == '\r') {
    char next;
    ssize_t r = read_some(src->fd, &next, 1);
    if (r == 1 && next == '\n') {
      buf[n - 1] = '\n';
    } else if (r == 1) {
      src->lookahead = static_cast<unsigned char>(next);
    }
  }
  return static_cast<ssize_t>(n);
}

// Only a rewind to the start is needed (the second pass).
int text_seek(void* cookie, off64_t* offset, int whence) {
  auto* src = static_cast<TextSource*>(cookie);
  if (whence != SEEK_SET || *offset != 0 || lseek(src->fd, 0, SEEK_SET) != 0) return -1;
  src->lookahead = -1;
  return 0;
}

int text_close(void* cookie) {
  auto* src = static_cast<TextSource*>(cookie);
  int r = close(src->fd);
  delete src;
  return r;
}

std::FILE* posix_open_source(const char* path) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  auto* src = new (std::nothrow) TextSource{fd, -1};
  std::FILE* text = src == nullptr ? nullptr
                                   : fopencookie(src, "r", {text_read, nullptr, text_seek, text_close});
  if (text == nullptr) {
    delete src;
    close(fd);
    return nullptr;
  }
  // One thread reads it: no lock per fgets call.
  __fsetlocking(text, FSETLOCKING_BYCALLER);
  return text;
}

std::FILE* posix_open_output(const char* path) { return std::fopen(path, "w+b"); }

}  // namespace

const FileServices platform_file_services = {posix_full_path, posix_file_exists,
                                             posix_delete_file, posix_open_source,
                                             posix_open_output, false, posix_path_length};

}  // namespace imgconv
