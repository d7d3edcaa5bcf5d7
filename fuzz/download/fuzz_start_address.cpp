// Fuzz target for the job checks that read typed text: the start-address
// field (ParseStartAddress, ParseHex7) and path completion (CompletePath).
// Whatever the text, nothing is read past its NUL or written past the
// buffer, an accepted address is one of the 64 allowed values, and a
// completed path fits the sequencer's 256-byte copy.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "imgload/download/download_job.h"
#include "imgload/download/job_checks.h"

namespace {

constexpr std::size_t ADDRESS_FIELD = 12;  // bytes the address field is read into

bool allowed_address(std::uint32_t v) {
  if (v == 0) return true;
  if (v >= 0x8000 && v <= 0x1F800) return (v & 0x7FF) == 0;
  return v >= 0x100000 && v <= 0x1F0000 && (v & 0xFFFF) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The address field: at most 11 characters and a NUL, in an exact buffer
  // so that a read past it is caught.
  const std::size_t n = size < ADDRESS_FIELD - 1 ? size : ADDRESS_FIELD - 1;
  char* field = static_cast<char*>(std::malloc(n + 1));
  std::memcpy(field, data, n);
  field[n] = '\0';
  std::uint32_t address = 0xFFFFFFFF;
  if (imgload::ParseStartAddress(field, &address) == 1) {
    if (!allowed_address(address)) std::abort();
  } else if (address != 0xFFFFFFFF) {
    std::abort();  // written although refused
  }
  std::uint32_t value = 0;
  if (n >= 7) {
    if (imgload::ParseHex7(field, &value) == 1 && value > 0xFFFFFFF) std::abort();
  }
  std::free(field);

  // The path field: up to 519 bytes and a NUL in the job's 520-byte slot.
  char path[imgload::JOB_PATH_SIZE];
  const std::size_t p = size < sizeof path - 1 ? size : sizeof path - 1;
  std::memcpy(path, data, p);
  path[p] = '\0';
  if (imgload::CompletePath(path) == 1 && std::strlen(path) >= imgload::RUN_PATH_SIZE) std::abort();
  return 0;
}
