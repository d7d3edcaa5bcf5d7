// One serial link to one controller: the port it is given, the transmit and
// reply buffers, the two reply readers polled under the reply countdown, and
// the trace hook where frames are sent and read. A download owns one.
#pragma once

#include <cstdint>

#include "imgload/link/countdown.h"
#include "imgload/link/frame.h"
#include "imgload/link/serial_port.h"

namespace imgload {

// Observer of a link's traffic, for a front end's trace (the Linux command
// line's --trace) and for tests; called on the thread that runs the link, in
// the order things happen. An event a trace does not override does nothing.
class LinkTrace {
 public:
  virtual ~LinkTrace() = default;
  virtual void port_opened(const char* /*name*/, std::uint32_t /*baud_rate*/, bool /*opened*/) {}
  virtual void port_closed() {}
  virtual void frame_sent(const std::uint8_t* /*frame*/, int /*length*/) {}
  // Bytes received before a request and read by no reader, dropped before
  // the request went out: their count, or -1 when the discard failed.
  // Called only when there was something to say.
  virtual void input_discarded(int /*count*/) {}
  // A reply the reader finished: the bytes it stored and its status. After
  // REPLY_TIMEOUT, the bytes are whatever arrived before it gave up.
  virtual void reply_read(const std::uint8_t* /*reply*/, int /*length*/, ReplyStatus /*status*/) {}
};

// The trace of a link nobody traces: one that overrides nothing.
LinkTrace& no_link_trace();

class Link {
 public:
  // port: the serial port this link opens and closes (not open yet);
  // countdown: the reply countdown the readers wait under (the download's).
  Link(SerialPort& port, ReplyCountdown& countdown, LinkTrace& trace = no_link_trace())
      : port_(port), countdown_(countdown), trace_(trace) {}
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;
  ~Link() { close(); }

  // Opens the port 8E1 at baud_rate; on failure nothing is left open and
  // the status says why.
  zp3k::Status open(const char* name, std::uint32_t baud_rate);
  // Closes the port when it is open.
  void close();
  bool is_open() const { return port_.is_open(); }

  // Builds the request in the transmit buffer, drops what was received and
  // is no part of a reply being read (the late tail of an earlier reply
  // must not be taken for this request's), and writes the request with one
  // port write (a short write shows up as a missing reply). Returns its length.
  int send_frame(const char command[2], const std::uint8_t* fields, int field_count);

  // The readers: REPLY_WAIT while a reply is still due, then its judgement.
  ReplyStatus read_reply();       // plain: REPLY_OK when the first byte is ACK, else REPLY_NAK
  ReplyStatus read_data_reply();  // data: by the BCC; REPLY_OK sets reply_code()

  ReplyCountdown& countdown() { return countdown_; }
  // The two letters of the last request sent ("" before the first).
  const char* last_command() const { return last_command_; }
  // The last reply ended because the port's read failed, not by silence.
  bool read_failed() const { return read_failed_; }
  const std::uint8_t* reply() const { return reply_; }
  const char* reply_code() const { return reply_code_; }
  const ReaderState& plain_reader() const { return plain_; }
  const ReaderState& data_reader() const { return data_; }

 private:
  enum FrameProgress { FRAME_COMPLETE, FRAME_PENDING, FRAME_TIMED_OUT };
  FrameProgress read_frame(ReaderState& state);
  ReplyStatus reply_ended(ReplyStatus status, const ReaderState& state);

  SerialPort& port_;
  ReplyCountdown& countdown_;
  LinkTrace& trace_;
  std::uint8_t transmit_[FRAME_BUFFER_SIZE] = {};
  std::uint8_t reply_[FRAME_BUFFER_SIZE] = {};  // never cleared: bytes past a reply are older ones
  char reply_code_[3] = {};
  char last_command_[3] = {};
  bool read_failed_ = false;
  ReaderState plain_ = {};
  ReaderState data_ = {};
};

}  // namespace imgload
