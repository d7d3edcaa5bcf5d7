// --dry-run: after every check of the job, each port opened as a run opens
// it (at 9600 bit/s, taking and releasing its lock and exclusive open) and
// closed again without a byte written, and what would be sent where.
#pragma once

#include <memory>

#include "imgload/cli/command_line.h"
#include "imgload/cli/terminal_view.h"
#include "imgload/download/download_job.h"
#include "imgload/download/image_file.h"
#include "imgload/link/serial_port.h"

namespace imgload {

using PortMaker = std::unique_ptr<SerialPort> (*)();

// Opens and closes each of a's ports with a port of make_port, and shows
// per port whether it opens and the files, addresses, sizes, versions, speed
// and run request of the job (a JSON "dry_run" event per port, or lines).
// Returns 0, or 10 when a port does not open (with the usual advice).
int dry_run(const Arguments& a, const DownloadJob& job, const ImageSet& images, Terminal& terminal,
            PortMaker make_port);

}  // namespace imgload
