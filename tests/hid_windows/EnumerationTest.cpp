#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "hid/Hid.h"
#include "hid/windows/HidEnumeration.h"
#include "hid/windows/WindowsHidPlatform.h"
#include "tests/hid_windows/FakeWin32Api.h"

namespace {

using hid::InterfaceInfo;
using hid::windows::EnumerateHidInterfaces;
using testing_support::CFakeWin32Api;
using testing_support::FakeInterface;

const std::wstring kShort = LR"(\\?\hid#vid_046d&pid_c52b#7&1a&0&0000#{4d1e55b2})";
const std::wstring kLonger =
    LR"(\\?\hid#vid_4b2e&pid_6e30&mi_00&col01#8&2f9a1c3&0&0000#{4d1e55b2-f16f-11cf-88cb})";

std::string Narrow(const std::wstring& wide) {
  return std::string(wide.begin(), wide.end());  // the paths here are ASCII
}

struct EnumerationFixture : ::testing::Test {
  CFakeWin32Api api;

  void TearDown() override {
    EXPECT_EQ(api.refusedCalls, 0) << "a call a real system refuses (sizes, handles)";
    EXPECT_EQ(api.OpenHandles(), 0u) << "every interface opened is closed again";
  }
};

// A shorter later path reuses the first path buffer; a longer one is read again in a
// buffer of the size asked anew.
TEST_F(EnumerationFixture, ListsTheSnapshotInOrderWithAPathBufferOfTheSizeAskedAndReleasesIt) {
  const FakeInterface ours{kLonger, 0x4B2E, 0x6E30};
  const FakeInterface other{kShort, 0x046D, 0xC52B};
  for (const bool longerFirst : {true, false}) {
    SCOPED_TRACE(longerFirst);
    api = CFakeWin32Api{};
    api.interfaces = {longerFirst ? ours : other, longerFirst ? other : ours};
    std::vector<InterfaceInfo> expected;
    for (const FakeInterface& each : api.interfaces) {
      expected.push_back({Narrow(each.path), each.vendorId, each.productId});
    }
    EXPECT_EQ(EnumerateHidInterfaces(api), expected);
    EXPECT_EQ(api.snapshotFlags, std::vector<DWORD>{0x12});  // present, device interfaces
    EXPECT_EQ(api.sizeQueries, longerFirst ? 1 : 2);
    EXPECT_EQ(api.pathReads, longerFirst ? 2 : 3);  // the longer one refused once after a short
    EXPECT_EQ(api.snapshotsReleased, 1);
    ASSERT_EQ(api.opens.size(), 2u);
    for (const auto& open : api.opens) {
      EXPECT_EQ(open.access, static_cast<DWORD>(GENERIC_READ | GENERIC_WRITE));
      EXPECT_EQ(open.share, static_cast<DWORD>(FILE_SHARE_READ | FILE_SHARE_WRITE));
      EXPECT_EQ(open.disposition, static_cast<DWORD>(OPEN_EXISTING));
      EXPECT_EQ(open.flags, static_cast<DWORD>(FILE_FLAG_OVERLAPPED));
    }
  }
}

TEST_F(EnumerationFixture, APathThatKeepsFailingIsSkippedAfterBoundedAttempts) {
  struct Case {
    const char* name;
    int pathFailures;
    bool listed;
  };
  for (const Case& c : {Case{"fails once", 1, true},
                        Case{"fails until the last attempt", hid::windows::kPathAttempts - 1, true},
                        Case{"never readable", 1000, false}}) {
    SCOPED_TRACE(c.name);
    api = CFakeWin32Api{};
    api.interfaces = {{kLonger, 0x4B2E, 0x6E30}, {kShort, 0x046D, 0xC52B}};
    api.interfaces[0].pathFailures = c.pathFailures;
    const auto found = EnumerateHidInterfaces(api);
    ASSERT_EQ(found.size(), c.listed ? 2u : 1u);
    EXPECT_EQ(found.back().path, Narrow(kShort)) << "the search goes on after it";
    EXPECT_LE(api.pathReads, hid::windows::kPathAttempts + 1);
  }
}

TEST_F(EnumerationFixture, InterfacesThatCannotBeOpenedOrIdentifiedAreLeftOut) {
  api.interfaces = {{L"keyboard", 0x046D, 0xC31C}, {L"mute", 0x4B2E, 0x6E21}, {kShort, 1, 2}};
  api.interfaces[0].openable = false;  // the system keeps keyboards for itself
  api.interfaces[1].attributesReadable = false;
  EXPECT_EQ(EnumerateHidInterfaces(api), (std::vector<InterfaceInfo>{{Narrow(kShort), 1, 2}}));

  api.snapshotFails = true;
  EXPECT_TRUE(EnumerateHidInterfaces(api).empty());
  EXPECT_EQ(api.snapshotsReleased, 1) << "a snapshot never taken is not released";
}

// Each interface is given the place of its USB device, up the device tree: the same in
// both modes of the controller, told apart by the port, none where there is no USB device.
TEST_F(EnumerationFixture, EachInterfaceGetsThePlaceOfItsUsbDevice) {
  const std::wstring port3 = L"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(3)";
  api.devNodes = {
      {1, {L"USB\\ROOT_HUB30\\4&2A3B&0&0", 0, {}, {}}},
      // Port 3 in application mode: HID collection, one interface of a composite device,
      // the device.
      {10, {L"USB\\VID_4B2E&PID_6E21\\5&1&0&3", 1, {port3}, 3}},
      {11, {L"USB\\VID_4B2E&PID_6E21&MI_00\\6&1&0&0000", 10, {}, {}}},
      {12, {L"HID\\VID_4B2E&PID_6E21&MI_00\\7&1&0&0000", 11, {}, {}}},
      // The same port once the controller has restarted in boot mode.
      {20, {L"USB\\VID_4B2E&PID_6E30\\5&1&0&3", 1, {port3, L"ACPI(_SB_)#ACPI(PCI0)"}, 3}},
      {21, {L"HID\\VID_4B2E&PID_6E30\\6&9&0&0000", 20, {}, {}}},
      // Port 4 of a system that keeps no location paths.
      {30, {L"USB\\VID_4B2E&PID_6E21\\5&1&0&4", 1, {}, 4}},
      {31, {L"HID\\VID_4B2E&PID_6E21\\6&8&0&0000", 30, {}, {}}},
      // Over Bluetooth: no USB device above it.
      {40, {L"BTHENUM\\{00001124}_VID&00024B2E_PID&6E21\\8&1", 0, {}, {}}},
      {41, {L"HID\\{00001124}_VID&00024B2E_PID&6E21\\9&1", 40, {}, {}}},
  };
  api.interfaces = {{L"app", 0x4B2E, 0x6E21},
                    {L"boot", 0x4B2E, 0x6E30},
                    {L"port4", 0x4B2E, 0x6E21},
                    {L"bluetooth", 0x4B2E, 0x6E21}};
  const DEVINST collections[] = {12, 21, 31, 41};
  for (std::size_t i = 0; i < 4; ++i) {
    api.interfaces[i].devNode = collections[i];
  }
  std::vector<std::string> places;
  for (const InterfaceInfo& info : EnumerateHidInterfaces(api)) {
    places.push_back(info.location);
  }
  EXPECT_EQ(places, (std::vector<std::string>{Narrow(port3), Narrow(port3),
                                              "USB\\ROOT_HUB30\\4&2A3B&0&0#USB(4)", ""}));
}

TEST_F(EnumerationFixture, TheLinkFindsTheControllerAndWritesItsPathToTheDebuggerInUtf16) {
  api.interfaces = {{kShort, 0x046D, 0xC52B}, {kLonger, 0x4B2E, 0x6E30}};
  auto shared = std::shared_ptr<CFakeWin32Api>(&api, [](CFakeWin32Api*) {});
  hid::CHid link(std::make_shared<hid::windows::CWindowsHidPlatform>(shared),
                 hid::windows::CreateDebuggerSink(shared));
  link.SetNotifyWindow(0x4242);

  EXPECT_EQ(link.FindDevice(), 1);
  EXPECT_EQ(link.DevicePath(), Narrow(kLonger));
  EXPECT_EQ(api.debugStrings, std::vector<std::wstring>{L"m_DevicePath:" + kLonger + L"\n"});
  EXPECT_EQ(api.registeredRecipients, std::vector<HANDLE>{reinterpret_cast<HANDLE>(0x4242)});

  api.debugStrings.clear();
  hid::windows::CreateDebuggerSink(shared)("\xE5\x9B\xBA\xE4\xBB\xB6\n");  // UTF-8
  EXPECT_EQ(api.debugStrings, std::vector<std::wstring>{L"\u56FA\u4EF6\n"});
}

}  // namespace
