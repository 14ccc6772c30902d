// The Linux link against a mock sysfs and /dev (umockdev): finding, framing, time-outs,
// unplugs and notices, as the kernel and udev present them. Every case runs under
// umockdev-wrapper, which redirects the process's view of /sys and /dev to the test bed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <umockdev.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <list>
#include <map>
#include <mutex>
#include <numeric>
#include <thread>

#include "hid/Hid.h"
#include "hid/linux/LinuxHidPlatform.h"
#include "tests/support/Notices.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using Notices = std::vector<std::uint32_t>;
using testing_support::AwaitNotices;

std::string Format(const char* pattern, unsigned a, unsigned b = 0, unsigned c = 0) {
  char text[128];
  std::snprintf(text, sizeof text, pattern, a, b, c);
  return text;
}

// Completes one ioctl of the client with the descriptor passed as user data.
gboolean AnswerIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
  const auto& descriptor = *static_cast<const Bytes*>(data);
  const gulong request = umockdev_ioctl_client_get_request(client);
  UMockdevIoctlData* argument = umockdev_ioctl_client_get_arg(client);
  GError* error = nullptr;
  if (request == HIDIOCGRDESCSIZE) {
    UMockdevIoctlData* size = umockdev_ioctl_data_resolve(argument, 0, sizeof(int), &error);
    int value = static_cast<int>(descriptor.size());
    umockdev_ioctl_data_update(size, 0, reinterpret_cast<guint8*>(&value), sizeof value);
    umockdev_ioctl_client_complete(client, 0, 0);
  } else if (request == HIDIOCGRDESC) {
    UMockdevIoctlData* out =
        umockdev_ioctl_data_resolve(argument, 0, sizeof(hidraw_report_descriptor), &error);
    umockdev_ioctl_data_update(out, offsetof(hidraw_report_descriptor, value),
                               const_cast<guint8*>(descriptor.data()),
                               static_cast<gint>(descriptor.size()));
    umockdev_ioctl_client_complete(client, 0, 0);
  } else {
    umockdev_ioctl_client_complete(client, -1, ENOTTY);
  }
  return TRUE;
}

struct MockNode {
  std::string syspath;  // the hidraw device in sysfs
  std::string devnode;  // /dev/hidrawN
};

// USB devices with one HID interface and its hidraw node each, in a umockdev test bed;
// construct it before any libudev call of the process. Each node is a pseudo-terminal
// whose other end the bus holds: what the program writes arrives there, and what
// SendReport writes there the program reads. It is a byte stream, so tests send one
// report at a time.
class CMockHidBus {
 public:
  struct Ids {
    std::uint16_t vendorId;
    std::uint16_t productId;
  };

  CMockHidBus() : m_Testbed(umockdev_testbed_new()) {}
  ~CMockHidBus() {
    for (UMockdevIoctlBase* handler : m_Handlers) {
      g_object_unref(handler);
    }
    g_object_unref(m_Testbed);
  }
  CMockHidBus(const CMockHidBus&) = delete;
  CMockHidBus& operator=(const CMockHidBus&) = delete;

