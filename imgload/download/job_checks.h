// Checks of one row of a download job, shared by the Windows main dialog and
// the Linux command line: path completion, image file size, start address.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "imgload/download/image_file.h"

namespace imgload {

int CompletePath(char* path);                 // 1 ok (completed in place), 0 refused
// 0 usable, 1 cannot open or read, 2 wrong size (not whole 2048-byte blocks,
// or larger than any image). A usable file's bytes go to *snapshot if given.
int CheckImageFile(const char* path, std::vector<std::uint8_t>* snapshot = nullptr);
// Whether size bytes are whole 2048-byte blocks, at least one: the size an
// image file must have.
bool whole_image_size(std::size_t size);
int ParseHex7(const char* text, std::uint32_t* value);
int ParseStartAddress(const char* text, std::uint32_t* address);
// An address as the address field spells it: seven hexadecimal digits, or
// 0000000_A for address 0.
std::string address_field_text(std::uint32_t address);

// The accepted spelling of a refused address text that names an accepted
// address in another form ("0x100000", "100000", "00008000", "0000000_a"):
// 1 with it in suggestion (ADDRESS_SUGGESTION_SIZE bytes), 0 when there is none.
constexpr int ADDRESS_SUGGESTION_SIZE = 10;
int SuggestStartAddress(const char* text, char* suggestion);
// 1 when bytes begin as an S-record line does ('S', then a record-type
// digit): a converter's source, not an image.
int LooksLikeSrecord(const std::uint8_t* bytes, std::size_t size);

}  // namespace imgload
