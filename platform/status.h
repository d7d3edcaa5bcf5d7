// The one result convention of the platform layer and the serial port: what
// happened, in a few kinds the programs act on, and the system's own error
// code (errno, GetLastError) where the system gave one, for the words.
#pragma once

namespace zp3k {

enum class Result {
  OK,
  NOT_FOUND,   // no such file, folder or device (a USB adapter unplugged)
  NO_ACCESS,   // the system refused this user
  IN_USE,      // held by another program (a lock, a sharing refusal, a busy device)
  WRONG_KIND,  // not the kind asked for: no regular file, no serial device
  TOO_LARGE,   // larger than the caller takes
  READ_FAILED, // opened, then a read failed
  FAILED,      // anything else: system_error says what
};

struct Status {
  Result result = Result::OK;
  int system_error = 0;  // errno or GetLastError; 0 when the system said nothing

  bool ok() const { return result == Result::OK; }
};

}  // namespace zp3k
