// POSIX file seam of the converter: paths against getcwd, lstat, unlink, and
// a source stream that reads CR LF as LF, as a Windows text-mode stream does.
#include <sys/stat.h>
#include <unistd.h>

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

bool posix_file_exists(const char* path) {
  struct stat st;
  return lstat(path, &st) == 0;
}

bool posix_delete_file(const char* path) { return unlink(path) == 0; }

// The source in text mode: a CR directly before an LF is dropped, so a line
// reads the same, and fits the line buffer the same, as on Windows.
struct TextSource {
  std::FILE* file;
};

constexpr std::size_t TEXT_BUFFER = 64 * 1024;  // bytes of the file's own stdio buffer

ssize_t text_read(void* cookie, char* buf, size_t size) {
  auto* src = static_cast<TextSource*>(cookie);
  size_t n = std::fread(buf, 1, size, src->file);
  if (n == 0) return std::ferror(src->file) ? -1 : 0;
  // Drop each CR that an LF follows inside the chunk.
  char* cr = static_cast<char*>(std::memchr(buf, '\r', n));
  if (cr != nullptr) {
    size_t out = static_cast<size_t>(cr - buf);
    for (size_t i = out; i < n; ++i) {
      if (buf[i] == '\r' && i + 1 < n && buf[i + 1] == '\n') continue;
      buf[out++] = buf[i];
    }
    n = out;
  }
  // A CR at the end of the chunk: the next byte decides.
  if (buf[n - 1] == '\r') {
    int next = std::getc(src->file);
    if (next == '\n') {
      buf[n - 1] = '\n';
    } else if (next != EOF) {
      std::ungetc(next, src->file);
    }
  }
  return static_cast<ssize_t>(n);
}

// Only a rewind to the start is needed (the second pass).
int text_seek(void* cookie, off64_t* offset, int whence) {
  auto* src = static_cast<TextSource*>(cookie);
  if (whence != SEEK_SET || *offset != 0 || std::fseek(src->file, 0, SEEK_SET) != 0) return -1;
  return 0;
}

int text_close(void* cookie) {
  auto* src = static_cast<TextSource*>(cookie);
  int r = std::fclose(src->file);
  delete src;
  return r;
}

std::FILE* posix_open_source(const char* path) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return nullptr;
  std::setvbuf(file, nullptr, _IOFBF, TEXT_BUFFER);
  auto* src = new (std::nothrow) TextSource{file};
  std::FILE* text = src == nullptr ? nullptr
                                   : fopencookie(src, "r", {text_read, nullptr, text_seek, text_close});
  if (text == nullptr) {
    delete src;
    std::fclose(file);
  }
  return text;
}

std::FILE* posix_open_output(const char* path) { return std::fopen(path, "w+b"); }

}  // namespace

const FileServices platform_file_services = {posix_full_path, posix_file_exists,
                                             posix_delete_file, posix_open_source,
                                             posix_open_output};

}  // namespace imgconv
