// Image file layout: 2048-byte blocks, the 64-byte ImageHeader laid over
// block 0, and the XOR checksum over the words from offset 12 onwards.
#pragma once

#include <cstddef>
#include <cstdint>

namespace imgconv {

constexpr std::uint32_t IMAGE_BLOCK_SIZE = 2048;      // bytes per block
constexpr std::uint32_t IMAGE_MAX_BLOCKS = 1024;
constexpr std::uint32_t IMAGE_LIMIT = IMAGE_BLOCK_SIZE * IMAGE_MAX_BLOCKS;  // 0x200000 bytes
constexpr std::uint32_t IMAGE_MAGIC = 0x12345678;
constexpr std::size_t IMAGE_HEADER_SIZE = 64;         // bytes
constexpr std::size_t IMAGE_COMMENT_MAX = 30;         // bytes, without the NUL

// Byte offsets of the header fields inside block 0.
constexpr std::size_t HEADER_MAGIC = 0;
constexpr std::size_t HEADER_LENGTH = 4;
constexpr std::size_t HEADER_CHECKSUM = 8;
constexpr std::size_t HEADER_BASE_ADDRESS = 16;
constexpr std::size_t HEADER_SIZE_FIELD = 20;
constexpr std::size_t HEADER_VERSION = 24;   // high byte first
constexpr std::size_t HEADER_COMMENT = 32;

// The decoded header of an image or header-only file.
struct ImageHeader {
  std::uint32_t magic;
  std::uint32_t length;
  std::uint32_t checksum;
  std::uint32_t base_address;
  std::uint32_t size;
  std::uint16_t version;
  char comment[IMAGE_COMMENT_MAX + 1];  // NUL-terminated, as stored (cp932)
};

std::uint32_t load_le32(const std::uint8_t* p);
void store_le32(std::uint8_t* p, std::uint32_t v);

// Reads the header fields from the first 64 bytes of a file.
ImageHeader decode_header(const std::uint8_t* first64);

// XOR of the little-endian words at [begin, end) of a buffer whose length is
// a multiple of 4; the checksum folds block 0 from offset 12 and every later
// block whole.
std::uint32_t xor_words(const std::uint8_t* data, std::size_t length, std::uint32_t seed = 0);

}  // namespace imgconv
