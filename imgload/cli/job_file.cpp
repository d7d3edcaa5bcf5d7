// Reading a job file with toml++ (header-only, parse errors returned as
// values): each key's value checked and put into Arguments, the first error
// in the text's order kept with its line and column.
#include "imgload/cli/job_file.h"

#include <toml++/toml.h>

#include <climits>
#include <cstdint>
#include <vector>

#include "image/paths.h"
#include "image/safe_text.h"
#include "platform/files.h"

namespace imgload {

namespace {

constexpr std::size_t JOB_FILE_LIMIT = 1 << 20;  // bytes: far more than any job needs

const char KEYS[] =
    "ports, speed, run, log, trace, repeat, count, ask_unit_id, allow_bad_checksum, [[files]]";

const char* type_words(toml::node_type type) {
  switch (type) {
    case toml::node_type::table: return "a table";
    case toml::node_type::array: return "a list";
    case toml::node_type::string: return "a string";
    case toml::node_type::integer: return "an integer";
    case toml::node_type::floating_point: return "a floating-point number";
    case toml::node_type::boolean: return "a boolean";
    case toml::node_type::date: return "a date";
    case toml::node_type::time: return "a time";
    case toml::node_type::date_time: return "a date-time";
    default: return "nothing";
  }
}

// One reading of a job's table into Arguments.
class JobReader {
 public:
  JobReader(const std::string& path, Arguments* a) : path_(path), folder_(folder_of(path)), a_(*a) {}

  // Every key; the problem holds the first error in the text, if any.
  void read(const toml::table& job);
  // "PATH:LINE:COLUMN: what" at the earliest place found wrong.
  bool fail(const toml::source_region& at, const std::string& what);
  const std::string& problem() const { return problem_; }

 private:
  void key(const std::string& name, const toml::key& k, const toml::node& value);
  bool wrong_type(const std::string& name, const toml::node& value, const char* expected) {
    return fail(value.source(), name + " must be " + expected + ", not " + type_words(value.type()));
  }
  bool flag(const std::string& name, const toml::node& value, bool* out);
  bool text(const std::string& name, const toml::node& value, std::string* out);
  bool path(const std::string& name, const toml::node& value, std::string* out);
  bool speed(const toml::node& value);
  bool count(const toml::node& value);
  bool ports(const toml::node& value);
  bool files(const toml::node& value);
  bool file(int i, const toml::table& entry);

