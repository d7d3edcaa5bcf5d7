// SHA-256 (FIPS 180-4) of a byte string, for the digests of the images the production log records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zp3k {

// The digest of size bytes at data as 64 lower-case hexadecimal digits.
std::string sha256_hex(const std::uint8_t* data, std::size_t size);

}  // namespace zp3k
