// Candidate serial devices for --list-ports.
#pragma once

#include <string>
#include <vector>

namespace imgload {

struct PortCandidate {
  std::string path;
  std::string note;  // where a by-id name points, or the kind of device
};

std::vector<PortCandidate> list_ports();

}  // namespace imgload
