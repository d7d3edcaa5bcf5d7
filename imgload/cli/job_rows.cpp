// Checking the command line's job rows and telling what is wrong or odd.
#include "imgload/cli/job_rows.h"

#include <cstdio>
#include <cstring>

#include "image/image_format.h"
#include "image/safe_text.h"
#include "imgload/download/job_checks.h"

namespace imgload {

namespace {

constexpr std::size_t ADDRESS_TEXT_LIMIT = 11;  // characters the address field holds

const char ADDRESS_FORM[] =
    "seven hexadecimal digits, 0008000-001F800 in steps of 0000800 or 0100000-01F0000 in steps"
    " of 0010000, or 0000000_A for address 0";

std::string label(int row) { return "No." + std::to_string(row); }

// A path the dialog's rule refuses: what is wrong with it.
Advice path_advice(int row, const std::string& given) {
  const std::string shown = "\"" + zp3k::terminal_text(given) + "\"";
  if (given.empty()) return {label(row) + ": the path is empty", ""};
  if (given.find('.') == std::string::npos) {
    return {label(row) + ": " + shown + " has no '.'",
            "a download file's path needs an extension, as in name.bin"};
  }
  return {label(row) + ": " + shown + " is longer than " + std::to_string(MAX_PATH_UNITS) +
              " characters once made absolute",
          "use a shorter path"};
}

// A file refused for its size: too large for any image, an S-record file
// (its first bytes say so), or not whole blocks; bytes as the check read them.
Advice size_advice(int row, const std::string& given, const zp3k::Status& status,
                   const std::vector<std::uint8_t>& bytes) {
  const std::string name = zp3k::terminal_text(given);
  const std::string limit = std::to_string(IMAGE_FILE_LIMIT);
  if (status.result == zp3k::Result::TOO_LARGE) {
    return {label(row) + ": " + name + " is too large: more than " + limit + " bytes",
            "an image holds at most " + limit + " bytes (1024 blocks of 2048 bytes, or a 64-byte header alone)"};
  }
  if (LooksLikeSrecord(bytes.data(), bytes.size()) == 1) {
    return {name + " is an S-record file", "convert it with imgconv first"};
  }
  return {label(row) + ": " + name + " is " + std::to_string(bytes.size()) + " bytes",
          "not a whole number of 2048-byte blocks"};
}

// A refused address text: the accepted form, and the accepted spelling of
// the same address when the text names one in another form.
Advice address_advice(int row, const std::string& text) {
  Advice advice{label(row) + ": address \"" + zp3k::terminal_text(text) + "\" is not accepted",
                ADDRESS_FORM};
  char suggestion[ADDRESS_SUGGESTION_SIZE];
  if (SuggestStartAddress(text.c_str(), suggestion) == 1) {
    advice.hint += std::string("; did you mean ") + suggestion + "?";
  }
  return advice;
}

// The address of a file given without one: its image header's base, which
// must be an address the field accepts.
RowRefusal header_address(int row, const std::string& given, const image::ImageSummary& info,
                          std::uint32_t* address) {
  const std::string name = zp3k::terminal_text(given);
  if (!info.magic_ok) {
    return {row, REFUSED_ADDRESS,
            {label(row) + ": " + name + " has no image header, so no address of its own",
             "give it as FILE@ADDRESS (" + std::string(ADDRESS_FORM) + ")"}};
  }
  const std::uint32_t base = info.header.base_address;
  if (ParseStartAddress(address_field_text(base).c_str(), address) != 1) {  // never for base 0
    return {row, REFUSED_ADDRESS,
            {label(row) + ": " + name + ": the image's base address " + address_words(base) +
                 " is not a download address",
             "give the file as FILE@ADDRESS: " + std::string(ADDRESS_FORM)}};
  }
  return {};
}

// An image whose header does not verify: what disagrees with the bytes.
Advice checksum_advice(int row, const std::string& given, const image::ImageSummary& info) {
  const std::string name = label(row) + ": " + zp3k::terminal_text(given);
  const char* hint = "convert it again with imgconv (--allow-bad-checksum sends it as it is)";
  if (!info.checksum_ok) {
    char text[96];
    std::snprintf(text, sizeof text, ": the header's checksum is 0x%08X, the bytes give 0x%08X",
                  static_cast<unsigned>(info.header.checksum),
                  static_cast<unsigned>(info.computed_checksum));
    return {name + text, hint};
  }
  if (!info.size_ok) {
    return {name + ": the header's size is " + std::to_string(info.header.size) +
                " bytes, the file has " + std::to_string(info.size),
            hint};
  }
  return {name + ": the header's length is " + std::to_string(info.header.length) +
              " bytes, the file gives " + std::to_string(info.size - image::IMAGE_CHECKED_FROM),
          hint};
}

// The checks of one row: path, file, the header's checksum, address.
RowRefusal check_row(const Arguments& a, int i, DownloadJob* job, ImageSet* images) {
  const int row = i + 1;
  char* path = job->paths[i];
  const std::string& given = a.files[i];
  if (given.size() >= static_cast<std::size_t>(JOB_PATH_SIZE)) {
    return {row, REFUSED_PATH, path_advice(row, given)};
  }
  std::strcpy(path, given.c_str());
  if (CompletePath(path) != 1) return {row, REFUSED_PATH, path_advice(row, given)};
  std::vector<std::uint8_t>& bytes = images->files[i];
  const zp3k::Status loaded = load_image_file(path, &bytes, zp3k::Sharing::READERS_ONLY);
  const bool too_large = loaded.result == zp3k::Result::TOO_LARGE;
  if (!loaded.ok() && !too_large) {
    return {row, REFUSED_FILE_OPEN,
            {"cannot open " + zp3k::terminal_text(given) + ": " + zp3k::status_words(loaded), ""}};
  }
  if (too_large || !whole_image_size(bytes.size())) {
    return {row, REFUSED_SIZE, size_advice(row, given, loaded, bytes)};
  }
  const image::ImageSummary& info = images->summaries[i] = image::summarize_image(bytes.data(), bytes.size());
  if (info.magic_ok && !info.checksum_verifies() && !a.allow_bad_checksum) {
    return {row, REFUSED_CHECKSUM, checksum_advice(row, given, info)};
  }
  if (!a.has_address[i]) return header_address(row, given, info, &job->start_addresses[i]);
  // The address field holds at most 11 characters; a longer text is cut
  // there, as the dialog reads it.
  const std::string address = a.addresses[i].substr(0, ADDRESS_TEXT_LIMIT);
  if (ParseStartAddress(address.c_str(), &job->start_addresses[i]) != 1) {
    return {row, REFUSED_ADDRESS, address_advice(row, address)};
  }
  return {};
}

// What is odd about one file.
void file_warnings(const DownloadJob& job, const ImageSet& images, int i,
                   std::vector<JobWarning>* out) {
  const std::vector<std::uint8_t>& bytes = images.files[i];
  const std::string path = zp3k::terminal_text(job.paths[i]);
  if (LooksLikeSrecord(bytes.data(), bytes.size()) == 1) {
    out->push_back({"srecord", i + 1, 0,
                    label(i + 1) + ": " + path +
                        " looks like an S-record file: convert it with imgconv first"});
  }
  const image::ImageSummary& info = images.summaries[i];
  if (info.magic_ok && !info.checksum_verifies()) {
    out->push_back({"bad_checksum", i + 1, 0,
                    checksum_advice(i + 1, job.paths[i], info).detail +
                        " (sent as it is: --allow-bad-checksum)"});
  }
  const std::uint32_t start = job.start_addresses[i];
  if (!info.magic_ok || info.header.base_address == start) return;
  char base[16];
  std::snprintf(base, sizeof base, "0x%06X", static_cast<unsigned>(info.header.base_address));
  out->push_back({"base_address", i + 1, 0,
                  label(i + 1) + ": the image's base address " + base +
                      " differs from the download address " + address_words(start)});
}

}  // namespace

RowRefusal check_rows(const Arguments& a, DownloadJob* job, ImageSet* images) {
  for (int i = 0; i < a.count; ++i) {
    const RowRefusal refused = check_row(a, i, job, images);
    if (refused.row != 0) return refused;
  }
  return {};
}

std::string address_words(std::uint32_t address) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%06X%s", static_cast<unsigned>(address),
                address == 0 ? " (0000000_A)" : "");
  return text;
}

std::vector<JobWarning> job_warnings(const DownloadJob& job, const ImageSet& images) {
  std::vector<JobWarning> out;
  for (int i = 0; i < job.entry_count; ++i) {
    file_warnings(job, images, i, &out);
    // Flash ranges start .. start + size; ranges that only touch do not overlap.
    const std::uint64_t start = job.start_addresses[i];
    const std::uint64_t end = start + images.files[i].size();
    for (int j = i + 1; j < job.entry_count; ++j) {
      const std::uint64_t other_start = job.start_addresses[j];
      const std::uint64_t other_end = other_start + images.files[j].size();
      if (start >= other_end || other_start >= end) continue;
      char text[160];
      std::snprintf(text, sizeof text, "No.%d (0x%06llX..0x%06llX) and No.%d (0x%06llX..0x%06llX)"
                    " overlap", i + 1, static_cast<unsigned long long>(start),
                    static_cast<unsigned long long>(end), j + 1,
                    static_cast<unsigned long long>(other_start),
                    static_cast<unsigned long long>(other_end));
      out.push_back({"overlap", i + 1, j + 1, text});
    }
  }
  return out;
}

}  // namespace imgload
