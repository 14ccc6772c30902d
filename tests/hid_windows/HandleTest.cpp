#include <gtest/gtest.h>

#include <numeric>
#include <optional>
#include <vector>

#include "hid/windows/WindowsHidPlatform.h"
#include "tests/hid_windows/FakeWin32Api.h"

namespace {

using hid::Access;
using hid::ReadOutcome;
using hid::windows::ReportLengths;
using testing_support::CFakeWin32Api;
using testing_support::ReadScript;
using Bytes = std::vector<std::uint8_t>;
using Start = ReadScript::Start;

Bytes Sequence(std::size_t n, std::uint8_t first) {
  Bytes bytes(n);
  std::iota(bytes.begin(), bytes.end(), first);
  return bytes;
}

struct HandleFixture : ::testing::Test {
  std::shared_ptr<CFakeWin32Api> api = std::make_shared<CFakeWin32Api>();
  hid::windows::CWindowsHidPlatform platform{api};

  std::unique_ptr<hid::IHidHandle> OpenWith(Access access, std::optional<ReportLengths> lengths) {
    api->interfaces = {{L"controller", 0x4B2E, 0x6E30}};
    api->interfaces[0].lengths = lengths;
    auto opened = platform.Open("controller", access);
    EXPECT_TRUE(opened.ok());
    return opened.ok() ? std::move(opened.value()) : nullptr;
  }
};

TEST_F(HandleFixture, OpensTheWriteSideSynchronousAndTheReadSideOverlappedOrSaysWhy) {
  ASSERT_NE(OpenWith(Access::kWrite, ReportLengths{65, 65}), nullptr);
  ASSERT_NE(OpenWith(Access::kRead, ReportLengths{65, 65}), nullptr);
  ASSERT_EQ(api->opens.size(), 2u);
  EXPECT_EQ(api->opens[0].access, static_cast<DWORD>(GENERIC_WRITE));
  EXPECT_EQ(api->opens[0].flags, 0u);
  EXPECT_EQ(api->opens[1].access, static_cast<DWORD>(GENERIC_READ));
  EXPECT_EQ(api->opens[1].flags, static_cast<DWORD>(FILE_FLAG_OVERLAPPED));
  for (const auto& open : api->opens) {
    EXPECT_EQ(open.share, static_cast<DWORD>(FILE_SHARE_READ | FILE_SHARE_WRITE));
    EXPECT_EQ(open.disposition, static_cast<DWORD>(OPEN_EXISTING));
  }
  EXPECT_EQ(api->OpenHandles(), 0u) << "a handle closes its file when it goes";

  api->interfaces[0].openable = false;
  auto denied = platform.Open("controller", Access::kWrite);
  ASSERT_FALSE(denied.ok());
  EXPECT_EQ(denied.error().kind, base::ErrorKind::kPermissionDenied);
  EXPECT_EQ(denied.error().message, "opening controller: access denied (Win32 error 5)");
  auto missing = platform.Open("unplugged", Access::kRead);
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error().kind, base::ErrorKind::kNotFound);
}

