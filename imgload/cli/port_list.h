// Candidate serial devices for --list-ports, and what to tell a user whose
// port did not open or did not answer.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "imgload/download/download_result.h"

namespace imgload {

struct PortCandidate {
  std::string path;
  std::string note;  // where a by-id name points, the kind of device, or why it cannot be opened
};

// The candidates under dev (the by-id names, USB adapters and modems, fitted
// on-board UARTs); one that cannot be opened is listed with the reason.
std::vector<PortCandidate> list_ports(const std::string& dev = "/dev");
// Prints the candidates to out, or says on notes that there are none;
// returns the exit status of --list-ports (0).
int show_port_list(std::FILE* out, std::FILE* notes, const std::string& dev = "/dev");
// The listing's note for a device that cannot be opened for error (errno).
std::string cannot_open_note(int error);

// What a user can do about a failure: what happened (naming the device or
// file) and a way out; either may be empty.
struct Advice {
  std::string detail;
  std::string hint;
};
// "DETAIL: HINT", or the part there is.
std::string advice_text(const Advice& advice);
// A device that did not open: its path, the system's reason (errno) and,
// where one fits, what to do; holder_pid names the process that has it.
Advice port_open_advice(const std::string& device, int error, long holder_pid);
// The end of one port's download: a port that did not open, or a run that
// timed out with nothing answering at all; empty for every other end.
Advice end_advice(const DownloadResult& result, const std::string& device, long holder_pid);

}  // namespace imgload
