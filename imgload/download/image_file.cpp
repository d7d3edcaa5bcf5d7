// The snapshot of an image file, on the platform's image-file seam.
#include "imgload/download/image_file.h"

namespace imgload {

namespace {

// Reads until count bytes or the end of the file; the bytes read, or -1.
int read_whole(FileHandle file, std::uint8_t* buffer, int count) {
  int total = 0;
  while (total < count) {
    const int got = read_image_file(file, buffer + total, count - total);
    if (got < 0) return -1;
    if (got == 0) break;  // end of file
    total += got;
  }
  return total;
}

}  // namespace

ImageLoad load_image_file(const char* path, std::vector<std::uint8_t>* bytes, FileSharing sharing) {
  bytes->clear();
  const FileHandle file = open_image_file(path, sharing);
  if (file == INVALID_FILE) return ImageLoad::CANNOT_OPEN;
  std::uint64_t size = 0;
  ImageLoad result = ImageLoad::LOADED;
  if (!image_file_size(file, &size)) {
    result = ImageLoad::CANNOT_OPEN;
  } else if (size > IMAGE_FILE_LIMIT) {
    result = ImageLoad::TOO_LARGE;  // measured on 64 bits, never read
  } else {
    // One byte past the limit tells a file that grew while it was read.
    bytes->resize(static_cast<std::size_t>(IMAGE_FILE_LIMIT) + 1);
    const int got = read_whole(file, bytes->data(), static_cast<int>(bytes->size()));
    if (got < 0) {
      result = ImageLoad::CANNOT_READ;
    } else if (static_cast<std::uint64_t>(got) > IMAGE_FILE_LIMIT) {
      result = ImageLoad::TOO_LARGE;
    } else {
      bytes->resize(static_cast<std::size_t>(got));
      bytes->shrink_to_fit();
    }
  }
  close_image_file(file);
  if (result != ImageLoad::LOADED) bytes->clear();
  return result;
}

}  // namespace imgload
