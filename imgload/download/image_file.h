// The image files of a download: each read whole under one opening of the
// platform layer, and the snapshot of a job's files: a download sends the
// bytes read when the file was checked, so a file changed afterwards cannot
// reach the controller mixed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "image/image_format.h"
#include "imgload/download/download_job.h"
#include "platform/files.h"

namespace imgload {

// The largest file taken as an image: 1024 blocks (the header lies inside
// block 0), with room for a header-only file's 64 bytes on top.
constexpr std::uint64_t IMAGE_FILE_LIMIT =
    std::uint64_t{image::IMAGE_LIMIT} + image::IMAGE_HEADER_SIZE;  // bytes

// Reads the whole image file at path into *bytes under one opening: what is
// read is what is sent. A file past IMAGE_FILE_LIMIT (or grown past it while
// read) is TOO_LARGE; the dialog holds the file alone while it reads it, the
// command lines let other readers in (several runs may send one image) and
// keep writers out.
zp3k::Status load_image_file(const char* path, std::vector<std::uint8_t>* bytes,
                             zp3k::Sharing sharing = zp3k::Sharing::ALONE);

// The bytes of a job's files, fixed when they were checked, and what their
// headers say (summarized once, when the command line checks them).
struct ImageSet {
  std::vector<std::uint8_t> files[MAX_ENTRIES];
  image::ImageSummary summaries[MAX_ENTRIES];
};
using SharedImages = std::shared_ptr<const ImageSet>;

}  // namespace imgload
