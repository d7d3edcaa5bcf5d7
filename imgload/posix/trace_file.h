// The --trace file of the Linux command line: every port opening and close,
// every frame sent and every reply read, with the time since the start, in
// hexadecimal and ASCII.
#pragma once

#include <chrono>
#include <cstdio>

#include "imgload/download/sequencer.h"

namespace imgload {

class TraceFile : public LinkTrace {
 public:
  bool open(const char* path);
  ~TraceFile() override;

  void port_opened(const char* name, std::uint32_t baud_rate, bool opened) override;
  void port_closed() override;
  void frame_sent(const std::uint8_t* frame, int length) override;
  void reply_read(const std::uint8_t* reply, int length, int status) override;

 private:
  void stamp();
  void dump(const std::uint8_t* bytes, int length);

  std::FILE* file_ = nullptr;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

}  // namespace imgload
