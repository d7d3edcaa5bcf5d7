// Writing the --trace file (and, with -v, the same lines on standard error):
// each record is formatted whole and queued, never written by the download.
#include "imgload/cli/trace_file.h"

#include <cstdio>
#include <ctime>

#include "imgload/cli/terminal_view.h"
#include "imgload/link/frame.h"

namespace imgload {

namespace {

constexpr int BYTES_PER_ROW = 16;
constexpr std::chrono::milliseconds CLOSING_BOUND{1000};  // ms the closing waits for the file

// Bytes as rows of hexadecimal and ASCII.
std::string dump(const std::uint8_t* bytes, int length) {
  std::string out;
  char cell[16];
  for (int row = 0; row < length; row += BYTES_PER_ROW) {
    std::snprintf(cell, sizeof cell, "    %04X ", row);
    out += cell;
    for (int i = row; i < row + BYTES_PER_ROW; ++i) {
      if (i < length) {
        std::snprintf(cell, sizeof cell, " %02X", bytes[i]);
        out += cell;
      } else {
        out += "   ";
      }
    }
    out += "  |";
    for (int i = row; i < row + BYTES_PER_ROW && i < length; ++i) {
      out += static_cast<char>(bytes[i] >= 0x20 && bytes[i] < 0x7F ? bytes[i] : '.');
    }
    out += "|\n";
  }
  return out;
}

}  // namespace

bool TraceFile::open(const std::string& path, std::string* refusal) {
  std::unique_ptr<OutputSink> sink = open_output_file(path, "trace", refusal);
  if (sink == nullptr) return false;
  path_ = path;
  channel_ = std::make_unique<OutputChannel>(std::move(sink), TRACE_QUEUE_LIMIT);
  const std::time_t now = std::time(nullptr);
  char when[64];
  std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&now));
  channel_->push(std::string("# imgload trace, started ") + when + "; times in seconds since then\n");
  start_ = std::chrono::steady_clock::now();
  return true;
}

TraceFile::~TraceFile() {
  if (channel_ != nullptr && !settled_) channel_->drain(OutputClock::now() + CLOSING_BOUND);
}

bool TraceFile::settle(OutputClock::time_point deadline) {
  settled_ = true;
  if (channel_ == nullptr || channel_->drain(deadline)) return true;
  for (const std::string& text : channel_->take_unwritten()) late_lines_ += line_count(text);
  return false;
}

std::string TraceFile::stamp(const std::string& label) const {
  const double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  char text[32];
  std::snprintf(text, sizeof text, "%12.6f ", t);
  return text + label;
}

void TraceFile::emit(const std::string& lines) {
  if (channel_ != nullptr) channel_->push(lines);
  if (echo_ != nullptr) echo_->error_lines(lines);
}

void TraceFile::opened_line(const std::string& label, const char* name, std::uint32_t baud_rate,
                            bool opened) {
  if (!active()) return;
  char text[64];
  std::snprintf(text, sizeof text, " at %u bit/s: %s\n", static_cast<unsigned>(baud_rate),
                opened ? "ok" : "FAILED");
  emit(stamp(label) + "open " + name + text);
}

void TraceFile::closed_line(const std::string& label) {
  if (active()) emit(stamp(label) + "close\n");
}

void TraceFile::sent_lines(const std::string& label, const std::uint8_t* frame, int length) {
  if (!active()) return;
  char text[64];
  std::snprintf(text, sizeof text, "sent %c%c, %d bytes\n", frame[5], frame[6], length);
  emit(stamp(label) + text + dump(frame, length));
}

void TraceFile::discarded_line(const std::string& label, int count) {
  if (!active()) return;
  char text[96];
  if (count < 0) {
    std::snprintf(text, sizeof text, "discarding unread bytes FAILED\n");
  } else {
    std::snprintf(text, sizeof text, "discarded %d stale byte(s), received and read by no reply\n",
                  count);
  }
  emit(stamp(label) + text);
}

void TraceFile::read_lines(const std::string& label, const std::uint8_t* reply, int length,
                           ReplyStatus status) {
  if (!active()) return;
  const char* judged = status == REPLY_OK        ? "ok"
                       : status == REPLY_NAK     ? "NAK (first byte not ACK)"
                       : status == REPLY_BCC     ? "BCC wrong"
                       : status == REPLY_TIMEOUT ? "timed out"
                                                 : "?";
  char text[96];
  std::snprintf(text, sizeof text, "received %d bytes: %s\n", length, judged);
  emit(stamp(label) + text + dump(reply, length));
}

}  // namespace imgload
