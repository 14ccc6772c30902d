// The Linux link against a mock sysfs and /dev (umockdev): finding, framing, time-outs,
// unplugs and notices, as the kernel and udev present them.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <numeric>
#include <thread>

#include "hid/Hid.h"
#include "hid/linux/LinuxHidPlatform.h"
#include "tests/hid_linux/MockHidBus.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using Notices = std::vector<std::uint32_t>;
using testing_support::CMockHidBus;
using testing_support::MockNode;

// A vendor-defined collection of 64 bytes, without and with report ID 0x81.
const Bytes kUnnumbered = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x95, 0x40, 0x81, 0x02, 0xC0};
const Bytes kNumbered = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01,
                         0x85, 0x81, 0x95, 0x40, 0x81, 0x02, 0xC0};
constexpr CMockHidBus::Ids kApp{hid::kVendorId, hid::kAppProductId};
constexpr CMockHidBus::Ids kBoot{hid::kVendorId, hid::kBootProductId};
constexpr CMockHidBus::Ids kOther{0x046D, 0xC077};

Bytes Sequence(std::size_t n, std::uint8_t first) {
  Bytes bytes(n);
  std::iota(bytes.begin(), bytes.end(), first);
  return bytes;
}

Bytes Joined(Bytes first, const Bytes& rest) {
  first.insert(first.end(), rest.begin(), rest.end());
  return first;
}

// Takes notices until count have come or the bound is reached, waiting on the
// platform's descriptor as a front end's event loop does.
Notices AwaitNotices(hid::IHidPlatform& platform, std::size_t count) {
  Notices notices;
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (notices.size() < count && std::chrono::steady_clock::now() < deadline) {
    pollfd wait{platform.NoticeFd(), POLLIN, 0};
    ::poll(&wait, 1, 50);
    for (const auto code : platform.TakeNotices()) {
      notices.push_back(code);
    }
  }
  return notices;
}

// open(2) that refuses chosen nodes with EACCES a number of times (-1: for ever) and
// counts every attempt.
struct CGatedOpener {
  std::mutex mutex;
  std::condition_variable attempted;
  std::map<std::string, int> refusals;
  std::map<std::string, int> attempts;

  int Open(const char* path, int flags) {
    std::unique_lock lock(mutex);
    ++attempts[path];
    attempted.notify_all();
    int& left = refusals[path];
    if (left != 0) {
      left -= left > 0 ? 1 : 0;
      errno = EACCES;
      return -1;
    }
    lock.unlock();
    return ::open(path, flags);
  }
  int Attempts(const std::string& path) {
    std::lock_guard lock(mutex);
    return attempts[path];
  }
};

hid::LinuxHidOptions Options(bool udevRunning, std::shared_ptr<CGatedOpener> opener = nullptr) {
  hid::LinuxHidOptions options;
  options.isUdevRunning = [udevRunning] { return udevRunning; };
  options.rescanInterval = 20ms;
  if (opener) {
    options.openNode = [opener](const char* path, int flags) { return opener->Open(path, flags); };
  }
  return options;
}

struct LinuxLink : ::testing::Test {
  CMockHidBus bus;  // before any libudev call
};

TEST_F(LinuxLink, EveryHidrawNodeWithUsbIdsIsListedInOrder) {
  bus.Add(CMockHidBus::Ids{hid::kVendorId, 0x6E22}, kUnnumbered);  // our vendor, other product
  bus.Add(CMockHidBus::Ids{0x046D, hid::kAppProductId}, kUnnumbered);
  bus.Add(std::nullopt, kUnnumbered);  // no HID_ID: left out
  const MockNode boot = bus.Add(kBoot, kUnnumbered);
  const MockNode app = bus.Add(kApp, kNumbered);

  hid::CLinuxHidPlatform platform(Options(false));
  // Each with the port chain of the USB device above it: its place.
  const std::vector<hid::InterfaceInfo> expected = {
      {"/dev/hidraw0", hid::kVendorId, 0x6E22, "1-1"},
      {"/dev/hidraw1", 0x046D, hid::kAppProductId, "1-2"},
      {boot.devnode, hid::kVendorId, hid::kBootProductId, "1-4"},
      {app.devnode, hid::kVendorId, hid::kAppProductId, "1-5"},
  };
  EXPECT_EQ(platform.EnumerateInterfaces(), expected);
}

