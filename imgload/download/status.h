// The status rows of a download and the progress bar's range: what a failure
// code shows and how far the bar goes.
#pragma once

#include <cstdint>

namespace imgload {

constexpr int STATUS_ROW_COUNT = 11;

// Status row for a failure code, or -1 when the code has none.
int row_for_code(int code);
// The progress bar's maximum for total bytes in steps of unit: total/unit + 1,
// at most 16 bits, 1 for a unit of 0.
unsigned progress_maximum(std::uint32_t total, std::uint32_t unit);

}  // namespace imgload
