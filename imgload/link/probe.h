// Whether a controller answers on a port: the model request ("AD") sent once,
// quietly (no view, no trace), and its reply awaited for a short time. The
// production loop asks it every half second while it waits for a board to
// come and, after flashing it, to leave.
#pragma once

#include "imgload/link/clock.h"
#include "imgload/link/serial_port.h"

namespace imgload {

enum class Presence {
  ANSWERED,        // a whole reply with a right BCC came back
  SILENT,          // the port is open; nothing whole came back in time
  DEVICE_MISSING,  // the device is not there (a USB adapter unplugged)
  PORT_REFUSED,    // the device is there but did not open (in use, no rights)
};

struct ProbeResult {
  Presence presence = Presence::SILENT;
  int system_error = 0;  // PORT_REFUSED, DEVICE_MISSING: the port's open_error()
};

// Opens name on port at 9600 bit/s unless it is open, sends "AD" and waits
// at most wait_ms (by clock) for a whole reply. The port stays open between
// probes (DTR steady while a fixture waits), and is closed when a write or
// read fails, so that the next probe opens it again once the device is back.
// A download closes it first and opens it as it always does.
ProbeResult probe_controller(SerialPort& port, const char* name, const Clock& clock, unsigned wait_ms);

}  // namespace imgload