struct FramingCase {
  const char* name;
  Bytes sysfsDescriptor;
  std::optional<Bytes> ioctlDescriptor;  // what the node answers, when it does
  Bytes deviceSends;
  Bytes frame;  // the 65 bytes a read delivers
};
void PrintTo(const FramingCase& c, std::ostream* out) {
  *out << c.name;
}

class Framing : public ::testing::TestWithParam<FramingCase> {
 protected:
  CMockHidBus bus;
};

TEST_P(Framing, ReadsDeliverTheFrameAndWritesGoOutAsHanded) {
  const FramingCase& c = GetParam();
  const MockNode node = bus.Add(kBoot, c.sysfsDescriptor);
  if (c.ioctlDescriptor) {
    bus.AnswerDescriptorIoctls(node, *c.ioctlDescriptor);
  }
  hid::CLinuxHidPlatform platform(Options(false));
  auto reader = platform.Open(node.devnode, hid::Access::kRead);
  auto writer = platform.Open(node.devnode, hid::Access::kWrite);
  ASSERT_TRUE(reader.ok() && writer.ok());

  // A silent device times out after the whole wait; a report sent later waits for the
  // next read.
  hid::Frame frame{};
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(reader.value()->ReadFrame(frame, 100ms).outcome, hid::ReadOutcome::kTimeout);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 95ms);
  bus.SendReport(node, c.deviceSends);
  ASSERT_EQ(reader.value()->ReadFrame(frame, 10s).outcome, hid::ReadOutcome::kReport);
  EXPECT_EQ(Bytes(frame.begin(), frame.end()), c.frame);

  // Both widths the link writes, a 65-byte frame with ID 0 and a 64-byte one with ID
  // 0x81, back to back: a byte added to the first would shift the second.
  const Bytes plain = Sequence(65, 0x00);
  const Bytes app = Joined({0x81}, Sequence(63, 0x0A));
  ASSERT_TRUE(writer.value()->WriteFrame(plain));
  ASSERT_TRUE(writer.value()->WriteFrame(app));
  EXPECT_EQ(bus.Received(node, plain.size() + app.size(), 10s), Joined(plain, app));
}

