// The Windows link against the system's own services (under wine on the build
// machine): opening, and the whole timed read with its cancellation on a real
// overlapped handle. A named pipe stands in for the HID interface: reads, waits and
// cancellation behave alike on both.
#include <gtest/gtest.h>

#include <numeric>
#include <string>

#include "hid/windows/WindowsHidHandle.h"
#include "hid/windows/WindowsHidPlatform.h"

namespace {

using hid::ReadOutcome;
using hid::windows::CreateSystemWin32Api;
using hid::windows::CWindowsHidHandle;

constexpr auto kBound = std::chrono::seconds(5);

// The hidden notice window is registered and goes; an interface not there is not found;
// every listed one opens both ways.
TEST(SystemServices, ListedInterfacesOpenBothWaysAndATimedReadEndsInTime) {
  hid::windows::CWindowsHidPlatform platform;
  ASSERT_TRUE(platform.RegisterForDeviceNotices(0));
  const HWND window = platform.NoticeWindow();
  EXPECT_TRUE(::IsWindow(window));
  platform.UnregisterDeviceNotices();
  EXPECT_FALSE(::IsWindow(window));

  auto opened = platform.Open(R"(\\?\hid#vid_4b2e&pid_6e30#0&0&0#{4d1e55b2-f16f-11cf-88cb})",
                              hid::Access::kRead);
  ASSERT_FALSE(opened.ok());
  EXPECT_EQ(opened.error().kind, base::ErrorKind::kNotFound) << opened.error().message;

  const auto interfaces = platform.EnumerateInterfaces();
  if (interfaces.empty()) {
    GTEST_SKIP() << "no HID interface that this user may open";  // wine lists two of its own
  }
  for (const auto& info : interfaces) {
    SCOPED_TRACE(info.path);
    EXPECT_EQ(info.path.rfind(R"(\\?\hid#)", 0), 0u);
    auto write = platform.Open(info.path, hid::Access::kWrite);
    ASSERT_TRUE(write.ok()) << write.error().message;
    auto read = platform.Open(info.path, hid::Access::kRead);
    ASSERT_TRUE(read.ok()) << read.error().message;
    // Nobody moves wine's mouse; on a desktop a report may come first.
    hid::Frame frame{};
    const auto outcome = read.value()->ReadFrame(frame, std::chrono::milliseconds(30)).outcome;
    EXPECT_TRUE(outcome == ReadOutcome::kTimeout || outcome == ReadOutcome::kReport);
  }
}

TEST(SystemServices, ATimedOutReadIsRetiredAndTheNextReadGetsTheReport) {
  const std::wstring name = L"\\\\.\\pipe\\update-test-" + std::to_wstring(::GetCurrentProcessId());
  const HANDLE device = ::CreateNamedPipeW(
      name.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_MESSAGE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr);
  ASSERT_NE(device, INVALID_HANDLE_VALUE);
  const HANDLE host = ::CreateFileW(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OVERLAPPED, nullptr);
  ASSERT_NE(host, INVALID_HANDLE_VALUE);
  CWindowsHidHandle handle(CreateSystemWin32Api(), host, true, {65, 65});

  hid::Frame frame{};
  EXPECT_EQ(handle.ReadFrame(frame, std::chrono::milliseconds(30)).outcome, ReadOutcome::kTimeout);

  hid::Frame report{};
  std::iota(report.begin(), report.end(), std::uint8_t{0});
  DWORD written = 0;
  ASSERT_TRUE(::WriteFile(device, report.data(), report.size(), &written, nullptr));
  EXPECT_EQ(handle.ReadFrame(frame, kBound).outcome, ReadOutcome::kReport);
  EXPECT_EQ(frame, report);

  // The other end goes away: an error, neither a report nor a time-out.
  ::CloseHandle(device);
  const auto outcome = handle.ReadFrame(frame, kBound).outcome;
  EXPECT_NE(outcome, ReadOutcome::kReport);
  EXPECT_NE(outcome, ReadOutcome::kTimeout);
}

}  // namespace