  // The nodes sort in the order they were added. Without ids the hid device carries no
  // HID_ID.
  MockNode Add(std::optional<Ids> ids, const Bytes& reportDescriptor) {
    const unsigned n = m_Added++;
    const Ids shown = ids.value_or(Ids{0, 0});
    const std::string usb = Format("/devices/pci0000:00/usb1/1-%u", n + 1);
    const std::string hid =
        usb + Format("/1-%u:1.0/0003:%04X:%04X", n + 1, shown.vendorId, shown.productId) +
        Format(".%04X", n + 1);
    MockNode node{"/sys" + hid + Format("/hidraw/hidraw%u", n), Format("/dev/hidraw%u", n)};
    std::string text =
        "P: " + usb + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n" +
        Format("A: idVendor=%04x\nA: idProduct=%04x\n\n", shown.vendorId, shown.productId) +
        "P: " + usb + Format("/1-%u:1.0\n", n + 1) +
        "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\n\n" + "P: " + hid + "\nE: SUBSYSTEM=hid\n";
    if (ids) {
      text += Format("E: HID_ID=0003:%08X:%08X\n", ids->vendorId, ids->productId);
    }
    text += "H: report_descriptor=";
    for (const std::uint8_t byte : reportDescriptor) {
      text += Format("%02X", byte);
    }
    text += "\n\nP: " + node.syspath.substr(4) + Format("\nN: hidraw%u\n", n) +
            "E: SUBSYSTEM=hidraw\nE: DEVNAME=" + node.devnode + Format("\nA: dev=247:%u\n", n);
    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(m_Testbed, text.c_str(), &error)) {
      ADD_FAILURE() << "umockdev: " << error->message;
      g_error_free(error);
    }
    return node;
  }

  // The kernel's "remove" event, then the sysfs entries go, child first: the hidraw
  // node (past its "hidraw" class folder), its hid device, the interface, the USB device.
  void Remove(const MockNode& node) {
    umockdev_testbed_uevent(m_Testbed, node.syspath.c_str(), "remove");
    std::string syspath = node.syspath;
    for (int level = 0; level < 4; ++level) {
      umockdev_testbed_remove_device(m_Testbed, syspath.c_str());
      syspath.resize(syspath.rfind('/'));
      if (level == 0) {
        syspath.resize(syspath.rfind('/'));
      }
    }
  }

  // The kernel's "change" event of the node: it stays where it is.
  void Change(const MockNode& node) {
    umockdev_testbed_uevent(m_Testbed, node.syspath.c_str(), "change");
  }

  // Hangs up the device end of the node, as an unplug does to an open hidraw node: the
  // testbed still owns that descriptor number, so it is replaced rather than closed.
  void Unplug(const MockNode& node) {
    const int nothing = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    ::dup2(nothing, DeviceEnd(node));
    ::close(nothing);
  }

  // Answers HIDIOCGRDESCSIZE / HIDIOCGRDESC on the node with this descriptor.
  void AnswerDescriptorIoctls(const MockNode& node, Bytes descriptor) {
    auto& kept = m_IoctlDescriptors.emplace_back(std::move(descriptor));  // a stable address
    UMockdevIoctlBase* handler = umockdev_ioctl_base_new();
    g_signal_connect(handler, "handle-ioctl", G_CALLBACK(AnswerIoctl), &kept);
    m_Handlers.push_back(handler);
    GError* error = nullptr;
    if (!umockdev_testbed_attach_ioctl(m_Testbed, node.devnode.c_str(), handler, &error)) {
      ADD_FAILURE() << "umockdev: " << error->message;
      g_error_free(error);
    }
  }

  // The device sends one input report.
  void SendReport(const MockNode& node, std::span<const std::uint8_t> report) {
    EXPECT_EQ(::write(DeviceEnd(node), report.data(), report.size()), ssize_t(report.size()));
  }

  // What the program wrote to the node: waits up to timeout for count bytes.
  Bytes Received(const MockNode& node, std::size_t count, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    Bytes bytes;
    std::uint8_t chunk[256];
    pollfd wait{DeviceEnd(node), POLLIN, 0};
    while (bytes.size() < count) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      const ssize_t got = left.count() > 0 && ::poll(&wait, 1, static_cast<int>(left.count())) > 0
                              ? ::read(wait.fd, chunk, std::min(sizeof chunk, count - bytes.size()))
                              : 0;
      if (got <= 0) {
        break;
      }
      bytes.insert(bytes.end(), chunk, chunk + got);
    }
    return bytes;
  }

 private:
  int DeviceEnd(const MockNode& node) const {
    const int fd = umockdev_testbed_get_dev_fd(m_Testbed, node.devnode.c_str());
    EXPECT_GE(fd, 0) << "no device end for " << node.devnode;
    return fd;
  }

  UMockdevTestbed* m_Testbed;
  unsigned m_Added = 0;
  std::list<Bytes> m_IoctlDescriptors;
  std::vector<UMockdevIoctlBase*> m_Handlers;
};

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
