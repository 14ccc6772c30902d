#include "update/ImageCheck.h"

#include "firmware/VersionPrompt.h"

namespace update {

VersionOrder CompareVersions(std::uint16_t imageVersion, std::uint16_t imageBeta,
                             std::uint32_t currentVersion) {
  // Beta 0 is the release, which comes after every beta of its version.
  const auto rank = [](std::uint16_t version, std::uint16_t beta) {
    return (std::uint64_t{version} << 17) | (beta == 0 ? 0x10000u : beta);
  };
  const std::uint64_t image = rank(imageVersion, imageBeta);
  const std::uint64_t current = rank(static_cast<std::uint16_t>(currentVersion),
                                     static_cast<std::uint16_t>(currentVersion >> 16));
  if (image == current) {
    return VersionOrder::kSame;
  }
  return image > current ? VersionOrder::kNewer : VersionOrder::kOlder;
}

ImageCheck CheckImageFile(const std::string& path, std::optional<std::uint16_t> expectedType,
                          std::optional<std::uint32_t> currentVersion, const TextLoader& texts) {
  ImageCheck check;
  check.path = path;
  check.expectedType = expectedType;
  const firmware::ImageRead read = firmware::ReadImageInfo(path);
  check.problem = read.problem;
  check.detail = read.detail;
  if (read.problem != firmware::ImageProblem::kNone) {
    // No header field is ever taken from a file that could not be read whole.
    return check;
  }
  check.info = read.info;
  check.problem = firmware::CheckImage(
      read.info, expectedType.value_or(static_cast<std::uint16_t>(read.info.header.firmwareType)));
  const firmware::FirmwareHeader& header = read.info.header;
  if (currentVersion) {
    check.order = CompareVersions(header.version, header.beta, *currentVersion);
  }
  check.prompt = firmware::FormatVersionPrompt(
      texts(text::kNewFirmware), texts(text::kAndCurrentIs), header.version, header.beta,
      currentVersion.value_or(firmware::kFirmwareInfoUnread), texts(text::kAndCurrentIsUnknown));
  return check;
}

}  // namespace update