INSTANTIATE_TEST_SUITE_P(
    LinuxLink, Framing,
    ::testing::Values(
        // Without numbered reports the data comes alone and the link adds ID 0x00.
        FramingCase{"Unnumbered", kUnnumbered, std::nullopt, Sequence(64, 1),
                    Joined({0x00}, Sequence(64, 1))},
        // With them the kernel's first byte is the ID; nothing is added.
        FramingCase{"Numbered", kNumbered, std::nullopt, Joined({0x81}, Sequence(64, 1)),
                    Joined({0x81}, Sequence(64, 1))},
        // The node's own answer wins over sysfs.
        FramingCase{"NumberedByIoctl", kUnnumbered, kNumbered, Sequence(65, 0xA0),
                    Sequence(65, 0xA0)},
        // A short report is padded with zeros.
        FramingCase{"ShortReport", kUnnumbered, std::nullopt, Bytes{0xAA, 0xBB},
                    Joined({0x00, 0xAA, 0xBB}, Bytes(62, 0))}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(LinuxLink, AnUnplugEndsAWaitingReadAsDeviceGone) {
  const MockNode node = bus.Add(kApp, kNumbered);
  hid::CLinuxHidPlatform platform(Options(false));
  auto reader = platform.Open(node.devnode, hid::Access::kRead);
  auto writer = platform.Open(node.devnode, hid::Access::kWrite);
  ASSERT_TRUE(reader.ok() && writer.ok());

  // A read with a long time-out is waiting when the device goes; taking the unplug
  // for a time-out would fail on the outcome.
  std::atomic<hid::ReadOutcome> outcome{hid::ReadOutcome::kFailed};
  std::thread waiting([&] {
    hid::Frame frame{};
    outcome = reader.value()->ReadFrame(frame, 30s).outcome;
  });
  bus.Unplug(node);
  waiting.join();
  EXPECT_EQ(outcome.load(), hid::ReadOutcome::kDeviceGone);

  hid::Frame frame{};
  EXPECT_EQ(reader.value()->ReadFrame(frame, 30s).outcome, hid::ReadOutcome::kDeviceGone);
  const base::Status written = writer.value()->WriteFrame(Sequence(65, 0));
  ASSERT_FALSE(written.ok());
  EXPECT_EQ(written.error().kind, base::ErrorKind::kDisconnected) << written.error().message;
}

class NoticeSources : public ::testing::TestWithParam<bool> {  // true: udev runs
 protected:
  CMockHidBus bus;
};

TEST_P(NoticeSources, NodesComingGoingAndChangingBecomeTheirNotices) {
  const bool udevRunning = GetParam();
  bus.Add(kOther, kUnnumbered);  // present before: no notice for it
  hid::CLinuxHidPlatform platform(Options(udevRunning));
  ASSERT_TRUE(platform.RegisterForDeviceNotices(0));
  EXPECT_EQ(platform.ActiveNoticeSource(),
            udevRunning ? hid::NoticeSource::kUdevMonitor : hid::NoticeSource::kRescan);

  const MockNode app = bus.Add(kApp, kNumbered);
  EXPECT_EQ(AwaitNotices(platform, 1), Notices{hid::kNoticeArrival});
  bus.Remove(app);
  EXPECT_EQ(AwaitNotices(platform, 1), Notices{hid::kNoticeRemoveComplete});
  const MockNode boot = bus.Add(kBoot, kUnnumbered);  // back in boot mode: a new node
  EXPECT_EQ(AwaitNotices(platform, 1), Notices{hid::kNoticeArrival});
  if (udevRunning) {
    // The node changed in place: the device tree changed, as Windows tells it.
    bus.Change(boot);
    EXPECT_EQ(AwaitNotices(platform, 1), Notices{hid::kNoticeDevNodesChanged});
  }
}

INSTANTIATE_TEST_SUITE_P(LinuxLink, NoticeSources, ::testing::Values(true, false),
                         [](const auto& param) { return param.param ? "UdevMonitor" : "Rescan"; });

TEST_F(LinuxLink, TheControllersArrivalAndOpenWaitForItsNodeButUnregisteringDoesNot) {
  auto opener = std::make_shared<CGatedOpener>();
  opener->refusals = {{"/dev/hidraw0", -1}, {"/dev/hidraw1", 3}, {"/dev/hidraw2", -1}};
  hid::LinuxHidOptions options = Options(false, opener);
  options.arrivalAccessWait = 60s;
  hid::CLinuxHidPlatform platform(options);
  ASSERT_TRUE(platform.RegisterForDeviceNotices(0));

  // Another device's node is not probed, so its arrival comes at once though it would
  // refuse for ever; the controller's comes once its node stopped refusing.
  bus.Add(kOther, kUnnumbered);
  bus.Add(kBoot, kUnnumbered);
  EXPECT_EQ(AwaitNotices(platform, 2), (Notices{hid::kNoticeArrival, hid::kNoticeArrival}));
  EXPECT_EQ(opener->Attempts("/dev/hidraw0"), 0);
  EXPECT_EQ(opener->Attempts("/dev/hidraw1"), 4);

  // A controller whose node keeps refusing: unregistering ends the wait for it.
  bus.Add(kApp, kNumbered);
  {
    std::unique_lock lock(opener->mutex);
    ASSERT_TRUE(opener->attempted.wait_for(
        lock, 10s, [&] { return opener->attempts.count("/dev/hidraw2") > 0; }));
  }
  const auto start = std::chrono::steady_clock::now();
  platform.UnregisterDeviceNotices();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);  // not the 60 s access wait
  EXPECT_TRUE(platform.TakeNotices().empty());

  // Opening it retries briefly, then gives the permission error.
  const int before = opener->Attempts("/dev/hidraw2");
  auto opened = platform.Open("/dev/hidraw2", hid::Access::kWrite);
  ASSERT_FALSE(opened.ok());
  EXPECT_EQ(opened.error().kind, base::ErrorKind::kPermissionDenied);
  EXPECT_GT(opener->Attempts("/dev/hidraw2") - before, 1);
}

}  // namespace