  std::string path_;
  std::string folder_;
  Arguments& a_;
  std::string problem_;
  toml::source_position at_{};  // of the problem kept
};

bool JobReader::fail(const toml::source_region& at, const std::string& what) {
  const toml::source_position& p = at.begin;
  const bool earlier = p.line < at_.line || (p.line == at_.line && p.column < at_.column);
  if (problem_.empty() || earlier) {
    at_ = p;
    problem_ = zp3k::terminal_text(path_) + ":" + std::to_string(p.line) + ":" +
               std::to_string(p.column) + ": " + what;
  }
  return false;
}

void JobReader::read(const toml::table& job) {
  for (auto&& [k, value] : job) key(std::string(k.str()), k, value);
}

void JobReader::key(const std::string& name, const toml::key& k, const toml::node& value) {
  if (name == "ports") ports(value);
  else if (name == "speed") speed(value);
  else if (name == "run") flag(name, value, &a_.run_after);
  else if (name == "log") path(name, value, &a_.log);
  else if (name == "trace") path(name, value, &a_.trace);
  else if (name == "repeat") flag(name, value, &a_.repeat);
  else if (name == "count") count(value);
  else if (name == "ask_unit_id") flag(name, value, &a_.ask_unit_id);
  else if (name == "allow_bad_checksum") flag(name, value, &a_.allow_bad_checksum);
  else if (name == "files") files(value);
  else fail(k.source(), "unknown key \"" + zp3k::terminal_text(name) + "\" (the keys: " + KEYS + ")");
}

bool JobReader::flag(const std::string& name, const toml::node& value, bool* out) {
  const toml::value<bool>* b = value.as_boolean();
  if (b == nullptr) return wrong_type(name, value, "true or false");
  *out = b->get();
  return true;
}

// A string that is not empty and holds no NUL (it becomes a C string).
bool JobReader::text(const std::string& name, const toml::node& value, std::string* out) {
  const toml::value<std::string>* s = value.as_string();
  if (s == nullptr) return wrong_type(name, value, "a string");
  if (s->get().empty()) return fail(value.source(), name + " is empty");
  if (s->get().find('\0') != std::string::npos) return fail(value.source(), name + " holds a NUL character");
  *out = s->get();
  return true;
}

// A path, relative to the job file's folder unless it stands on its own.
bool JobReader::path(const std::string& name, const toml::node& value, std::string* out) {
  std::string given;
  if (!text(name, value, &given)) return false;
  *out = is_absolute_path(given) ? given : folder_ + given;
  return true;
}

bool JobReader::speed(const toml::node& value) {
  const toml::value<std::int64_t>* n = value.as_integer();
  if (n == nullptr) return wrong_type("speed", value, "an integer (bit/s)");
  const std::string problem = set_speed_text(std::to_string(n->get()), &a_);
  return problem.empty() || fail(value.source(), problem);
}

bool JobReader::count(const toml::node& value) {
  const toml::value<std::int64_t>* n = value.as_integer();
  if (n == nullptr) return wrong_type("count", value, "an integer (boards)");
  if (n->get() < 1 || n->get() > INT_MAX) {
    return fail(value.source(), "count must be 1 or more (boards), not " + std::to_string(n->get()));
  }
  a_.repeat_count = static_cast<int>(n->get());
  return true;
}

bool JobReader::ports(const toml::node& value) {
  const toml::array* list = value.as_array();
  if (list == nullptr) return wrong_type("ports", value, "a list of port names");
  if (list->empty()) return fail(value.source(), "ports is empty: give one port or more");
  for (const toml::node& port : *list) {
    const toml::value<std::string>* word = port.as_string();
    if (word == nullptr) return wrong_type("a port", port, "a string");
    const std::string problem = add_port_word(word->get(), &a_);
    if (!problem.empty()) return fail(port.source(), zp3k::terminal_text(problem));
  }
  return true;
}

bool JobReader::files(const toml::node& value) {
  const toml::array* list = value.as_array();
  if (list == nullptr) return wrong_type("files", value, "[[files]] tables");
  if (list->empty()) return fail(value.source(), "files is empty: give one to three [[files]]");
  if (list->size() > static_cast<std::size_t>(MAX_ENTRIES)) {
    return fail((*list)[MAX_ENTRIES].source(), "a fourth [[files]]: a job sends one to three images");
  }
  a_.count = 0;
  for (const toml::node& entry : *list) {
    const toml::table* table = entry.as_table();
    if (table == nullptr) return wrong_type("each of files", entry, "a table (path, address)");
    if (!file(a_.count++, *table)) return false;
  }
  return true;
}

// One [[files]] table: path (required) and address (absent: the header's base).
bool JobReader::file(int i, const toml::table& entry) {
  bool ok = true;
  a_.has_address[i] = false;
  a_.files[i].clear();
  for (auto&& [k, value] : entry) {
    const std::string name(k.str());
    if (name == "path") {
      ok = path("path", value, &a_.files[i]) && ok;
    } else if (name == "address") {
      const toml::value<std::string>* s = value.as_string();
      if (s == nullptr) ok = wrong_type("address", value, "a string (as @ADDRESS takes it)") && ok;
      else a_.addresses[i] = s->get();
      a_.has_address[i] = s != nullptr;
    } else {
      ok = fail(k.source(), "unknown key \"" + zp3k::terminal_text(name) +
                                "\" in [[files]] (the keys: path, address)") && ok;
    }
  }
  if (ok && a_.files[i].empty()) ok = fail(entry.source(), "a [[files]] table without path");
  return ok;
}

}  // namespace

bool read_job_text(const std::string& text, const std::string& path, Arguments* a,
                   std::string* problem) {
  JobReader reader(path, a);
  toml::parse_result parsed = toml::parse(text, path);
  if (!parsed) {
    // toml++ may quote the text it saw, line end included.
    reader.fail(parsed.error().source(), zp3k::terminal_text(std::string(parsed.error().description())));
  } else {
    reader.read(parsed.table());
  }
  *problem = reader.problem();
  return problem->empty();
}

// The thin layer: the job file read whole under its full path, so that its
// folder (and every path relative to it) is absolute.
bool load_job_file(const std::string& path, Arguments* a, std::string* problem) {
  const std::string shown = zp3k::terminal_text(path);
  char full[JOB_PATH_SIZE];
  if (!zp3k::full_path(path.c_str(), full, sizeof full)) {
    *problem = "cannot use the job file path " + shown;
    return false;
  }
  std::vector<std::uint8_t> bytes;
  const zp3k::Status read = zp3k::read_regular_file(full, zp3k::Sharing::READERS_ONLY, JOB_FILE_LIMIT, &bytes);
  if (read.result == zp3k::Result::TOO_LARGE) {
    *problem = "the job file " + shown + " is too large for a job";
    return false;
  }
  if (!read.ok()) {
    *problem = "cannot read the job file " + shown + ": " + zp3k::status_words(read);
    return false;
  }
  return read_job_text(std::string(bytes.begin(), bytes.end()), full, a, problem);
}

}  // namespace imgload
