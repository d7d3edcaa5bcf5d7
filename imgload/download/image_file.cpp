// The image files of a download, on the platform layer's regular files.
#include "imgload/download/image_file.h"

namespace imgload {

zp3k::Status load_image_file(const char* path, std::vector<std::uint8_t>* bytes, zp3k::Sharing sharing) {
  const zp3k::Status status =
      zp3k::read_regular_file(path, sharing, static_cast<std::size_t>(IMAGE_FILE_LIMIT), bytes);
  if (!status.ok()) bytes->clear();
  return status;
}

}  // namespace imgload
