// The rows of a download job given on the command line: each row's path,
// file and start address checked as the main dialog checks them (the bytes
// kept as checked, for every port to send), an image header that does not
// verify refused, a file without an address sent to its header's base, the
// refusal of a row with what a user can do about it, and what is odd about
// an accepted job.
#pragma once

#include <string>
#include <vector>

#include "imgload/cli/command_line.h"
#include "imgload/cli/outcome.h"
#include "imgload/cli/advice.h"  // Advice
#include "imgload/download/download_job.h"
#include "imgload/download/image_file.h"

namespace imgload {

// The row refused first (row 0: every row accepted), why, and the advice.
struct RowRefusal {
  int row = 0;
  Refusal refusal = REFUSED_PATH;
  Advice advice;
};

// Checks rows 1..a.count into job (paths completed, addresses read or taken
// from the header) and images (each file's bytes as read), stopping at the
// first refused row. An image whose header's checksum, length or size does
// not agree with its bytes is refused unless a.allow_bad_checksum.
RowRefusal check_rows(const Arguments& a, DownloadJob* job, ImageSet* images);

// A warning about an accepted job: the run goes on.
struct JobWarning {
  const char* kind;   // "srecord", "bad_checksum", "base_address", "overlap"
  int row;
  int other_row;      // overlap: the later row; 0 otherwise
  std::string text;
};

// What is odd about the job: an S-record file that happens to be whole
// blocks, a header that does not verify (sent as allowed), a header whose
// base address is not where the image goes, files whose flash ranges overlap
// (a later file overwrites an earlier one).
std::vector<JobWarning> job_warnings(const DownloadJob& job, const ImageSet& images);

// A download address as the warnings write it; address 0 also as the
// address field spells it.
std::string address_words(std::uint32_t address);

}  // namespace imgload
