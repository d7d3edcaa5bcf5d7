// The exit statuses of the command line.
#include "imgload/cli/outcome.h"

#include "imgload/cli/terminal_view.h"  // stopped_early

namespace imgload {

int exit_status_of(const DownloadResult& result) {
  switch (result.end) {
    case DownloadEnd::SUCCEEDED: return EXIT_SUCCESS_RUN;
    case DownloadEnd::STOPPED:  // every file sent when the stop came in the last
      return stopped_early(result) ? EXIT_STOPPED_EARLY : EXIT_SUCCESS_RUN;
    case DownloadEnd::TIMED_OUT: return 5;
    case DownloadEnd::FILE_OPEN_FAILED: return 7;
    case DownloadEnd::FILE_READ_FAILED: return 8;
    case DownloadEnd::REPLY_REJECTED:
    case DownloadEnd::BAD_MODEL: return 9;
    case DownloadEnd::PORT_OPEN_FAILED: return 10;
    case DownloadEnd::NO_EXTERNAL_FLASH: return 15;
  }
  return EXIT_UNKNOWN;  // not reached: every end has its status above
}

}  // namespace imgload
