// The link state shared by the port, the readers and the senders: the one
// serial port of the program and the one reply countdown.
#include "imgload/link/countdown.h"
#include "imgload/link/serial_port.h"

namespace imgload {

SerialPort serial_port = {"", PORT_BASE_SPEED, INVALID_PORT};
ReplyCountdown reply_countdown;

}  // namespace imgload
