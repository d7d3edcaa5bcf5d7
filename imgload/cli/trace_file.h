// The --trace file of the Linux command line: every port opening and close,
// every frame sent and every reply read, with the time since the start, in
// hexadecimal and ASCII, and the stale bytes dropped before a request. With
// several ports, each line names its port.
#pragma once

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>

#include "imgload/link/link.h"

namespace imgload {

class TraceFile : public LinkTrace {
 public:
  bool open(const char* path);
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

 private:
  void opened_line(const std::string& label, const char* name, std::uint32_t baud_rate, bool opened);
  void closed_line(const std::string& label);
  void sent_lines(const std::string& label, const std::uint8_t* frame, int length);
  void discarded_line(const std::string& label, int count);
  void read_lines(const std::string& label, const std::uint8_t* reply, int length, ReplyStatus status);
  void stamp(const std::string& label);
  void dump(const std::uint8_t* bytes, int length);

  std::FILE* file_ = nullptr;
  std::mutex mutex_;  // the links of several ports write from their threads
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

}  // namespace imgload
