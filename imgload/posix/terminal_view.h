// The progress view of the Linux command line: a bar with blocks, bytes per
// second and time left on a terminal, plain lines otherwise, or one JSON
// event per line for scripts. Status texts are printed in UTF-8 with their
// English gloss.
#pragma once

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>

#include "imgload/download/progress_view.h"

namespace imgload {

enum class ViewStyle { BAR, LINES, JSON };

// JSON string literal of a UTF-8 text.
std::string json_string(const std::string& text);

// The one JSON writer of the --json events: an object written field by
// field, in the order given, on one line.
class JsonObject {
 public:
  JsonObject& text(const char* key, const std::string& value) { return raw(key, json_string(value)); }
  JsonObject& number(const char* key, long long value) { return raw(key, std::to_string(value)); }
  JsonObject& number(const char* key, double value, int decimals);
  JsonObject& flag(const char* key, bool value) { return raw(key, value ? "true" : "false"); }
  std::string str() const { return body_ + "}"; }

 private:
  JsonObject& raw(const char* key, const std::string& value);
  std::string body_ = "{";
};

class TerminalView : public ProgressView {
 public:
  TerminalView(ViewStyle style, std::FILE* out) : style_(style), out_(out) {}

  void set_text(int control_id, const char* text) override;
  void progress_reset(unsigned maximum) override;
  void progress_step() override;

  // A note of the front end (stop request, summary), kept apart from the bar.
  void note(const std::string& text);
  // A JSON event assembled by the front end (JSON style only).
  void json_event(const JsonObject& event);
  void set_file_paths(const char* const* paths) { paths_ = paths; }

  const std::string& last_status() const { return last_status_; }

 private:
  void finish_bar_line();
  // One event on one line; the caller holds the lock.
  void write_json(const JsonObject& event) { std::fprintf(out_, "%s\n", event.str().c_str()); }
  void render(bool force);

  ViewStyle style_;
  std::FILE* out_;
  std::mutex mutex_;
  const char* const* paths_ = nullptr;
  std::string last_status_;
  int file_number_ = 0;
  unsigned maximum_ = 0;
  unsigned position_ = 0;
  bool blocks_phase_ = false;
  bool bar_shown_ = false;
  int last_tenth_ = -1;
  std::chrono::steady_clock::time_point started_;
  std::chrono::steady_clock::time_point last_render_;
};

// The English gloss of a status or message text, or "" when it has none.
std::string gloss_for(const char* text);
// A text on one line: line breaks become spaces.
std::string one_line(const std::string& text);
}  // namespace imgload
