// Why a controller cannot be used, as the Linux link surveys sysfs (umockdev test beds)
// and the core words it: one bed per situation a user meets, checked down to the
// finding's kind, what it names and the advice. Runs under umockdev-wrapper.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <umockdev.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "hid/linux/LinuxHidPlatform.h"
#include "tests/support/Notices.h"
#include "text/LocalizedText.h"
#include "update/Diagnosis.h"

namespace {

using namespace std::chrono_literals;
using update::FindingKind;

std::string Printf(const char* pattern, unsigned a, unsigned b = 0, unsigned c = 0) {
  char text[160];
  std::snprintf(text, sizeof text, pattern, a, b, c);
  return text;
}

const std::string kPci = "/devices/pci0000:00/usb1";

// The sysfs entries of a test bed, in umockdev's format.
std::string UsbDevice(unsigned port, unsigned productId, unsigned vendorId = hid::kVendorId) {
  return "P: " + kPci + Printf("/1-%u\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n", port) +
         Printf("A: idVendor=%04x\nA: idProduct=%04x\n\n", vendorId, productId);
}

// Interface 0 of the USB device at port: HID class, with its driver (none: empty).
std::string UsbFunction(unsigned port, const char* driver) {
  std::string text = "P: " + kPci + Printf("/1-%u/1-%u:1.0\n", port, port) +
                     "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nA: bInterfaceClass=03\n";
  if (*driver != '\0') {
    text += std::string("L: driver=../../../../../bus/usb/drivers/") + driver + "\n";
  }
  return text + "\n";
}

// A hid device below parent with its hidraw node hidrawN.
std::string HidWithNode(const std::string& parent, unsigned bus, unsigned productId, unsigned n) {
  const std::string hid =
      parent + Printf("/%04X:%04X:%04X", bus, hid::kVendorId, productId) + Printf(".%04X", n + 1);
  return "P: " + hid + "\nE: SUBSYSTEM=hid\n" +
         Printf("E: HID_ID=%04X:%08X:%08X\n\n", bus, hid::kVendorId, productId) + "P: " + hid +
         Printf("/hidraw/hidraw%u\nN: hidraw%u\nE: SUBSYSTEM=hidraw\n", n, n) +
         Printf("E: DEVNAME=/dev/hidraw%u\nA: dev=247:%u\n\n", n, n);
}

// A controller on the cable at port 1, in the given mode, with its node /dev/hidraw0.
std::string CabledController(unsigned productId) {
  return UsbDevice(1, productId) + UsbFunction(1, "usbhid") +
         HidWithNode(kPci + "/1-1/1-1:1.0", 0x03, productId, 0);
}

class CTestbed {
 public:
  CTestbed() : m_Bed(umockdev_testbed_new()) {}
  ~CTestbed() { g_object_unref(m_Bed); }
  CTestbed(const CTestbed&) = delete;
  CTestbed& operator=(const CTestbed&) = delete;

  void Add(const std::string& text) {
    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(m_Bed, text.c_str(), &error)) {
      ADD_FAILURE() << "umockdev: " << error->message;
      g_error_free(error);
    }
  }

 private:
  UMockdevTestbed* m_Bed;
};

struct SurveyCase {
  const char* name;
  std::string bed;
  bool refused = false;   // /dev/hidraw0 refuses this user
  bool ruleFile = false;  // the rule is installed in the rules folder
  bool udevRunning = true;
  FindingKind first;     // the finding a front end shows
  std::string inText;    // what it names
  std::string inAdvice;  // what it says to do
};
void PrintTo(const SurveyCase& c, std::ostream* out) {
  *out << c.name;
}

class Situations : public ::testing::TestWithParam<SurveyCase> {
 protected:
  CTestbed bed;  // before any libudev call
};

TEST_P(Situations, TheFirstFindingNamesTheTroubleAndItsFix) {
  const SurveyCase& c = GetParam();
  bed.Add(c.bed);
  const std::filesystem::path rules = std::filesystem::path(testing::TempDir()) / c.name;
  std::filesystem::create_directories(rules);
  if (c.ruleFile) {
    std::ofstream(rules / "70-corvane-update.rules")
        << "SUBSYSTEM==\"hidraw\", ATTRS{idVendor}==\"4B2E\", TAG+=\"uaccess\"\n";
  }
  hid::LinuxHidOptions options;
  options.isUdevRunning = [&c] { return c.udevRunning; };
  options.udevRuleDirectories = {rules.string()};
  options.openNode = [&c](const char* path, int flags) {
    if (c.refused && std::string(path) == "/dev/hidraw0") {
      errno = EACCES;
      return -1;
    }
    return ::open(path, flags);
  };
  hid::CLinuxHidPlatform platform(options);

  const auto findings = update::Diagnose(platform.Survey());
  ASSERT_FALSE(findings.empty());
  EXPECT_EQ(update::KindName(findings.front().kind), update::KindName(c.first));
  const update::FindingWords english = update::WordsOf(findings.front(), text::kLangEnglishUs);
  EXPECT_NE(english.text.find(c.inText), std::string::npos) << english.text;
  EXPECT_NE(english.advice.find(c.inAdvice), std::string::npos) << english.advice;
  // A controller may be used only where the survey found it ready.
  EXPECT_EQ(update::HasUsableController(findings), c.first == FindingKind::kControllerUsable);
}

