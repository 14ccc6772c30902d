// The findings of a survey: the most useful first, and every kind worded in both
// languages with its advice. The platforms' own surveys are tested with their links
// (tests/hid_linux, tests/hid_windows); here the core's judgement of a survey alone.
#include <gtest/gtest.h>

#include <algorithm>

#include "text/LocalizedText.h"
#include "update/Diagnosis.h"

namespace {

using update::FindingKind;

TEST(Diagnosis, SeveralTroublesComeMostUsefulFirstAndNothingFoundOnlyAlone) {
  hid::SystemSurvey survey;
  survey.source = hid::SurveySource::kLinux;
  survey.udevRunning = false;
  survey.usbDevices = {{"1-1", 0x6E22, {}, true, 0}, {"1-2", hid::kAppProductId, {}, true, 0}};
  survey.interfaces = {
      {"/dev/hidraw0", 0x6E22, hid::HidBus::kUsb, hid::NodeAccess::kNotChecked},
      {"/dev/hidraw1", hid::kAppProductId, hid::HidBus::kUsb, hid::NodeAccess::kDenied, "EACCES"},
      {"/dev/hidraw2", hid::kAppProductId, hid::HidBus::kBluetooth, hid::NodeAccess::kNotChecked}};
  std::vector<std::string> kinds;
  for (const update::Finding& finding : update::Diagnose(survey)) {
    kinds.emplace_back(update::KindName(finding.kind));
  }
  EXPECT_EQ(kinds, (std::vector<std::string>{"permission-denied", "wireless", "other-product",
                                             "no-udev"}));
}

TEST(Diagnosis, EveryKindSaysItsTextAndAdviceInBothLanguages) {
  for (int k = 0; k <= static_cast<int>(FindingKind::kUdevRunning); ++k) {
    update::Finding finding;
    finding.kind = static_cast<FindingKind>(k);
    finding.subject = "/dev/hidraw3";
    finding.productId = hid::kBootProductId;
    SCOPED_TRACE(update::KindName(finding.kind));
    const auto english = update::WordsOf(finding, text::kLangEnglishUs);
    const auto chinese = update::WordsOf(finding, text::kLangChinesePrc);
    EXPECT_NE(english.text, chinese.text);
    // Chinese: CJK ideographs, whose UTF-8 starts with a byte from 0xE4 to 0xE9.
    EXPECT_TRUE(std::any_of(chinese.text.begin(), chinese.text.end(), [](char c) {
      return static_cast<unsigned char>(c) >= 0xE4 && static_cast<unsigned char>(c) <= 0xE9;
    })) << chinese.text;
    EXPECT_EQ(english.advice.empty(), finding.Passed());
    EXPECT_EQ(chinese.advice.empty(), finding.Passed());
    EXPECT_NE(std::string(update::KindName(finding.kind)), "unknown");
  }
}

}  // namespace
