// The image-file seam of the downloader: an exclusive open for reading of a
// regular file, its 64-bit size and reads (Win32 and POSIX files define
// these), and the snapshot built on them: a download sends the bytes it read
// when the file was checked, so a file changed afterwards cannot reach the
// controller mixed. Paths are completed and measured by the converter's file
// seam, one per platform.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "image/image_format.h"
#include "imgload/download/download_job.h"

namespace imgload {

using FileHandle = std::intptr_t;
constexpr FileHandle INVALID_FILE = -1;

// The largest file taken as an image: 1024 blocks (the header lies inside
// block 0), with room for a header-only file's 64 bytes on top.
constexpr std::uint64_t IMAGE_FILE_LIMIT =
    std::uint64_t{imgconv::IMAGE_LIMIT} + imgconv::IMAGE_HEADER_SIZE;  // bytes

// How an image file is held while it is read. On Windows the dialog opens
// it with no sharing at all; the command lines let other readers in (several
// runs may send one image at once) and still keep writers out, so the bytes
// read are one version of the file. On POSIX both read under a shared flock,
// which a writer's exclusive lock keeps out.
enum class FileSharing { EXCLUSIVE, SHARED_READ };

// Opens an existing regular file for reading, refusing at once what is no
// regular file (a FIFO, a device, a folder) and a file another program holds.
FileHandle open_image_file(const char* path, FileSharing sharing = FileSharing::EXCLUSIVE);
// The whole size; false on failure.
bool image_file_size(FileHandle file, std::uint64_t* size);
// One read of at most count bytes: bytes read (0 at the end), or -1 on failure.
int read_image_file(FileHandle file, std::uint8_t* buffer, int count);
void close_image_file(FileHandle file);
// Why open_image_file refuses path, in words for the user: the system's
// reason, "not a regular file" or "locked by another program". Asked again
// after a refusal, so a file changed in between may tell another reason.
std::string image_file_open_reason(const char* path, FileSharing sharing = FileSharing::EXCLUSIVE);

enum class ImageLoad {
  LOADED,
  CANNOT_OPEN,  // missing, not a regular file, held by another program, unmeasurable
  TOO_LARGE,    // over IMAGE_FILE_LIMIT bytes
  CANNOT_READ,  // a read failed
};

// Reads the whole file into *bytes (cleared first) under one opening. The
// size is what was read, so a file that grows while it is read is measured
// as read, and one past the limit is refused without reading it.
ImageLoad load_image_file(const char* path, std::vector<std::uint8_t>* bytes,
                          FileSharing sharing = FileSharing::EXCLUSIVE);

// The bytes of a job's files, fixed when they were checked.
struct ImageSet {
  std::vector<std::uint8_t> files[MAX_ENTRIES];
};
using SharedImages = std::shared_ptr<const ImageSet>;

}  // namespace imgload