INSTANTIATE_TEST_SUITE_P(
    LinuxSurvey, Situations,
    ::testing::Values(
        SurveyCase{"Ready", CabledController(hid::kBootProductId), false, false, true,
                   FindingKind::kControllerUsable, "boot mode is ready at /dev/hidraw0", ""},
        // The 2.4G receiver (or another product of the maker): its IDs, and the cable.
        SurveyCase{"OtherProduct",
                   UsbDevice(1, 0x6E22) + UsbFunction(1, "usbhid") +
                       HidWithNode(kPci + "/1-1/1-1:1.0", 0x03, 0x6E22, 0),
                   false, false, true, FindingKind::kOtherProduct,
                   "product ID 0x6E22 is plugged in at 1-1", "USB data cable"},
        SurveyCase{"NoDriverBound", UsbDevice(1, hid::kAppProductId) + UsbFunction(1, ""), false,
                   false, true, FindingKind::kNoHidInterface, "no driver is bound",
                   "modprobe usbhid"},
        SurveyCase{"OtherDriverBound", UsbDevice(1, hid::kAppProductId) + UsbFunction(1, "usbfs"),
                   false, false, true, FindingKind::kNoHidInterface, "bound to the driver usbfs",
                   "modprobe usbhid"},
        // The node the user may not open: the rule missing, then installed but not applied.
        SurveyCase{"RefusedWithoutRule", CabledController(hid::kAppProductId), true, false, true,
                   FindingKind::kPermissionDenied,
                   "may not open it (Permission denied). The udev rule is not installed. udev is "
                   "running.",
                   "sudo tee /etc/udev/rules.d/70-corvane-update.rules && sudo udevadm control "
                   "--reload-rules && sudo udevadm trigger"},
        SurveyCase{"RefusedWithRule", CabledController(hid::kAppProductId), true, true, true,
                   FindingKind::kPermissionDenied, "RefusedWithRule/70-corvane-update.rules",
                   "The rule was not applied to this node: run sudo udevadm control"},
        SurveyCase{"RefusedWithoutUdev", CabledController(hid::kAppProductId), true, true, false,
                   FindingKind::kPermissionDenied, "udev is not running.", "as root (sudo)"},
        SurveyCase{
            "Bluetooth",
            HidWithNode("/devices/pci0000:00/bluetooth/hci0/hci0:256", 0x05, hid::kAppProductId, 0),
            false, false, true, FindingKind::kWireless, "over Bluetooth (/dev/hidraw0)",
            "need the USB cable"},
        SurveyCase{"NothingOfTheMaker", UsbDevice(1, 0xC077, 0x046D), false, false, true,
                   FindingKind::kNothingFound, "vendor ID 0x4B2E", "charge-only cable"}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(LinuxSurvey, AControllerOnBluetoothIsNotTakenForOneOnTheCable) {
  CTestbed bed;
  bed.Add(HidWithNode("/devices/pci0000:00/bluetooth/hci0/hci0:256", 0x05, hid::kAppProductId, 0));
  hid::LinuxHidOptions options;
  options.isUdevRunning = [] { return true; };
  hid::CLinuxHidPlatform platform(options);
  // Its restart into the bootloader would leave it where Bluetooth cannot reach it.
  EXPECT_TRUE(platform.EnumerateInterfaces().empty());
}

TEST(LinuxSurvey, WithoutUdevItSaysSoOnceAndFindsAControllerPluggedInLater) {
  CTestbed bed;
  std::vector<std::string> debug;
  hid::LinuxHidOptions options;
  options.isUdevRunning = [] { return false; };
  options.rescanInterval = 20ms;
  options.debug = [&debug](std::string_view line) { debug.emplace_back(line); };
  hid::CLinuxHidPlatform platform(options);

  const auto findings = update::Diagnose(platform.Survey());
  ASSERT_EQ(findings.size(), 2u);
  EXPECT_EQ(findings[0].kind, FindingKind::kNothingFound);
  EXPECT_EQ(findings[1].kind, FindingKind::kNoUdev);
  EXPECT_NE(update::WordsOf(findings[1], text::kLangEnglishUs).text.find("every half second"),
            std::string::npos);

  ASSERT_TRUE(platform.RegisterForDeviceNotices(0));
  platform.UnregisterDeviceNotices();
  ASSERT_TRUE(platform.RegisterForDeviceNotices(0));
  ASSERT_EQ(debug.size(), 1u);
  EXPECT_NE(debug[0].find("every 20 ms"), std::string::npos) << debug[0];

  bed.Add(CabledController(hid::kAppProductId));
  EXPECT_EQ(testing_support::AwaitNotices(platform, 1),
            std::vector<std::uint32_t>{hid::kNoticeArrival});
  EXPECT_TRUE(update::HasUsableController(update::Diagnose(platform.Survey())));
}

}  // namespace
