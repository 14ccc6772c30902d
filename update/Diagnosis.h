// Why no controller can be used, told as findings. The platform surveys what it sees of
// the maker's devices (hid/Survey.h); Diagnose judges that survey: a controller ready,
// or what stands in the way (a charge-only cable, another product of the maker, a driver
// that did not bind, a node the user may not open, a controller paired over Bluetooth,
// a browser not allowed to use it), each with what to do. Nothing here touches a device.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/DebugOutput.h"
#include "hid/HidPlatform.h"
#include "hid/Survey.h"

namespace update {

// The kinds, in the order a person should hear about them: failures first (the ones that
// block the most, named most exactly, at the top), then the checks that passed.
enum class FindingKind {
  kDriverProblem,     // the system holds a problem code for the device or a function
  kNoHidInterface,    // the controller's USB device has no HID interface: no driver bound
  kPermissionDenied,  // the controller's node may not be opened by this user
  kNodeMissing,       // listed by the system, but its node is missing (a container's /dev)
  kHeldElsewhere,     // another program holds the controller for itself (Windows)
  kOpenFailed,        // it may not be opened, for another reason
  kWebOpenRefused,    // the browser may not open the device it was allowed
  kWireless,          // a device of the maker over Bluetooth: updates need the cable
  kOtherProduct,      // a device of the maker with another product ID (the receiver, ...)
  kWebGrantRefused,   // the browser's chooser was closed without a choice, or blocked
  kWebNoGrant,        // the page was not allowed to use a controller yet
  kNoWebHid,          // the browser has no WebHID
  kNothingFound,      // nothing with the maker's vendor ID on any bus
  kNoUdev,            // no udev daemon: plug-ins are found by looking again every moment
  // Checks that passed.
  kControllerUsable,  // a controller on the cable that may be opened
  kUdevRunning,       // udev runs: plug-ins are heard at once
};

struct Finding {
  FindingKind kind = FindingKind::kNothingFound;
  std::string subject = {};              // the path or place it is about; empty when none
  std::uint16_t productId = 0;           // the device's, where one is named
  std::uint32_t problemCode = 0;         // kDriverProblem
  std::string driver = {};               // kNoHidInterface: the bound driver, or none
  std::string reason = {};               // the system's or the browser's words
  std::optional<bool> udevRunning = {};  // kPermissionDenied on Linux
  std::optional<std::vector<std::string>> ruleFiles = {};  // kPermissionDenied on Linux
  hid::SurveySource source = hid::SurveySource::kListed;   // whose fixes the advice names

  bool Passed() const { return kind >= FindingKind::kControllerUsable; }
  // Worth knowing, but standing in nobody's way (no udev: the tool rescans instead).
  bool IsNote() const { return kind == FindingKind::kNoUdev; }
  bool operator==(const Finding&) const = default;
};

// The stable name of a kind, for JSON documents: "permission-denied", ...
const char* KindName(FindingKind kind);

// What a finding says and what to do about it, in the language languageId selects
// (Simplified Chinese for 2052, English otherwise). advice is empty for a passed check.
struct FindingWords {
  std::string text;
  std::string advice;
};
FindingWords WordsOf(const Finding& finding, std::uint16_t languageId);

// The findings of a survey, most useful first (see FindingKind).
std::vector<Finding> Diagnose(const hid::SystemSurvey& survey);

// True when a finding says a controller is ready to be used.
bool HasUsableController(const std::vector<Finding>& findings);

// The first finding as one line ("text: advice"), for a window's label; empty for none.
std::string OneLine(const std::vector<Finding>& findings, std::uint16_t languageId);

// Surveys the platform and diagnoses, for a front end that found no usable controller:
// the findings, each also written to debug as one line (in English) when debug is set.
std::vector<Finding> DiagnosePlatform(hid::IHidPlatform& platform, const base::DebugSink& debug);

// For a window without a usable controller: the line its completion label shows (the
// first finding, OneLine), or nullopt when a controller can be used. Every finding goes
// to debug, for -v.
std::optional<std::string> WhyNoController(hid::IHidPlatform& platform, std::uint16_t languageId,
                                           const base::DebugSink& debug);

}  // namespace update
