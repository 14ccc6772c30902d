// Why a controller cannot be used on Windows, as the link surveys the configuration
// manager (through the Win32 double) and the core words it: one device tree per situation,
// checked down to the finding's kind, what it names and the advice.
#include <gtest/gtest.h>

#include <string>

#include "hid/windows/WindowsHidPlatform.h"
#include "tests/hid_windows/FakeWin32Api.h"
#include "text/LocalizedText.h"
#include "update/Diagnosis.h"

namespace {

using testing_support::CFakeWin32Api;
using testing_support::FakeDevNode;
using testing_support::FakeInterface;
using update::FindingKind;

const std::wstring kPath = LR"(\\?\hid#vid_4b2e&pid_6e21#6&1a&0&0000#{4d1e55b2-f16f-11cf-88cb})";
const std::wstring kBluetoothPath =
    LR"(\\?\hid#{00001124-0000-1000-8000-00805f9b34fb}_vid&00024b2e_pid&6e21#7&2b&0&0000#{4d1e55b2})";
constexpr DEVINST kHub = 1, kDevice = 10, kCollection = 11;

// The root hub, and the controller's USB device on its port 3 with this driver and problem.
void PlugController(CFakeWin32Api& api, const std::wstring& service, ULONG problem,
                    const wchar_t* productId = L"6E21") {
  api.devNodes[kHub] = FakeDevNode{L"USB\\ROOT_HUB30\\4&1&0&0", 0, {}, {}};
  api.devNodes[kDevice] =
      FakeDevNode{std::wstring(L"USB\\VID_4B2E&PID_") + productId + L"\\5&2A3B4C&0&3",
                  kHub,
                  {L"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(3)"},
                  {},
                  service,
                  problem};
}

// Its HID collection below it, and the interface the link would open.
void AddCollection(CFakeWin32Api& api, bool openable) {
  api.devNodes[kCollection] = FakeDevNode{L"HID\\VID_4B2E&PID_6E21\\6&1A&0&0000", kDevice, {}, {}};
  api.interfaces.push_back(FakeInterface{kPath, 0x4B2E, 0x6E21, openable});
  api.interfaces.back().devNode = kCollection;
}

struct TreeCase {
  const char* name;
  void (*build)(CFakeWin32Api& api);
  FindingKind first;
  std::string inText;
  std::string inAdvice;
};
void PrintTo(const TreeCase& c, std::ostream* out) {
  *out << c.name;
}

class Trees : public ::testing::TestWithParam<TreeCase> {};

TEST_P(Trees, TheFirstFindingNamesTheTroubleAndItsFix) {
  const TreeCase& c = GetParam();
  auto api = std::make_shared<CFakeWin32Api>();
  c.build(*api);
  hid::windows::CWindowsHidPlatform platform(api);

  const auto findings = update::Diagnose(platform.Survey());
  ASSERT_FALSE(findings.empty());
  EXPECT_EQ(update::KindName(findings.front().kind), update::KindName(c.first));
  const update::FindingWords words = update::WordsOf(findings.front(), text::kLangEnglishUs);
  EXPECT_NE(words.text.find(c.inText), std::string::npos) << words.text;
  EXPECT_NE(words.advice.find(c.inAdvice), std::string::npos) << words.advice;
  EXPECT_EQ(update::HasUsableController(findings), c.first == FindingKind::kControllerUsable);
  // The survey writes nothing, closes what it opened and releases its snapshots.
  EXPECT_TRUE(api->written.empty());
  EXPECT_EQ(api->OpenHandles(), 0u);
  EXPECT_EQ(api->refusedCalls, 0);
  EXPECT_EQ(api->snapshotsReleased, 2);
}

INSTANTIATE_TEST_SUITE_P(
    WindowsSurvey, Trees,
    ::testing::Values(
        TreeCase{"Ready",
                 [](CFakeWin32Api& api) {
                   PlugController(api, L"HidUsb", 0);
                   AddCollection(api, true);
                 },
                 FindingKind::kControllerUsable, "application mode is ready at \\\\?\\hid#vid_4b2e",
                 ""},
        TreeCase{"DriverFailedToStart",
                 [](CFakeWin32Api& api) { PlugController(api, L"HidUsb", 10); },
                 FindingKind::kDriverProblem,
                 "at PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(3): it cannot start (code 10)",
                 "Update driver"},
        TreeCase{"Disabled",
                 [](CFakeWin32Api& api) {
                   PlugController(api, L"HidUsb", 0);
                   AddCollection(api, false);
                   api.devNodes[kCollection].problem = 22;
                 },
                 FindingKind::kDriverProblem,
                 ", function HID\\VID_4B2E&PID_6E21\\6&1A&0&0000: it is disabled (code 22)",
                 "Enable device"},
        TreeCase{"NoHidInterface", [](CFakeWin32Api& api) { PlugController(api, L"WinUSB", 0); },
                 FindingKind::kNoHidInterface, "bound to the driver WinUSB", "USB Input Device"},
        TreeCase{"HeldByAnotherProgram",
                 [](CFakeWin32Api& api) {
                   PlugController(api, L"HidUsb", 0);
                   AddCollection(api, false);
                 },
                 FindingKind::kHeldElsewhere, "(Win32 error 5)", "Close the other programs"},
        TreeCase{"Bluetooth",
                 [](CFakeWin32Api& api) {
                   api.devNodes[kCollection] = FakeDevNode{
                       L"HID\\{00001124-0000-1000-8000-00805F9B34FB}_VID&00024B2E_PID&6E21\\7&2B",
                       0,
                       {},
                       {}};
                   api.interfaces.push_back(FakeInterface{kBluetoothPath, 0x4B2E, 0x6E21});
                   api.interfaces.back().devNode = kCollection;
                 },
                 FindingKind::kWireless, "over Bluetooth", "USB data cable"},
        TreeCase{"Receiver", [](CFakeWin32Api& api) { PlugController(api, L"HidUsb", 0, L"6E22"); },
                 FindingKind::kOtherProduct, "product ID 0x6E22", "cannot pass it on"},
        TreeCase{"NothingOfTheMaker",
                 [](CFakeWin32Api& api) {
                   api.devNodes[kDevice] = FakeDevNode{L"USB\\VID_046D&PID_C52B\\5&1", 0, {}, {}};
                 },
                 FindingKind::kNothingFound, "vendor ID 0x4B2E", "charge-only cable"}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
