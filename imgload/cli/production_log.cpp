// The production log's lines: the port's outcome, its times, the host and the images sent.
#include "imgload/cli/production_log.h"

#include <cstdio>
#include <memory>

#include "image/image_format.h"
#include "image/safe_text.h"
#include "image/sha256.h"
#include "cli/program.h"

namespace imgload {

namespace {

// A path that is not UTF-8 (a name from a system that does not use it)
// reaches JSON with U+FFFD in place of its stray bytes; "path_hex" then
// keeps its exact bytes, so the record still names the file.
JsonObject file_object(const LoggedFile& f) {
  JsonObject o;
  o.text("path", f.path);
  if (!zp3k::valid_utf8(f.path)) o.text("path_hex", zp3k::hex_bytes(f.path));
  return o.number("size", static_cast<long long>(f.size)).text("sha256", f.sha256)
      .text("version", f.version).text("comment", f.comment)
      .number("start_address", static_cast<long long>(f.start_address));
}

}  // namespace

LoggedFile logged_file(const char* path, const std::vector<std::uint8_t>& bytes,
                       const image::ImageSummary& info, std::uint32_t start_address) {
  LoggedFile f;
  f.path = path;
  f.size = bytes.size();
  f.sha256 = zp3k::sha256_hex(bytes.data(), bytes.size());
  f.start_address = start_address;
  if (info.magic_ok) {
    f.version = image::format_version_text(info.header.version);
    f.comment = image::cp932_to_utf8(info.header.comment);
  }
  return f;
}

namespace {

// Each line is appended by its own opening of the file, as the other
// processes sharing the log do.
class LogFileSink : public OutputSink {
 public:
  explicit LogFileSink(std::string path) : path_(std::move(path)) {}
  bool write(const std::string& text, std::string* reason) override {
    return append_to_log(path_, text, reason);
  }

 private:
  std::string path_;
};

}  // namespace

ProductionLog::ProductionLog(std::string path, std::vector<LoggedFile> files)
    : path_(std::move(path)), host_(host_name()), files_(std::move(files)) {
  if (!path_.empty()) channel_ = std::make_unique<OutputChannel>(std::make_unique<LogFileSink>(path_), 0);
}

std::string ProductionLog::line(const PortRecord& r) const {
  std::vector<JsonObject> files;
  for (const LoggedFile& f : files_) files.push_back(file_object(f));
  JsonObject o;
  o.text("time_start", utc_time_text(r.time_start)).text("time_end", utc_time_text(r.time_end))
      .text("host", host_).text("port", r.port);
  if (r.unit > 0) {
    o.number("unit", r.unit);
    if (r.unit_id) {
      o.text("unit_id", *r.unit_id);
    } else {
      o.null("unit_id");
    }
  }
  o.number("exit_status", r.outcome.exit_status)
      .text("text", r.outcome.text).text("gloss", r.outcome.gloss).array("files", files);
  if (r.model < 0) {
    o.null("model");
  } else {
    char model[3];
    std::snprintf(model, sizeof model, "%02X", static_cast<unsigned>(r.model & 0xFF));
    o.text("model", model);
  }
  return o.text("tool", zp3k::version_line("imgload")).str();
}

void ProductionLog::append(const PortRecord& record) const {
  if (channel_ != nullptr) channel_->push_always(line(record) + "\n");
}

std::vector<std::string> ProductionLog::settle(OutputClock::time_point deadline,
                                               std::string* failure) const {
  if (channel_ == nullptr) return {};
  channel_->drain(deadline);
  *failure = channel_->failure();
  return channel_->take_unwritten();
}

}  // namespace imgload
