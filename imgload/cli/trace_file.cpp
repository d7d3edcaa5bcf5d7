// Writing the --trace file.
#include "imgload/cli/trace_file.h"

#include <ctime>

#include "imgload/link/frame.h"

namespace imgload {

namespace {
constexpr int BYTES_PER_ROW = 16;
}

bool TraceFile::open(const char* path) {
  file_ = std::fopen(path, "w");
  if (file_ == nullptr) return false;
  const std::time_t now = std::time(nullptr);
  char when[64];
  std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&now));
  std::fprintf(file_, "# imgload trace, started %s; times in seconds since then\n", when);
  start_ = std::chrono::steady_clock::now();
  return true;
}

TraceFile::~TraceFile() {
  if (file_ != nullptr) std::fclose(file_);
}

void TraceFile::stamp(const std::string& label) {
  const double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  std::fprintf(file_, "%12.6f %s", t, label.c_str());
}

void TraceFile::dump(const std::uint8_t* bytes, int length) {
  for (int row = 0; row < length; row += BYTES_PER_ROW) {
    std::fprintf(file_, "    %04X ", row);
    for (int i = row; i < row + BYTES_PER_ROW; ++i) {
      if (i < length) std::fprintf(file_, " %02X", bytes[i]);
      else std::fputs("   ", file_);
    }
    std::fputs("  |", file_);
    for (int i = row; i < row + BYTES_PER_ROW && i < length; ++i) {
      std::fputc(bytes[i] >= 0x20 && bytes[i] < 0x7F ? bytes[i] : '.', file_);
    }
    std::fputs("|\n", file_);
  }
}

void TraceFile::opened_line(const std::string& label, const char* name, std::uint32_t baud_rate,
                            bool opened) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (file_ == nullptr) return;
  stamp(label);
  std::fprintf(file_, "open %s at %u bit/s: %s\n", name, static_cast<unsigned>(baud_rate),
               opened ? "ok" : "FAILED");
  std::fflush(file_);
}

void TraceFile::closed_line(const std::string& label) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (file_ == nullptr) return;
  stamp(label);
  std::fputs("close\n", file_);
  std::fflush(file_);
}

void TraceFile::sent_lines(const std::string& label, const std::uint8_t* frame, int length) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (file_ == nullptr) return;
  stamp(label);
  std::fprintf(file_, "sent %c%c, %d bytes\n", frame[5], frame[6], length);
  dump(frame, length);
  std::fflush(file_);
}

void TraceFile::discarded_line(const std::string& label, int count) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (file_ == nullptr) return;
  stamp(label);
  if (count < 0) std::fputs("discarding unread bytes FAILED\n", file_);
  else std::fprintf(file_, "discarded %d stale byte(s), received and read by no reply\n", count);
  std::fflush(file_);
}

void TraceFile::read_lines(const std::string& label, const std::uint8_t* reply, int length,
                           ReplyStatus status) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (file_ == nullptr) return;
  stamp(label);
  const char* judged = status == REPLY_OK        ? "ok"
                       : status == REPLY_NAK     ? "NAK (first byte not ACK)"
                       : status == REPLY_BCC     ? "BCC wrong"
                       : status == REPLY_TIMEOUT ? "timed out"
                                                 : "?";
  std::fprintf(file_, "received %d bytes: %s\n", length, judged);
  dump(reply, length);
  std::fflush(file_);
}

}  // namespace imgload
