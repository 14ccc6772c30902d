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

TEST_F(EnumerationFixture, ListsTheSnapshotInOrderWithOnePathBufferAndReleasesIt) {
  api.interfaces = {{kLonger, 0x4B2E, 0x6E30}, {kShort, 0x046D, 0xC52B}};
  const std::vector<InterfaceInfo> found = EnumerateHidInterfaces(api);

  EXPECT_EQ(found, (std::vector<InterfaceInfo>{{Narrow(kLonger), 0x4B2E, 0x6E30},
                                               {Narrow(kShort), 0x046D, 0xC52B}}));
  EXPECT_EQ(api.snapshotFlags, std::vector<DWORD>{0x12});  // present, device interfaces
  EXPECT_EQ(api.sizeQueries, 1) << "a shorter later path reuses the first buffer";
  EXPECT_EQ(api.snapshotsReleased, 1);
  ASSERT_EQ(api.opens.size(), 2u);
  for (const auto& open : api.opens) {
    EXPECT_EQ(open.access, static_cast<DWORD>(GENERIC_READ | GENERIC_WRITE));
    EXPECT_EQ(open.share, static_cast<DWORD>(FILE_SHARE_READ | FILE_SHARE_WRITE));
    EXPECT_EQ(open.disposition, static_cast<DWORD>(OPEN_EXISTING));
    EXPECT_EQ(open.flags, static_cast<DWORD>(FILE_FLAG_OVERLAPPED));
  }
}

TEST_F(EnumerationFixture, APathLongerThanTheBufferIsReadAgainWithTheSizeAskedAnew) {
  api.interfaces = {{kShort, 0x046D, 0xC52B}, {kLonger, 0x4B2E, 0x6E21}};
  const auto found = EnumerateHidInterfaces(api);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[1].path, Narrow(kLonger));
  EXPECT_EQ(api.sizeQueries, 2);
  EXPECT_EQ(api.pathReads, 3);  // short, longer refused, longer in the new buffer
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
