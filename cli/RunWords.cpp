#include "cli/RunWords.h"

#include <cstdio>
#include <string_view>
#include <utility>

#include "cli/Messages.h"

namespace cli {
namespace {

const char* StepWords(update::RunStep step) {
  switch (step) {
    case update::RunStep::kChoosing:
      return Tr("choosing the image");
    case update::RunStep::kLinking:
      return Tr("opening the device");
    case update::RunStep::kQueryingRegion:
      return Tr("asking for the region");
    case update::RunStep::kCheckingImage:
      return Tr("checking the image");
    case update::RunStep::kErasing:
      return Tr("erasing");
    case update::RunStep::kStreaming:
      return Tr("writing");
    case update::RunStep::kFinishing:
      return Tr("finishing the write");
    case update::RunStep::kVerifying:
      return Tr("verifying");
    case update::RunStep::kCompleting:
      return Tr("completing");
  }
  return Tr("updating");
}

// The reasons the link and the commands give in their own words, which end the message
// ("read: the device went away"), in the messages' language; the system's own (errno's
// text) stay as the system gave them.
std::string ReasonWords(std::string message) {
  const std::pair<std::string_view, const char*> known[] = {
      {"the device went away", Tr("the device went away")},
      {"the device did not answer", Tr("the device did not answer")},
      {"the device answered with an unexpected reply",
       Tr("the device answered with an unexpected reply")},
  };
  for (const auto& [words, translated] : known) {
    if (message.ends_with(words)) {
      message.replace(message.size() - words.size(), words.size(), translated);
      break;
    }
  }
  return message;
}

const char* FailureWords(update::RunFailure failure) {
  switch (failure) {
    case update::RunFailure::kNone:
      return Tr("completed");
    case update::RunFailure::kNoImageChosen:
      return Tr("no image was chosen");
    case update::RunFailure::kImageRefused:
      return Tr("the image was refused");
    case update::RunFailure::kDeclined:
      return Tr("the update was declined");
    case update::RunFailure::kDeviceNotOpen:
      return Tr("the device could not be opened");
    case update::RunFailure::kDeviceCommand:
      return Tr("the device command failed");
    case update::RunFailure::kEmptyPayload:
      return Tr("the image has no payload");
    case update::RunFailure::kRegionOutOfRange:
      return Tr("the device's region does not fit the image");
    case update::RunFailure::kImageUnreadable:
      return Tr("the image file could not be read");
    case update::RunFailure::kCrcMismatch:
      return Tr("the CRC-16 check failed");
    case update::RunFailure::kStopped:
      return Tr("the run was stopped");
  }
  return Tr("failed");
}

std::string Hex16(std::uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04X", value);
  return text;
}

}  // namespace

std::string DescribeStep(update::RunStep step) {
  return StepWords(step);
}

std::string DescribeImageProblem(firmware::ImageProblem problem) {
  switch (problem) {
    case firmware::ImageProblem::kNone:
      return Tr("the image is usable");
    case firmware::ImageProblem::kCannotOpen:
      return Tr("the image file cannot be opened");
    case firmware::ImageProblem::kNotAFile:
      return Tr("the image is not a regular file");
    case firmware::ImageProblem::kReadError:
      return Tr("the image file cannot be read");
    case firmware::ImageProblem::kEmpty:
      return Tr("the image file is empty");
    case firmware::ImageProblem::kHeaderTruncated:
      return Tr("the image file is shorter than its 28-byte header");
    case firmware::ImageProblem::kTypeOutOfRange:
      return Tr("the image's type field is not a device type code");
    case firmware::ImageProblem::kTypeMismatch:
      return Tr("the image is built for another device type");
    case firmware::ImageProblem::kPayloadPastEnd:
      return Tr("the image file ends before the payload its header announces");
  }
  return Tr("the image is not usable");
}

std::string DescribeRun(const update::RunOutcome& outcome) {
  if (outcome.Completed()) {
    return Tr("completed");
  }
  std::string where = StepWords(outcome.step);
  if (outcome.step == update::RunStep::kStreaming && outcome.blockCount > 0) {
    where = Fmt(Tr("writing block {0} of {1}"),
                {std::to_string(outcome.block + 1), std::to_string(outcome.blockCount)});
  }
  std::string why;
  switch (outcome.failure) {
    case update::RunFailure::kDeviceCommand:
      // The command's reason reads on its own: "write: No such device".
      if (outcome.error) {
        return where + ": " + ReasonWords(outcome.error->message);
      }
      why = FailureWords(outcome.failure);
      break;
    case update::RunFailure::kImageRefused:
      why = DescribeImageProblem(outcome.imageProblem);
      break;
    case update::RunFailure::kCrcMismatch:
      why = Fmt(Tr("the CRC-16 check failed (image {0}, device {1})"),
                {Hex16(outcome.imageCrc), Hex16(outcome.deviceCrc)});
      break;
    case update::RunFailure::kRegionOutOfRange:
      why = Fmt(Tr("the device's region starts at {0}, not inside the image's payload"),
                {std::to_string(outcome.regionStart)});
      break;
    default:
      why = FailureWords(outcome.failure);
      break;
  }
  if (outcome.error) {
    why += ": " + ReasonWords(outcome.error->message);
  }
  return where + ": " + why;
}

}  // namespace cli
