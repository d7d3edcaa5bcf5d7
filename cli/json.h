// The JSON of the command lines (imgload's --json events and production
// log): objects written field by field on one line, strings always valid
// UTF-8, times in UTC.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "image/safe_text.h"

namespace zp3k {

// A moment as ISO 8601 UTC with milliseconds: 2026-12-07T22:13:24.123Z.
std::string utc_time_text(std::chrono::system_clock::time_point t);

// The one JSON writer of the command lines: an object written field by
// field, in the order given, on one line.
class JsonObject {
 public:
  JsonObject& text(const char* key, const std::string& value) { return raw(key, json_string(value)); }
  JsonObject& number(const char* key, long long value) { return raw(key, std::to_string(value)); }
  JsonObject& number(const char* key, double value, int decimals);
  JsonObject& flag(const char* key, bool value) { return raw(key, value ? "true" : "false"); }
  JsonObject& null(const char* key) { return raw(key, "null"); }
  JsonObject& array(const char* key, const std::vector<JsonObject>& items);
  std::string str() const { return body_ + "}"; }

 private:
  JsonObject& raw(const char* key, const std::string& value);
  std::string body_ = "{";
};

}  // namespace zp3k
