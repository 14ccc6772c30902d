// Reading firmware image files: the header, the checks that can refuse an image before
// the device is touched, and the word sum of a stretch of the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "base/Error.h"
#include "firmware/FirmwareHeader.h"

namespace firmware {

// Why an image cannot be used. Each has its own one-line description for users.
enum class ImageProblem {
  kNone,
  kCannotOpen,       // missing, or no permission to read it
  kNotAFile,         // a directory or a device node
  kReadError,        // the system failed a read (not merely a short file)
  kEmpty,            // the file has no bytes at all
  kHeaderTruncated,  // shorter than the 28-byte header
  kTypeOutOfRange,   // the type field has bits above the low 16 set
  kTypeMismatch,     // built for another device
  kPayloadPastEnd,   // the header promises more payload than the file holds
  kNoPayload,        // the header announces no payload: there is nothing to write
};

// A read-only image file with 64-bit positions that tells a short read at the end of
// the file apart from a failed read.
class CImageFile {
 public:
  CImageFile() = default;
  ~CImageFile() { Close(); }
  CImageFile(const CImageFile&) = delete;
  CImageFile& operator=(const CImageFile&) = delete;

  base::Status Open(const std::string& path);
  void Close();
  bool IsOpen() const { return m_File != nullptr; }

  // Reads up to count bytes at offset; fewer only where the file ends.
  [[nodiscard]] base::Result<std::size_t> ReadAt(std::uint64_t offset, std::uint8_t* buffer,
                                                 std::size_t count);

 private:
  std::FILE* m_File = nullptr;
};

struct ImageInfo {
  FirmwareHeader header;
  std::uint64_t fileSize = 0;

  // True when the file holds every payload byte the header promises.
  bool HoldsPayload() const {
    return fileSize >= kHeaderSize + std::uint64_t{header.payloadLength};
  }
};

struct [[nodiscard]] ImageRead {
  ImageProblem problem = ImageProblem::kNone;
  ImageInfo info;      // valid when problem is kNone
  std::string detail;  // the system's words for kCannotOpen and kReadError
};

// Reads the header and size of an image file. A file shorter than the header is
// refused: no field is ever taken from anything but this file's own bytes.
ImageRead ReadImageInfo(const std::string& path);

// Everything that can refuse an image before the device is touched: the type for the
// expected device, then whether the file holds the whole payload, and that there is one.
ImageProblem CheckImage(const ImageInfo& info, std::uint16_t expectedType);

struct RegionSum {
  std::uint32_t sum = 0;     // WordSum of the whole little-endian words of the stretch
  std::uint32_t length = 0;  // the length asked for
};

// The word sum of length bytes at file offset `offset`. A trailing 1..3 bytes are read
// but do not enter the sum. Fails when the file cannot be opened or read, or ends
// before offset + length.
base::Result<RegionSum> SumImageRegion(const std::string& path, std::uint64_t offset,
                                       std::uint32_t length);

}  // namespace firmware
