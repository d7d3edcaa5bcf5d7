// The --trace file of the Linux command line: every port opening and close,
// every frame sent and every reply read, with the time since the start, in
// hexadecimal and ASCII, and the stale bytes dropped before a request. With
// several ports, each line names its port.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

#include "imgload/cli/output_queue.h"
#include "imgload/link/link.h"

namespace imgload {

class Terminal;

class TraceFile : public LinkTrace {
 public:
  // Opens path, emptied, for the trace; false, with the refusal, for a
  // FIFO, a folder, a device other than the null device, or a file the
  // system does not open.
  bool open(const std::string& path, std::string* refusal);
  // Every trace line also goes to standard error through terminal (-v).
  void echo_to(Terminal* terminal) { echo_ = terminal; }
  // Whether anything is traced: a file, standard error, or both.
  bool active() const { return channel_ != nullptr || echo_ != nullptr; }
  // Waits a short while for the file's lines still queued.
  ~TraceFile() override;

  // The trace of one link, unnamed (one port).
  void port_opened(const char* name, std::uint32_t baud_rate, bool opened) override {
    opened_line("", name, baud_rate, opened);
  }
  void port_closed() override { closed_line(""); }
  void frame_sent(const std::uint8_t* frame, int length) override { sent_lines("", frame, length); }
  void input_discarded(int count) override { discarded_line("", count); }
  void reply_read(const std::uint8_t* reply, int length, ReplyStatus status) override {
    read_lines("", reply, length, status);
  }

  // The trace of one of several links, each line led by its port.
  class Port : public LinkTrace {
   public:
    Port(TraceFile& file, std::string port) : file_(file), label_("[" + port + "] ") {}
    void port_opened(const char* name, std::uint32_t baud_rate, bool opened) override {
      file_.opened_line(label_, name, baud_rate, opened);
    }
    void port_closed() override { file_.closed_line(label_); }
    void frame_sent(const std::uint8_t* frame, int length) override {
      file_.sent_lines(label_, frame, length);
    }
    void input_discarded(int count) override { file_.discarded_line(label_, count); }
    void reply_read(const std::uint8_t* reply, int length, ReplyStatus status) override {
      file_.read_lines(label_, reply, length, status);
    }

   private:
    TraceFile& file_;
    std::string label_;
  };

  // The file after a run: waits for its queued lines until deadline (true
  // when all were written or failed); what was lost and why.
  bool settle(OutputClock::time_point deadline);
  const std::string& path() const { return path_; }
  // Lines lost to a full queue, or still queued when the settling ended.
  std::size_t dropped_lines() const {
    return late_lines_.load() + (channel_ ? channel_->dropped_lines() : 0);
  }
  std::size_t failed_lines() const { return channel_ ? channel_->failed_lines() : 0; }
  std::string failure() const { return channel_ ? channel_->failure() : std::string(); }

 private:
  void opened_line(const std::string& label, const char* name, std::uint32_t baud_rate, bool opened);
  void closed_line(const std::string& label);
  void sent_lines(const std::string& label, const std::uint8_t* frame, int length);
  void discarded_line(const std::string& label, int count);
  void read_lines(const std::string& label, const std::uint8_t* reply, int length, ReplyStatus status);
  std::string stamp(const std::string& label) const;
  void emit(const std::string& lines);

  std::string path_;
  std::unique_ptr<OutputChannel> channel_;  // null without a file
  Terminal* echo_ = nullptr;                // null without -v
  // The end of a run and the end at once may settle at the same time.
  std::atomic<bool> settled_{false};
  std::atomic<std::size_t> late_lines_{0};
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

}  // namespace imgload
