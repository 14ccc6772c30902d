// The hidraw handle over a socket pair standing in for the node (message boundaries
// kept, so a burst and a hang-up can be staged exactly), and the errno and HID_ID
// mappings.
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>

#include "hid/linux/HidrawHandle.h"
#include "hid/linux/Udev.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

TEST(HidrawHandle, QueuedReportsComeOnePerReadEvenAfterAHangUpThenDeviceGone) {
  int ends[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, ends), 0);
  hid::CHidrawHandle handle(ends[0], false);
  for (const Bytes& report : {Bytes(100, 0x11), Bytes(64, 0x22)}) {  // the first overlong
    ASSERT_EQ(::write(ends[1], report.data(), report.size()), ssize_t(report.size()));
  }
  ::close(ends[1]);  // unplugged with two reports queued

  hid::Frame frame{};
  for (const std::uint8_t fill : {0x11, 0x22}) {
    ASSERT_EQ(handle.ReadFrame(frame, 5s).outcome, hid::ReadOutcome::kReport);
    Bytes expected(65, fill);
    expected[0] = 0x00;
    EXPECT_EQ(Bytes(frame.begin(), frame.end()), expected);
  }
  const hid::ReadResult gone = handle.ReadFrame(frame, 30s);
  EXPECT_EQ(gone.outcome, hid::ReadOutcome::kDeviceGone);
  EXPECT_EQ(gone.error.value_or(base::Error{}).kind, base::ErrorKind::kDisconnected);
}

TEST(OpenErrors, EachErrnoGetsTheKindAFrontEndActsOnAndOnlyPassingOnesAreRetried) {
  struct Case {
    int error;
    base::ErrorKind kind;
    bool transient;
  };
  for (const Case& c : {Case{EACCES, base::ErrorKind::kPermissionDenied, true},
                        Case{EPERM, base::ErrorKind::kPermissionDenied, true},
                        Case{ENOENT, base::ErrorKind::kNotFound, true},
                        Case{ENODEV, base::ErrorKind::kNotFound, false},
                        Case{EBUSY, base::ErrorKind::kIo, false}}) {
    const base::Error error = hid::OpenError(c.error, "/dev/hidraw4");
    EXPECT_EQ(error.kind, c.kind) << c.error;
    EXPECT_NE(error.message.find("/dev/hidraw4"), std::string::npos);
    EXPECT_EQ(hid::IsTransientOpenError(c.error), c.transient) << c.error;
  }
}

TEST(HidId, UsbIdsComeFromTheHidIdProperty) {
  using hid::udev_support::ParseHidId;
  const auto ids = ParseHidId("0003:00004B2E:00006E30");
  ASSERT_TRUE(ids.has_value());
  EXPECT_EQ(ids->vendorId, 0x4B2E);
  EXPECT_EQ(ids->productId, 0x6E30);
  EXPECT_TRUE(ParseHidId("0005:0000046d:0000b33c").has_value());  // lower case, Bluetooth
  for (const char* bad : {"", "0003:00004B2E", "0003::00006E30", "0003:00014B2E:00006E30",
                          "0003:00004B2E:00006E30x", "0003:-0004B2E:00006E30"}) {
    EXPECT_FALSE(ParseHidId(bad).has_value()) << bad;
  }
}

}  // namespace
