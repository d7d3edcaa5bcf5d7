// The Linux command line's progress view.
#include "imgload/posix/terminal_view.h"

#include <cstring>

#include "imgload/download/messages.h"

namespace imgload {

namespace {

constexpr int BAR_WIDTH = 30;                              // characters
constexpr std::chrono::milliseconds RENDER_INTERVAL{100};  // ms between bar redraws
constexpr unsigned BLOCK_BYTES = 512;                      // bytes per data request
constexpr unsigned IDLE_RANGE = 3;                         // the bar between files: 0..3

double seconds_since(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

}  // namespace

std::string gloss_for(const char* text) {
  for (int row = 0; row < MESSAGE_COUNT; ++row) {
    const char* m = message_text(row);
    if (std::strncmp(text, m, std::strlen(m)) == 0) return message_gloss(row);
  }
  if (std::strcmp(text, dialog_text(TEXT_TRANSFER_NOTICE)) == 0) {
    return "data transfer in progress; do not switch the power off";
  }
  return "";
}

std::string one_line(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return out;
}

std::string json_string(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char esc[8];
          std::snprintf(esc, sizeof esc, "\\u%04x", c);
          out += esc;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

JsonObject& JsonObject::number(const char* key, double value, int decimals) {
  char digits[64];
  std::snprintf(digits, sizeof digits, "%.*f", decimals, value);
  return raw(key, digits);
}

JsonObject& JsonObject::raw(const char* key, const std::string& value) {
  if (body_.size() > 1) body_ += ',';
  body_ += json_string(key) + ':' + value;
  return *this;
}

void TerminalView::finish_bar_line() {
  if (bar_shown_) {
    std::fputc('\n', out_);
    bar_shown_ = false;
  }
}

void TerminalView::set_text(int control_id, const char* text) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (control_id == CONTROL_STATUS) {
    last_status_ = text;
    const std::string gloss = gloss_for(text);
    if (style_ == ViewStyle::JSON) {
      write_json(JsonObject().text("event", "status").text("text", text).text("gloss", gloss));
    } else {
      finish_bar_line();
      std::fprintf(out_, "%s%s%s%s\n", one_line(text).c_str(), gloss.empty() ? "" : " [",
                   gloss.c_str(), gloss.empty() ? "" : "]");
    }
  } else if (control_id == CONTROL_FILE_LABEL) {
    int number = 0;
    std::sscanf(text, "No.%d", &number);
    file_number_ = number;
    const char* path = (paths_ != nullptr && number >= 1 && number <= 3) ? paths_[number - 1] : "";
    if (style_ == ViewStyle::JSON) {
      write_json(JsonObject().text("event", "file").text("label", text).number("number", number)
                     .text("path", path));
    } else {
      finish_bar_line();
      std::fprintf(out_, "%s %s\n", text, path);
    }
  }
  // The block label is shown through the bar's block count.
  std::fflush(out_);
}

void TerminalView::progress_reset(unsigned maximum) {
  std::lock_guard<std::mutex> lock(mutex_);
  maximum_ = maximum;
  position_ = 0;
  last_tenth_ = -1;
  // Range 0..3 is the bar between files; a file's blocks (whole 2048-byte
  // blocks, four requests each) always give a range of 5 or more.
  blocks_phase_ = maximum != IDLE_RANGE;
  started_ = std::chrono::steady_clock::now();
  last_render_ = started_ - RENDER_INTERVAL;
}

void TerminalView::progress_step() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (position_ < maximum_) ++position_;
  render(position_ == maximum_);
}

void TerminalView::render(bool force) {
  if (!blocks_phase_ || maximum_ <= 1) return;
  const unsigned blocks_total = maximum_ - 1;  // the last step is the end of the file
  const unsigned blocks_sent = position_ < blocks_total ? position_ : blocks_total;
  // The rate counts from the first block sent: a block is stepped before it
  // goes out, so block k has been sent when block k + 1 is stepped.
  if (position_ == 1) started_ = std::chrono::steady_clock::now();
  const double elapsed = seconds_since(started_);
  const double bytes = static_cast<double>(blocks_sent > 1 ? blocks_sent - 1 : 0) * BLOCK_BYTES;
  const double rate = elapsed > 0 ? bytes / elapsed : 0;
  const double left = rate > 0 ? (static_cast<double>(blocks_total - blocks_sent) * BLOCK_BYTES) / rate : 0;
  switch (style_) {
    case ViewStyle::JSON:
      write_json(JsonObject().text("event", "progress").number("file", file_number_)
                     .number("position", position_).number("maximum", maximum_)
                     .number("blocks_sent", blocks_sent).number("blocks", blocks_total)
                     .number("bytes_per_second", rate, 0).number("seconds_left", left, 1));
      break;
    case ViewStyle::LINES: {
      const int tenth = static_cast<int>(position_ * 10 / maximum_);
      if (tenth == last_tenth_ && !force) return;
      last_tenth_ = tenth;
      std::fprintf(out_, "No.%d %3u%%  %u/%u blocks  %.0f bytes/s  %.0f s left\n", file_number_,
                   position_ * 100 / maximum_, blocks_sent, blocks_total, rate, left);
      break;
    }
    case ViewStyle::BAR: {
      const auto now = std::chrono::steady_clock::now();
      if (!force && now - last_render_ < RENDER_INTERVAL) return;
      last_render_ = now;
      const int filled = static_cast<int>(position_ * BAR_WIDTH / maximum_);
      char bar[BAR_WIDTH + 1];
      for (int i = 0; i < BAR_WIDTH; ++i) bar[i] = i < filled ? '#' : '-';
      bar[BAR_WIDTH] = '\0';
      const int secs = static_cast<int>(left + 0.5);
      std::fprintf(out_, "\r  [%s] %u/%u blocks  %.1f KiB/s  %d:%02d left\x1b[K", bar, blocks_sent,
                   blocks_total, rate / 1024.0, secs / 60, secs % 60);
      bar_shown_ = true;
      if (position_ == maximum_) finish_bar_line();
      break;
    }
  }
  std::fflush(out_);
}

void TerminalView::note(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (style_ == ViewStyle::JSON) {
    write_json(JsonObject().text("event", "note").text("text", text));
  } else {
    finish_bar_line();
    std::fprintf(out_, "%s\n", text.c_str());
  }
  std::fflush(out_);
}

void TerminalView::json_event(const JsonObject& event) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (style_ != ViewStyle::JSON) return;
  write_json(event);
  std::fflush(out_);
}

}  // namespace imgload
