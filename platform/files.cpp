// Reading a regular file whole, and the words of a failure, on the
// platform's opening.
#include "platform/files.h"

namespace zp3k {

Status read_regular_file(const char* path, Sharing sharing, std::size_t limit,
                         std::vector<std::uint8_t>* bytes) {
  bytes->clear();
  Status status;
  std::FILE* file = open_regular_file(path, sharing, false, &status);
  if (file == nullptr) return status;
  // One byte past the limit tells a file that holds more (or grew meanwhile).
  bytes->resize(limit + 1);
  std::size_t got = 0;
  while (got < bytes->size()) {
    const std::size_t n = std::fread(bytes->data() + got, 1, bytes->size() - got, file);
    got += n;
    if (n == 0) break;
  }
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) {
    bytes->clear();
    return {Result::READ_FAILED, 0};
  }
  bytes->resize(got > limit ? limit : got);
  bytes->shrink_to_fit();
  return got > limit ? Status{Result::TOO_LARGE, 0} : Status{};
}

std::string status_words(const Status& status) {
  if (status.system_error != 0) return system_error_words(status.system_error);
  switch (status.result) {
    case Result::OK: return std::string();
    case Result::NOT_FOUND: return "No such file or directory";
    case Result::NO_ACCESS: return "Permission denied";
    case Result::IN_USE: return "locked by another program";
    case Result::WRONG_KIND: return "not a regular file";
    case Result::TOO_LARGE: return "too large";
    case Result::READ_FAILED: return "cannot be read";
    case Result::FAILED: break;
  }
  return "failed";
}

}  // namespace zp3k
