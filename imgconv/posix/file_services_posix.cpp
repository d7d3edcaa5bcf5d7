// POSIX file seam of the converter: lstat, unlink, the source (a regular file
// only, through the platform layer), the output's temporary file, which
// SIGINT, SIGTERM, SIGHUP and SIGQUIT remove before the program ends by them,
// and errno.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "imgconv/file_services.h"
#include "platform/files.h"

namespace imgconv {
namespace {

bool posix_file_exists(const char* path) {
  struct stat st;
  return lstat(path, &st) == 0;
}

// The temporary file that an interrupted program must remove: its path, and
// whether it is there. Program-wide because the signal handler reads it. Set
// and cleared with the signals blocked, so the handler sees either no file
// or the whole path.
struct PendingTemp {
  char path[4096];
  volatile sig_atomic_t set;
};
PendingTemp pending_temp;
// Every signal that ends a program by default and can be caught, from the
// terminal (Ctrl-C, Ctrl-\, a closed terminal) or from another program.
const int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

void remove_pending_temp(int sig) {
  if (pending_temp.set) unlink(pending_temp.path);
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
// ignored or otherwise handled signal stays as it is, and so does one that
// has the handler already.
void install_cleanup_handlers() {
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
  if (pending_temp.set && std::strcmp(pending_temp.path, path) == 0) pending_temp.set = 0;
}

bool posix_delete_file(const char* path) {
  SignalsBlocked blocked;
  bool removed = unlink(path) == 0;
  if (removed || errno == ENOENT) forget_pending_temp(path);
  return removed;
}

std::FILE* posix_open_source(const char* path, zp3k::Status* status) {
  return zp3k::open_regular_file(path, zp3k::Sharing::WITH_WRITERS, true, status);
}

// The temporary file: a hidden name in the output's folder, made with
// O_EXCL so that it is this program's own, with the mode a new output file
// gets (0666 less the umask).
std::FILE* posix_create_temp(const char* output_path, char* temp_path, std::size_t temp_size) {
  const char* slash = std::strrchr(output_path, '/');
  int folder_len = slash == nullptr ? 0 : static_cast<int>(slash - output_path + 1);
  install_cleanup_handlers();
  // The process's own earlier files are gone (moved or deleted), so the name
  // only needs the next number where another process's file stands.
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    int n = std::snprintf(temp_path, temp_size, "%.*s.imgconv-%ld-%u.tmp", folder_len, output_path,
                          static_cast<long>(getpid()), attempt);
    if (n < 0 || static_cast<std::size_t>(n) >= temp_size ||
        static_cast<std::size_t>(n) >= sizeof pending_temp.path) {
      errno = ENAMETOOLONG;
      return nullptr;
    }
    SignalsBlocked blocked;
    int fd = open(temp_path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return nullptr;
    }
    std::memcpy(pending_temp.path, temp_path, static_cast<std::size_t>(n) + 1);
    pending_temp.set = 1;
    std::FILE* file = fdopen(fd, "w+b");
    if (file == nullptr) {
      const int error = errno;
      close(fd);
      unlink(temp_path);
      pending_temp.set = 0;
      errno = error;
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

int posix_last_error() { return errno; }

}  // namespace

FileServices platform_file_services() {
  return {posix_file_exists, posix_delete_file, posix_open_source, posix_create_temp,
          posix_move_into_place, false, posix_last_error};
}

void discard_pending_temp() {
  SignalsBlocked blocked;
  if (pending_temp.set) unlink(pending_temp.path);
  pending_temp.set = 0;
}

}  // namespace imgconv
