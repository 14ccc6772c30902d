// Whether an image may be written into a controller: the one decision every front end
// uses, made before anything is sent. The file must be readable, hold its whole header
// and its whole payload, have a payload at all, and be built for the controller's type
// as identified at that moment. The version question is worded here too, so that a
// controller whose version was never read says "current is unknown" everywhere.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "firmware/ImageFile.h"
#include "text/LocalizedText.h"

namespace update {

// Loads a text in the language the owner chose.
using TextLoader = std::function<std::string(text::TextId)>;

// The image's version beside the controller's.
enum class VersionOrder { kNewer, kSame, kOlder, kUnknown };

struct ImageCheck {
  std::string path;
  firmware::ImageProblem problem = firmware::ImageProblem::kCannotOpen;
  std::string detail;  // the system's words where the file could not be read
  firmware::ImageInfo info;
  std::optional<std::uint16_t> expectedType;  // the controller's type when the check was made
  VersionOrder order = VersionOrder::kUnknown;
  std::string prompt;  // "New firmware 2.15 and current is 2.14\n"

  bool Acceptable() const { return problem == firmware::ImageProblem::kNone; }
  bool IsTypeProblem() const {
    return problem == firmware::ImageProblem::kTypeMismatch ||
           problem == firmware::ImageProblem::kTypeOutOfRange;
  }
};

// expectedType: nullopt before any controller is known (the file alone is checked).
// currentVersion: the controller's version word (low 16 bits hundredths, high 16 beta),
// nullopt when it was never read.
ImageCheck CheckImageFile(const std::string& path, std::optional<std::uint16_t> expectedType,
                          std::optional<std::uint32_t> currentVersion, const TextLoader& texts);

// A release is newer than any beta of the same version; betas count up.
VersionOrder CompareVersions(std::uint16_t imageVersion, std::uint16_t imageBeta,
                             std::uint32_t currentVersion);

}  // namespace update
