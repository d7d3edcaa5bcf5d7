// The command lines' JSON writer and its times.
#include "cli/json.h"

#include <cstdio>

namespace zp3k {

// Days since 1970-01-01 to the civil date (proleptic Gregorian), by
// 400-year eras, so no C library time conversion (and no time zone) is needed.
std::string utc_time_text(std::chrono::system_clock::time_point t) {
  using namespace std::chrono;
  const long long ms = duration_cast<milliseconds>(t.time_since_epoch()).count();
  const long long MS_PER_DAY = 86400000;
  long long days = ms / MS_PER_DAY;
  long long of_day = ms % MS_PER_DAY;
  if (of_day < 0) {
    of_day += MS_PER_DAY;
    --days;
  }
  const long long z = days + 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const long long doe = z - era * 146097;                                 // [0, 146096]
  const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;  // [0, 399]
  const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);          // [0, 365]
  const long long mp = (5 * doy + 2) / 153;                               // March = 0
  const long long day = doy - (153 * mp + 2) / 5 + 1;
  const long long month = mp < 10 ? mp + 3 : mp - 9;
  const long long year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  char text[48];
  std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld.%03lldZ", year, month, day,
                of_day / 3600000, of_day / 60000 % 60, of_day / 1000 % 60, of_day % 1000);
  return text;
}

JsonObject& JsonObject::array(const char* key, const std::vector<JsonObject>& items) {
  std::string list = "[";
  for (const JsonObject& item : items) list += (list.size() > 1 ? "," : "") + item.str();
  return raw(key, list + "]");
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

}  // namespace zp3k
