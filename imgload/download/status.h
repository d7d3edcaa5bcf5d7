// Status and progress output of a download, through the progress view.
#pragma once

#include <cstdint>

namespace imgload {

constexpr int STATUS_ROW_COUNT = 11;

// 1 while a download run goes on; every failure sets it to 0.
extern int running;

void show_status(int row);              // control 1014 <- status row 0..10
void show_error_for_code(int code);     // status row for a failure code; running = 0
void progress_setup(std::uint32_t total, std::uint32_t unit);  // range 0..total/unit+1
void progress_step();

}  // namespace imgload
