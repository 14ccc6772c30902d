#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "hid/HidTypes.h"
#include "hid/windows/DeviceNoticeWindow.h"
#include "hid/windows/WindowsHidPlatform.h"
#include "tests/hid_windows/FakeWin32Api.h"

namespace {

using hid::windows::CWindowsHidPlatform;
using hid::windows::NoticeCodeOf;
using testing_support::CFakeWin32Api;

constexpr auto kBound = std::chrono::seconds(5);

DEV_BROADCAST_HDR Header(DWORD type) {
  DEV_BROADCAST_HDR header{};
  header.dbch_size = sizeof header;
  header.dbch_devicetype = type;
  return header;
}

void ExpectHidFilter(const CFakeWin32Api& api) {
  EXPECT_EQ(api.lastFilter.dbcc_size, sizeof(DEV_BROADCAST_DEVICEINTERFACE_W));
  EXPECT_EQ(api.lastFilter.dbcc_devicetype, static_cast<DWORD>(DBT_DEVTYP_DEVICEINTERFACE));
  EXPECT_EQ(api.lastFilter.dbcc_reserved, 0u);
  EXPECT_TRUE(IsEqualGUID(api.lastFilter.dbcc_classguid, CFakeWin32Api::kHidClass));
  EXPECT_EQ(api.registrationFlags.back(), static_cast<DWORD>(DEVICE_NOTIFY_WINDOW_HANDLE));
}

TEST(NoticeCode, PassesOnInterfaceArrivalsRemovalsAndTreeChangesOnly) {
  DEV_BROADCAST_HDR interface = Header(DBT_DEVTYP_DEVICEINTERFACE);
  DEV_BROADCAST_HDR volume = Header(DBT_DEVTYP_VOLUME);
  const auto of = [](WPARAM event, DEV_BROADCAST_HDR* header) {
    return NoticeCodeOf(event, reinterpret_cast<LPARAM>(header));
  };
  EXPECT_EQ(of(DBT_DEVICEARRIVAL, &interface), hid::kNoticeArrival);
  EXPECT_EQ(of(DBT_DEVICEREMOVECOMPLETE, &interface), hid::kNoticeRemoveComplete);
  EXPECT_EQ(of(DBT_DEVNODES_CHANGED, nullptr), hid::kNoticeDevNodesChanged);
  EXPECT_EQ(of(DBT_DEVICEARRIVAL, &volume), std::nullopt);
  EXPECT_EQ(of(DBT_DEVICEARRIVAL, nullptr), std::nullopt);
  EXPECT_EQ(of(DBT_DEVICEQUERYREMOVE, &interface), std::nullopt);
}

TEST(Notices, AGivenWindowIsRegisteredForHidInterfacesAndUnregisteredOnce) {
  auto api = std::make_shared<CFakeWin32Api>();
  CWindowsHidPlatform platform(api);
  const auto window = reinterpret_cast<HANDLE>(0x2468);
  EXPECT_TRUE(platform.RegisterForDeviceNotices(0x2468));
  EXPECT_TRUE(platform.RegisterForDeviceNotices(0x2468));
  EXPECT_EQ(api->registeredRecipients, std::vector<HANDLE>{window}) << "registered once";
  ExpectHidFilter(*api);
  EXPECT_EQ(platform.NoticeWindow(), nullptr);

  platform.UnregisterDeviceNotices();
  platform.UnregisterDeviceNotices();
  EXPECT_EQ(api->unregistered, std::vector<HDEVNOTIFY>{api->registration});

  api->registration = nullptr;
  EXPECT_FALSE(platform.RegisterForDeviceNotices(0x2468));
}

TEST(Notices, WithoutAWindowAHiddenOneQueuesTheNoticesAndSignalsTheEvent) {
  auto api = std::make_shared<CFakeWin32Api>();
  CWindowsHidPlatform platform(api);
  ASSERT_TRUE(platform.RegisterForDeviceNotices(0));
  const HWND window = platform.NoticeWindow();
  ASSERT_NE(window, nullptr);
  ASSERT_EQ(api->registeredRecipients, std::vector<HANDLE>{window});
  ExpectHidFilter(*api);

  DEV_BROADCAST_HDR interface = Header(DBT_DEVTYP_DEVICEINTERFACE);
  DEV_BROADCAST_HDR port = Header(DBT_DEVTYP_PORT);
  // Sent, not posted: the broadcast record lives on this thread's stack.
  ::SendMessageW(window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&port));
  ::SendMessageW(window, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE,
                 reinterpret_cast<LPARAM>(&interface));
  ::SendMessageW(window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&interface));

  ASSERT_TRUE(platform.WaitForNotices(kBound));
  EXPECT_EQ(::WaitForSingleObject(platform.NoticeEvent(), 0), WAIT_OBJECT_0);
  EXPECT_EQ(platform.TakeNotices(),
            (std::vector<std::uint32_t>{hid::kNoticeRemoveComplete, hid::kNoticeArrival}));
  EXPECT_EQ(::WaitForSingleObject(platform.NoticeEvent(), 0), static_cast<DWORD>(WAIT_TIMEOUT));

  platform.UnregisterDeviceNotices();
  EXPECT_EQ(api->unregistered, std::vector<HDEVNOTIFY>{api->registration});
  EXPECT_FALSE(::IsWindow(window)) << "the hidden window is destroyed with its thread";
  EXPECT_EQ(platform.NoticeWindow(), nullptr);

  // A hidden window the system will not register is not kept.
  api->registration = nullptr;
  EXPECT_FALSE(platform.RegisterForDeviceNotices(0));
  EXPECT_EQ(platform.NoticeWindow(), nullptr);
  ASSERT_EQ(api->registeredRecipients.size(), 2u);
  EXPECT_FALSE(::IsWindow(static_cast<HWND>(api->registeredRecipients[1])));
}

}  // namespace