TEST_F(HandleFixture, ReadsEndAsTheirRequestDidAndAreAlwaysRetired) {
  const Bytes report = Sequence(65, 0x00);
  struct Case {
    const char* name;
    ReadOutcome outcome;
    bool cancelled;
    ReadScript script;
  };
  const DWORD gone = ERROR_DEVICE_NOT_CONNECTED;
  using enum ReadOutcome;
  const Case cases[] = {
      {"queued already", kReport, false, {.start = Start::kCompletesAtOnce, .report = report}},
      {"arrives in time", kReport, false, {.wait = WAIT_OBJECT_0, .report = report}},
      {"time-out", kTimeout, true, {.report = report}},
      {"arrives as it is cancelled", kReport, true, {.report = report, .reportInCancelRace = true}},
      {"abandoned wait", kAbandoned, true, {.wait = WAIT_ABANDONED, .report = report}},
      {"failed wait", kFailed, true, {.wait = WAIT_FAILED, .report = report}},
      {"refused, unplugged", kDeviceGone, false, {.start = Start::kRefused, .refusal = gone}},
      {"refused, other", kFailed, false, {.start = Start::kRefused, .refusal = ERROR_BUSY}},
      {"ends unplugged", kDeviceGone, false, {.wait = WAIT_OBJECT_0, .endError = gone}},
      {"unplugged before the cancel", kDeviceGone, true, {.endError = gone}},
      {"completes empty", kFailed, false, {.wait = WAIT_OBJECT_0}},
  };
  const auto handle = OpenWith(Access::kRead, ReportLengths{65, 65});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    api->read = c.script;
    api->cancels = 0;
    hid::Frame frame{};
    frame.fill(0xEE);
    EXPECT_EQ(handle->ReadFrame(frame, std::chrono::milliseconds(200)).outcome, c.outcome);
    EXPECT_FALSE(api->ReadPending()) << "a read must be retired before its buffer goes";
    EXPECT_EQ(api->cancels, c.cancelled ? 1 : 0);
    EXPECT_EQ(api->OpenHandles(), 1u) << "the read's event is closed";
    if (c.outcome == kReport) {
      EXPECT_TRUE(std::equal(frame.begin(), frame.end(), report.begin()));
    }
  }
  EXPECT_EQ(api->waitedMs, 200u);
  EXPECT_EQ(api->refusedCalls, 0);
}

TEST_F(HandleFixture, ReportsOfOtherLengthsBecome65ByteFrames) {
  struct Case {
    std::uint16_t inputLength;
    DWORD bufferOffered;
  };
  for (const Case& c : {Case{64, 65}, Case{65, 65}, Case{80, 80}}) {
    SCOPED_TRACE(c.inputLength);
    const auto handle = OpenWith(Access::kRead, ReportLengths{c.inputLength, 65});
    const Bytes report = Sequence(c.inputLength, 0x81);
    api->read = {.start = Start::kCompletesAtOnce, .report = report};
    hid::Frame frame{};
    frame.fill(0xEE);
    ASSERT_EQ(handle->ReadFrame(frame, std::chrono::milliseconds(10)).outcome,
              ReadOutcome::kReport);
    EXPECT_EQ(api->readBufferSize, c.bufferOffered);
    for (std::size_t i = 0; i < frame.size(); ++i) {
      EXPECT_EQ(frame[i], i < report.size() ? report[i] : 0) << "byte " << i;
    }
  }
}

TEST_F(HandleFixture, WritesGoOutAtTheOutputReportLength) {
  struct Case {
    const char* name;
    std::optional<ReportLengths> lengths;
    std::size_t frameSize;
    bool ok;
    std::size_t onWire;  // 0: nothing written
  };
  const Case cases[] = {
      {"boot-mode frame, as long as the report", ReportLengths{65, 65}, 65, true, 65},
      {"application frame, as long as the report", ReportLengths{64, 64}, 64, true, 64},
      {"application frame, padded to the report", ReportLengths{65, 65}, 64, true, 65},
      {"frame longer than the report", ReportLengths{64, 64}, 65, false, 0},
      {"report length unknown", std::nullopt, 18, true, 18},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto handle = OpenWith(Access::kWrite, c.lengths);
    api->written.clear();
    const Bytes frame = Sequence(c.frameSize, 0x81);
    EXPECT_EQ(handle->WriteFrame(frame).ok(), c.ok);
    if (c.onWire == 0) {
      EXPECT_TRUE(api->written.empty());
      continue;
    }
    ASSERT_EQ(api->written.size(), 1u);
    Bytes expected = frame;
    expected.resize(c.onWire, 0);
    EXPECT_EQ(api->written[0], expected);
  }
  const auto handle = OpenWith(Access::kWrite, ReportLengths{65, 65});
  api->writeResult = false;
  const base::Status failed = handle->WriteFrame(Sequence(65, 0));
  ASSERT_FALSE(failed.ok());
  EXPECT_EQ(failed.error().message, "write: the device is not functioning (Win32 error 31)");
  EXPECT_EQ(failed.error().kind, base::ErrorKind::kDisconnected);
}

}  // namespace
