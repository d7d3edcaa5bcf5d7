// The download protocol's constants, shared by the downloader and the
// simulated controller: control bytes, buffer and block sizes, the external
// flash's address bounds and the line speeds the speed change may select.
#pragma once

#include <cstdint>

namespace imgload {

constexpr std::uint8_t ENQ = 0x05;  // byte: starts a request
constexpr std::uint8_t ACK = 0x06;  // byte: starts a reply
constexpr std::uint8_t NAK = 0x15;  // byte: starts a refusal
constexpr std::uint8_t CR = 0x0D;   // byte: ends a request or a reply

constexpr int FRAME_BUFFER_SIZE = 544;  // bytes the downloader keeps of a frame
constexpr int DATA_BLOCK_SIZE = 512;    // bytes per "FD" data request
// The shortest reply that carries its reply code (offsets 5 and 6) before
// the BCC digits: ACK, station, reserved, code, BCC, CR.
constexpr int MIN_CODED_REPLY = 10;  // bytes

constexpr std::uint32_t EXTERNAL_FLASH_FIRST = 0x100000;  // address: first external-flash start
constexpr std::uint32_t EXTERNAL_FLASH_LAST = 0x1F0000;   // address: last external-flash start

constexpr int SPEED_COUNT = 5;
// Line speeds of the speed change, codes "06".."0A" in this order.
constexpr std::uint32_t SPEEDS[SPEED_COUNT] = {9600, 19200, 38400, 57600, 115200};  // bit/s

}  // namespace imgload
