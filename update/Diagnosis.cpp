#include "update/Diagnosis.h"

#include <algorithm>

#include "text/LocalizedText.h"

namespace update {
namespace {

bool IsControllerMode(std::uint16_t productId) {
  return productId == hid::kAppProductId || productId == hid::kBootProductId;
}

// The controller's own interface on the cable: usable when it may be opened (or where the
// platform cannot tell, as the link will find out); else why not.
Finding JudgeControllerInterface(const hid::SurveyedInterface& entry,
                                 const hid::SystemSurvey& survey) {
  Finding finding;
  finding.subject = entry.path;
  finding.productId = entry.productId;
  finding.reason = entry.accessReason;
  const bool web = survey.source == hid::SurveySource::kWeb;
  switch (entry.access) {
    case hid::NodeAccess::kNotChecked:
    case hid::NodeAccess::kOpenable:
      finding.kind = FindingKind::kControllerUsable;
      break;
    case hid::NodeAccess::kDenied:
      finding.kind = web ? FindingKind::kWebOpenRefused : FindingKind::kPermissionDenied;
      finding.udevRunning = survey.udevRunning;
      finding.ruleFiles = survey.ruleFiles;
      break;
    case hid::NodeAccess::kMissing:
      finding.kind = FindingKind::kNodeMissing;
      break;
    case hid::NodeAccess::kBusy:
      finding.kind = FindingKind::kHeldElsewhere;
      break;
    case hid::NodeAccess::kFailed:
      finding.kind = web ? FindingKind::kWebOpenRefused : FindingKind::kOpenFailed;
      break;
  }
  return finding;
}

// A USB device of the maker as the device tree shows it: a problem the system holds for
// it or one of its functions, the controller without a HID interface, or another product.
std::optional<Finding> JudgeUsbDevice(const hid::SurveyedUsbDevice& device) {
  Finding finding;
  finding.subject = device.place;
  finding.productId = device.productId;
  const auto troubled = std::find_if(device.functions.begin(), device.functions.end(),
                                     [](const hid::SurveyedFunction& f) { return f.problem != 0; });
  if (device.problem != 0 || troubled != device.functions.end()) {
    finding.kind = FindingKind::kDriverProblem;
    finding.problemCode = device.problem != 0 ? device.problem : troubled->problem;
    finding.driver = device.problem != 0 ? std::string() : troubled->name;
    return finding;
  }
  if (!IsControllerMode(device.productId)) {
    finding.kind = FindingKind::kOtherProduct;
    return finding;
  }
  if (device.hasHidInterface) {
    return std::nullopt;  // its interface speaks for it
  }
  finding.kind = FindingKind::kNoHidInterface;
  // The driver of its HID function, where it has one, else of its first function.
  const auto hid =
      std::find_if(device.functions.begin(), device.functions.end(),
                   [](const hid::SurveyedFunction& f) { return f.interfaceClass == 3; });
  if (hid != device.functions.end()) {
    finding.driver = hid->driver;
  } else if (!device.functions.empty()) {
    finding.driver = device.functions.front().driver;
  }
  return finding;
}

void JudgeWeb(const hid::WebGrants& web, std::vector<Finding>& findings) {
  Finding finding;
  finding.reason = web.reason;
  if (!web.available) {
    finding.kind = FindingKind::kNoWebHid;
  } else if (web.granted > 0) {
    return;  // the devices allowed speak for themselves
  } else if (web.request == hid::WebGrants::Request::kNoChoice ||
             web.request == hid::WebGrants::Request::kBlocked) {
    finding.kind = FindingKind::kWebGrantRefused;
  } else {
    finding.kind = FindingKind::kWebNoGrant;
  }
  findings.push_back(std::move(finding));
}

}  // namespace

std::vector<Finding> Diagnose(const hid::SystemSurvey& survey) {
  std::vector<Finding> findings;
  const bool system =
      survey.source == hid::SurveySource::kLinux || survey.source == hid::SurveySource::kWindows;
  for (const hid::SurveyedInterface& entry : survey.interfaces) {
    if (entry.bus != hid::HidBus::kUsb) {
      findings.push_back(Finding{FindingKind::kWireless, entry.path, entry.productId});
    } else if (entry.path.empty()) {
      continue;  // no node to open: its USB device tells why
    } else if (IsControllerMode(entry.productId)) {
      findings.push_back(JudgeControllerInterface(entry, survey));
    } else if (!system) {
      // Where the platform sees no USB devices, the interface names the other product.
      findings.push_back(Finding{FindingKind::kOtherProduct, entry.path, entry.productId});
    }
  }
  for (const hid::SurveyedUsbDevice& device : survey.usbDevices) {
    if (auto finding = JudgeUsbDevice(device)) {
      findings.push_back(std::move(*finding));
    }
  }
  if (survey.web) {
    JudgeWeb(*survey.web, findings);
  } else if (findings.empty()) {
    findings.push_back(Finding{FindingKind::kNothingFound});
  }
  if (survey.udevRunning) {
    findings.push_back(
        Finding{*survey.udevRunning ? FindingKind::kUdevRunning : FindingKind::kNoUdev});
  }
  for (Finding& finding : findings) {
    finding.source = survey.source;
  }
  std::stable_sort(findings.begin(), findings.end(),
                   [](const Finding& a, const Finding& b) { return a.kind < b.kind; });
  return findings;
}

bool HasUsableController(const std::vector<Finding>& findings) {
  return std::any_of(findings.begin(), findings.end(), [](const Finding& finding) {
    return finding.kind == FindingKind::kControllerUsable;
  });
}

std::string OneLine(const std::vector<Finding>& findings, std::uint16_t languageId) {
  if (findings.empty()) {
    return {};
  }
  const FindingWords words = WordsOf(findings.front(), languageId);
  if (words.advice.empty()) {
    return words.text;
  }
  // A Chinese sentence ends with its own full stop; the advice follows without a space.
  return words.text + (languageId == text::kLangChinesePrc ? "" : " ") + words.advice;
}

std::vector<Finding> DiagnosePlatform(hid::IHidPlatform& platform, const base::DebugSink& debug) {
  std::vector<Finding> findings = Diagnose(platform.Survey());
  for (const Finding& finding : findings) {
    const FindingWords words = WordsOf(finding, text::kLangEnglishUs);
    base::WriteDebugLine(debug, std::string("diagnosis: ") + KindName(finding.kind) + ": " +
                                    words.text + (words.advice.empty() ? "" : " ") + words.advice +
                                    "\n");
  }
  return findings;
}

std::optional<std::string> WhyNoController(hid::IHidPlatform& platform, std::uint16_t languageId,
                                           const base::DebugSink& debug) {
  const std::vector<Finding> findings = DiagnosePlatform(platform, debug);
  if (HasUsableController(findings)) {
    return std::nullopt;
  }
  return OneLine(findings, languageId);
}

}  // namespace update
