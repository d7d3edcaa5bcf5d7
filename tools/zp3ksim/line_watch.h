// Every opening and closing of the pseudo-terminal's slave side, from
// inotify events on its device node: each open and each last close of an
// open file is queued by the kernel as it happens, so a close and reopen
// between two looks of the simulator, or one that carries no bytes, is seen
// all the same, in order. The kernel merges an event into an identical one
// that waits unread (two openings in a row are queued as one), so the count
// of holders is checked against the master's hang-up, which shows when
// nobody holds the slave, whenever no event waits.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace zp3ksim {

// The line as the downloader sees it: opened (someone holds the device
// where nobody did), closed (nobody holds it any longer).
enum class LineEvent { OPENED, CLOSED };

class LineWatch {
 public:
  LineWatch() = default;
  LineWatch(const LineWatch&) = delete;
  LineWatch& operator=(const LineWatch&) = delete;
  ~LineWatch();

  // Watches the device, the slave of master, once opened and closed (the
  // master shows a hang-up only from then on); false, with errno set, when
  // it cannot.
  bool start(const std::string& device, int master);
  // For poll(): readable when events wait.
  int fd() const { return fd_; }
  // The simulator itself opens and closes the device next: those two
  // events are not the line's.
  void own_opening() {
    ++own_opens_due_;
    ++own_closes_due_;
  }
  // Reads the events that wait; the line's openings and closings join events.
  void gather();
  // Whether events wait to be gathered (none is read).
  bool pending() const;
  // Whether someone other than the simulator holds the device, as of the
  // events gathered.
  bool held() const { return holders_ > 0; }

  std::deque<LineEvent> events;  // in the order they happened, oldest first

 private:
  void opened();
  void closed(bool last);
  void check_holders();
  bool quiet() const { return !pending(); }
  bool hung_up() const;

  int fd_ = -1;
  int master_ = -1;
  int holders_ = 0;         // open files of the device other than the simulator's own
  int own_open_ = 0;        // the simulator's own opening seen, its closing not yet
  int own_opens_due_ = 0;   // its own openings still to come as events
  int own_closes_due_ = 0;
};

}  // namespace zp3ksim
