#include "firmware/ImageFile.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "base/FilePath.h"
#include "base/LittleEndian.h"

namespace firmware {
namespace {

int SeekTo(std::FILE* file, std::uint64_t offset) {
#if defined(_WIN32)
  return _fseeki64(file, static_cast<long long>(offset), SEEK_SET);
#else
  return fseeko(file, static_cast<off_t>(offset), SEEK_SET);
#endif
}

base::Error SystemError(const std::string& what, int error) {
  const base::ErrorKind kind = error == ENOENT   ? base::ErrorKind::kNotFound
                               : error == EACCES ? base::ErrorKind::kPermissionDenied
                                                 : base::ErrorKind::kIo;
  return base::Error{kind, what + ": " + std::strerror(error)};
}

}  // namespace

base::Status CImageFile::Open(const std::string& path) {
  Close();
  errno = 0;
  m_File = base::OpenFile(path, "rb");
  if (m_File == nullptr) {
    return SystemError("open " + path, errno);
  }
  return {};
}

void CImageFile::Close() {
  if (m_File != nullptr) {
    std::fclose(m_File);
    m_File = nullptr;
  }
}

base::Result<std::size_t> CImageFile::ReadAt(std::uint64_t offset, std::uint8_t* buffer,
                                             std::size_t count) {
  if (m_File == nullptr) {
    return base::Error{base::ErrorKind::kIo, "read: the image file is not open"};
  }
  if (SeekTo(m_File, offset) != 0) {
    return SystemError("seek", errno);
  }
  errno = 0;
  const std::size_t got = std::fread(buffer, 1, count, m_File);
  if (got < count && std::ferror(m_File)) {
    const int error = errno != 0 ? errno : EIO;
    std::clearerr(m_File);
    return SystemError("read", error);
  }
  return got;
}

ImageRead ReadImageInfo(const std::string& path) {
  ImageRead result;
  std::error_code ec;
  const std::filesystem::path name = base::PathFromUtf8(path);
  const auto status = std::filesystem::status(name, ec);
  if (ec || !std::filesystem::exists(status)) {
    result.problem = ImageProblem::kCannotOpen;
    result.detail = ec ? ec.message() : "no such file";
    return result;
  }
  if (!std::filesystem::is_regular_file(status)) {
    result.problem = ImageProblem::kNotAFile;
    return result;
  }
  CImageFile file;
  if (auto opened = file.Open(path); !opened) {
    result.problem = ImageProblem::kCannotOpen;
    result.detail = opened.error().message;
    return result;
  }
  std::array<std::uint8_t, kHeaderSize> bytes{};
  auto got = file.ReadAt(0, bytes.data(), bytes.size());
  if (!got) {
    result.problem = ImageProblem::kReadError;
    result.detail = got.error().message;
    return result;
  }
  if (got.value() == 0) {
    result.problem = ImageProblem::kEmpty;
    return result;
  }
  if (got.value() < kHeaderSize) {
    result.problem = ImageProblem::kHeaderTruncated;
    return result;
  }
  const std::uintmax_t size = std::filesystem::file_size(name, ec);
  if (ec) {
    result.problem = ImageProblem::kReadError;
    result.detail = ec.message();
    return result;
  }
  result.info.header = ParseFirmwareHeader(bytes);
  result.info.fileSize = size;
  return result;
}

ImageProblem CheckImage(const ImageInfo& info, std::uint16_t expectedType) {
  switch (CheckFirmwareType(info.header, expectedType)) {
    case TypeCheck::kOutOfRange:
      return ImageProblem::kTypeOutOfRange;
    case TypeCheck::kMismatch:
      return ImageProblem::kTypeMismatch;
    case TypeCheck::kMatch:
      break;
  }
  if (!info.HoldsPayload()) {
    return ImageProblem::kPayloadPastEnd;
  }
  return info.header.payloadLength == 0 ? ImageProblem::kNoPayload : ImageProblem::kNone;
}

base::Result<RegionSum> SumImageRegion(const std::string& path, std::uint64_t offset,
                                       std::uint32_t length) {
  CImageFile file;
  if (auto opened = file.Open(path); !opened) {
    return opened.error();
  }
  // Read in slices rather than all at once: a header can claim gigabytes. Slices are
  // whole words, so words never straddle two of them.
  constexpr std::size_t kSlice = 64 * 1024;
  std::vector<std::uint8_t> buffer(kSlice);
  std::uint32_t sum = 0;
  std::uint64_t done = 0;
  while (done < length) {
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(kSlice, length - done));
    auto got = file.ReadAt(offset + done, buffer.data(), want);
    if (!got) {
      return got.error().WithContext("summing the image");
    }
    if (got.value() < want) {
      return base::Error{base::ErrorKind::kInvalidData,
                         "summing the image: the file ends " +
                             std::to_string(length - done - got.value()) +
                             " bytes before the end of the region"};
    }
    const std::size_t words = want / 4;
    for (std::size_t i = 0; i < words; ++i) {
      sum += base::LoadU32(buffer.data() + 4 * i);
    }
    done += want;
  }
  return RegionSum{sum, length};
}

}  // namespace firmware
