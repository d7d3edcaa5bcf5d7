// POSIX file seam of the converter: paths against getcwd, lstat, unlink, a
// source stream that reads CR LF as LF, as a Windows text-mode stream does,
// and the output's temporary file, which SIGINT and SIGTERM remove before
// the program ends by them.
#include <fcntl.h>
#include <signal.h>
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

// The temporary file that an interrupted program must remove: its path, and
// whether it is there. Set and cleared with the two signals blocked, so the
// handler sees either no file or the whole path.
char pending_temp[4096];
volatile sig_atomic_t pending_temp_set = 0;
const int kCleanupSignals[] = {SIGINT, SIGTERM};

void remove_pending_temp(int sig) {
  if (pending_temp_set) unlink(pending_temp);
  // Ended by the signal as if there were no handler.
  signal(sig, SIG_DFL);
  raise(sig);
}

// Blocks the clean-up signals for as long as it lives.
class SignalsBlocked {
 public:
  SignalsBlocked() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : kCleanupSignals) sigaddset(&set, sig);
    sigprocmask(SIG_BLOCK, &set, &previous_);
  }
  ~SignalsBlocked() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }

 private:
  sigset_t previous_;
};

// Installs the handler where the signal would end the program anyway; an
// ignored or otherwise handled signal stays as it is.
void install_cleanup_handlers() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  for (int sig : kCleanupSignals) {
    struct sigaction current;
    if (sigaction(sig, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) continue;
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = remove_pending_temp;
    sigemptyset(&action.sa_mask);
    for (int other : kCleanupSignals) sigaddset(&action.sa_mask, other);
    sigaction(sig, &action, nullptr);
  }
}

// Forgets the pending temporary file when it is the one at path (call with
// the signals blocked).
void forget_pending_temp(const char* path) {
  if (pending_temp_set && std::strcmp(pending_temp, path) == 0) pending_temp_set = 0;
}

bool posix_delete_file(const char* path) {
  SignalsBlocked blocked;
  bool removed = unlink(path) == 0;
  if (removed || errno == ENOENT) forget_pending_temp(path);
  return removed;
}

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
  // Opened without waiting (a FIFO without a writer would block open), and
  // refused at once unless it is a regular file.
  int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return nullptr;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    close(fd);
    return nullptr;
  }
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

// The temporary file: a hidden name in the output's folder, made with
// O_EXCL so that it is this program's own, with the mode a new output file
// gets (0666 less the umask).
std::FILE* posix_create_temp(const char* output_path, char* temp_path, std::size_t temp_size) {
  static unsigned serial = 0;
  const char* slash = std::strrchr(output_path, '/');
  int folder_len = slash == nullptr ? 0 : static_cast<int>(slash - output_path + 1);
  install_cleanup_handlers();
  for (int attempt = 0; attempt < 100; ++attempt) {
    int n = std::snprintf(temp_path, temp_size, "%.*s.imgconv-%ld-%u.tmp", folder_len, output_path,
                          static_cast<long>(getpid()), serial++);
    if (n < 0 || static_cast<std::size_t>(n) >= temp_size ||
        static_cast<std::size_t>(n) >= sizeof pending_temp) {
      return nullptr;
    }
    SignalsBlocked blocked;
    int fd = open(temp_path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return nullptr;
    }
    std::memcpy(pending_temp, temp_path, static_cast<std::size_t>(n) + 1);
    pending_temp_set = 1;
    std::FILE* file = fdopen(fd, "w+b");
    if (file == nullptr) {
      close(fd);
      unlink(temp_path);
      pending_temp_set = 0;
    }
    return file;
  }
  return nullptr;
}

// rename replaces the name itself: a symbolic link there is replaced, its
// target left alone, and a reader sees the old file or the new one.
bool posix_move_into_place(const char* temp_path, const char* output_path) {
  SignalsBlocked blocked;
  if (rename(temp_path, output_path) != 0) return false;
  forget_pending_temp(temp_path);
  return true;
}

}  // namespace

const FileServices platform_file_services = {posix_full_path,       posix_file_exists,
                                             posix_delete_file,     posix_open_source,
                                             posix_create_temp,     posix_move_into_place,
                                             false,                 posix_path_length};

}  // namespace imgconv
