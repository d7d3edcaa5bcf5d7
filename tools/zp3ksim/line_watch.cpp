// The line's openings and closings from inotify on the slave's device node
// (Linux): a count of the open files of the device, the simulator's own
// opening for the line reset left out.
#include "line_watch.h"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

namespace zp3ksim {

LineWatch::~LineWatch() {
  if (fd_ >= 0) close(fd_);
}

bool LineWatch::start(const std::string& device, int master) {
  master_ = master;
  fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd_ < 0) return false;
  if (inotify_add_watch(fd_, device.c_str(), IN_OPEN | IN_CLOSE) < 0) {
    const int error = errno;
    close(fd_);
    fd_ = -1;
    errno = error;
    return false;
  }
  return true;
}

// An opening the simulator announced is its own; one where nobody held
// the device opens the line.
void LineWatch::opened() {
  if (own_opens_due_ > 0) {
    --own_opens_due_;
    ++own_open_;
    return;
  }
  if (++holders_ == 1) events.push_back(LineEvent::OPENED);
}

// The last close of an open file: the simulator's own while its opening
// is open, else one holder fewer. The last event of all, with none
// waiting, can be checked: a line still held lost an opening to a merge.
void LineWatch::closed(bool last) {
  if (own_open_ > 0 && own_closes_due_ > 0) {
    --own_open_;
    --own_closes_due_;
    return;
  }
  if (holders_ == 0) return;  // opened before the watch began
  if (holders_ == 1 && last && !hung_up() && quiet()) return;
  if (--holders_ == 0) events.push_back(LineEvent::CLOSED);
}

// With no event waiting, the hang-up tells whether anyone holds the line:
// a count that merged events put wrong is set right.
void LineWatch::check_holders() {
  const bool held_now = !hung_up();
  if (!quiet() || own_open_ > 0 || own_opens_due_ > 0) return;
  if (held_now && holders_ == 0) {
    holders_ = 1;
    events.push_back(LineEvent::OPENED);
  } else if (!held_now && holders_ > 0) {
    holders_ = 0;
    events.push_back(LineEvent::CLOSED);
  }
}

void LineWatch::gather() {
  std::vector<std::uint32_t> masks;
  alignas(inotify_event) char buffer[4096];  // aligned as the events are
  for (;;) {
    const ssize_t n = read(fd_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
      inotify_event event;
      std::memcpy(&event, buffer + at, sizeof event);
      masks.push_back(event.mask);
      at += static_cast<ssize_t>(sizeof event + event.len);
    }
  }
  for (std::size_t i = 0; i < masks.size(); ++i) {
    if (masks[i] & IN_OPEN) opened();
    if (masks[i] & IN_CLOSE) closed(i + 1 == masks.size());
  }
  check_holders();
}

bool LineWatch::hung_up() const {
  pollfd p{master_, POLLIN, 0};
  return poll(&p, 1, 0) > 0 && (p.revents & POLLHUP) != 0;
}

bool LineWatch::pending() const {
  pollfd p{fd_, POLLIN, 0};
  return poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0;
}

}  // namespace zp3ksim
