// The emulator link end to end: an emulator server with a recording device model on one
// side of a real socket, CHid over CEmulatorPlatform on the other.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <condition_variable>
#include <cstring>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "hid/Hid.h"
#include "hid/emulator/EmulatorPlatform.h"
#include "hid/emulator/server/EmulatorServer.h"
#include "tests/support/Notices.h"
#include "tests/support/TempDir.h"

namespace {

using namespace hid::emulator;
using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using testing_support::AwaitNotices;

constexpr auto kBound = 5s;  // for events that take milliseconds; only reached on failure

// Records what the program wrote.
class CRecordingDevice final : public IEmulatedDevice {
 public:
  void BindPort(IDevicePort*) override {}
  void OnOutputReport(std::span<const std::uint8_t> report) override {
    {
      std::lock_guard lock(m_Mutex);
      m_Received.emplace_back(report.begin(), report.end());
    }
    m_Changed.notify_all();
  }
  std::vector<Bytes> WaitForReceived(std::size_t count) {
    std::unique_lock lock(m_Mutex);
    m_Changed.wait_for(lock, kBound, [&] { return m_Received.size() >= count; });
    return m_Received;
  }

 private:
  std::mutex m_Mutex;
  std::condition_variable m_Changed;
  std::vector<Bytes> m_Received;
};

hid::Frame Pattern(std::uint8_t reportId, std::uint8_t first) {
  hid::Frame frame{};
  frame[0] = reportId;
  for (std::size_t i = 1; i < frame.size(); ++i) {
    frame[i] = static_cast<std::uint8_t>(first + i);
  }
  return frame;
}

struct EmulatorLink : ::testing::Test {
  testing_support::CTempDir dir;
  const std::string socketPath = (dir.Path() / "emulator.sock").string();
  std::shared_ptr<CRecordingDevice> device = std::make_shared<CRecordingDevice>();
  std::unique_ptr<CEmulatorServer> server;
  std::shared_ptr<CEmulatorPlatform> platform;
  std::unique_ptr<hid::CHid> link;

  void Start(std::uint16_t productId) {
    auto listening = CEmulatorServer::Listen(socketPath, device);
    ASSERT_TRUE(listening.ok()) << listening.error().message;
    server = std::move(listening.value());
    server->Attach(hid::kVendorId, productId);
    Connect();
  }
  void Connect(EmulatorOptions options = {}) {
    link.reset();
    auto connected = CEmulatorPlatform::Connect(socketPath, std::move(options));
    ASSERT_TRUE(connected.ok()) << connected.error().message;
    platform = connected.value();
    link = std::make_unique<hid::CHid>(platform);
  }
  void FindAndOpen() {
    ASSERT_EQ(link->FindDevice(), 1);
    ASSERT_EQ(link->OpenDevice(), 1);
  }
};

sockaddr_un Address(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  return address;
}

// A socket bound at path, listening unless backlog is negative.
int Bound(const std::string& path, int backlog) {
  const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
  const sockaddr_un address = Address(path);
  EXPECT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  EXPECT_TRUE(backlog < 0 || ::listen(fd, backlog) == 0);
  return fd;
}

base::Error ConnectFailure(const std::string& path, EmulatorOptions options = {}) {
  auto connected = CEmulatorPlatform::Connect(path, std::move(options));
  EXPECT_FALSE(connected.ok()) << path;
  return connected.ok() ? base::Error{} : connected.error();
}

TEST_F(EmulatorLink, ConnectFailsWithTheReasonAndThePath) {
  // A socket file nobody listens on, as a crashed emulator leaves it.
  ::close(Bound(socketPath, -1));
  base::Error refused = ConnectFailure(socketPath);
  EXPECT_EQ(refused.kind, base::ErrorKind::kNotFound);
  EXPECT_NE(refused.message.find(socketPath + ": connect: Connection refused"), std::string::npos)
      << refused.message;
  ::unlink(socketPath.c_str());

  // A listener that never accepts and whose backlog is full: the connect is bounded.
  const int busy = Bound(socketPath, 0);
  const int first = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
  const sockaddr_un address = Address(socketPath);
  ASSERT_EQ(::connect(first, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  EmulatorOptions quick;
  quick.connectTimeout = 20ms;
  base::Error timedOut = ConnectFailure(socketPath, quick);
  EXPECT_EQ(timedOut.kind, base::ErrorKind::kTimedOut);
  EXPECT_NE(timedOut.message.find(socketPath), std::string::npos);
  ::close(first);
  ::close(busy);

  EXPECT_NE(ConnectFailure("/tmp/" + std::string(200, 'x')).message.find("at most 107"),
            std::string::npos);
}

TEST_F(EmulatorLink, AnEmulatorSlowToTellItsStateDelaysTheStartOnlyForTheBound) {
  const int listener = Bound(socketPath, 1);
  EmulatorOptions options;
  options.firstStateTimeout = 20ms;
  Connect(options);
  EXPECT_EQ(link->FindDevice(), 0);

  // The state comes late, after the program registered: an ordinary arrival.
  const int connection = ::accept(listener, nullptr, nullptr);
  ASSERT_GE(connection, 0);
  const std::uint8_t attach[] = {'A', 0x2E, 0x4B, 0x30, 0x6E};
  ASSERT_EQ(::send(connection, attach, sizeof attach, 0), 5);
  EXPECT_EQ(AwaitNotices(*platform, 1), std::vector<std::uint32_t>{hid::kNoticeArrival});
  EXPECT_EQ(link->FindDevice(), 1);
  EXPECT_EQ(link->GetMatchedDeviceIds().ProductId, hid::kBootProductId);
  link.reset();
  platform.reset();
  ::close(connection);
  ::close(listener);
}

TEST_F(EmulatorLink, ADevicePresentAtTheStartIsFoundWithoutANotice) {
  Start(hid::kBootProductId);
  ASSERT_EQ(link->FindDevice(), 1);
  EXPECT_EQ(link->DevicePath(), "emulator:" + socketPath);
  EXPECT_EQ(link->GetMatchedDeviceIds(),
            (hid::MatchedDeviceIds{hid::kVendorId, hid::kBootProductId}));
  // It was there before the program listened for notices: no arrival for it.
  EXPECT_TRUE(platform->TakeNotices().empty());
  ASSERT_EQ(link->OpenDevice(), 1);

  // A write with an explicit report ID: the ID and exactly its n bytes. (The other widths,
  // and reports both ways, cross in every flash through the emulator.)
  const hid::Frame out = Pattern(0x00, 0x10);
  ASSERT_EQ(link->WriteReportWithId(out.data() + 1, 0x07, 5), 1);
  EXPECT_EQ(device->WaitForReceived(1), (std::vector<Bytes>{{0x07, 0x11, 0x12, 0x13, 0x14, 0x15}}));
}

TEST_F(EmulatorLink, RemovalOrAClosedSocketFailsAWaitingReadAtOnceAndDropsQueuedReports) {
  Start(hid::kBootProductId);
  FindAndOpen();
  const auto goneWhileReading = [&](const std::function<void()>& remove) {
    link->SetTimeout(60000);
    auto read = std::async(std::launch::async, [this] {
      std::uint8_t report[64];
      return link->ReadReport(report, 64);
    });
    remove();
    // Far inside the read's own time-out: the removal ended it, not the clock.
    ASSERT_EQ(read.wait_for(kBound), std::future_status::ready);
    EXPECT_EQ(read.get(), hid::kReadDeviceGone);
    EXPECT_EQ(AwaitNotices(*platform, 1), std::vector<std::uint32_t>{hid::kNoticeRemoveComplete});
    EXPECT_EQ(link->FindDevice(), 0);
  };
  goneWhileReading([&] { server->Detach(); });
  const std::uint8_t data[4] = {1, 2, 3, 4};
  EXPECT_EQ(link->WriteReport(data, 4), 0);

  // A report queued before a removal is gone with the device.
  server->Attach(hid::kVendorId, hid::kBootProductId);
  EXPECT_EQ(AwaitNotices(*platform, 1), std::vector<std::uint32_t>{hid::kNoticeArrival});
  FindAndOpen();
  ASSERT_TRUE(server->SendInputReport(Pattern(0, 1)));
  server->Detach();
  server->Attach(hid::kVendorId, hid::kBootProductId);
  EXPECT_EQ(AwaitNotices(*platform, 2),
            (std::vector<std::uint32_t>{hid::kNoticeRemoveComplete, hid::kNoticeArrival}));
  FindAndOpen();
  link->SetTimeout(10);
  std::uint8_t report[64];
  EXPECT_EQ(link->ReadReport(report, 64), hid::kReadTimeout);

  // The emulator closing the socket counts as removal; it then serves the next program.
  goneWhileReading([&] { server->CloseConnection(); });
  EXPECT_EQ(link->OpenDevice(), 0);
  EXPECT_EQ(link->LastOpenError()->kind, base::ErrorKind::kDisconnected);
  Connect();
  EXPECT_EQ(link->FindDevice(), 1);
  EXPECT_EQ(server->GetCounters().connections, 2u);
}

TEST_F(EmulatorLink, AnAttachWhileAttachedReplacesTheDevice) {
  Start(hid::kAppProductId);
  FindAndOpen();
  server->Attach(hid::kVendorId, hid::kBootProductId);
  EXPECT_EQ(AwaitNotices(*platform, 2),
            (std::vector<std::uint32_t>{hid::kNoticeRemoveComplete, hid::kNoticeArrival}));
  std::uint8_t report[64];
  EXPECT_EQ(link->ReadReport(report, 64), hid::kReadDeviceGone);
  EXPECT_EQ(link->WriteReport(report, 64), 0);
  FindAndOpen();
  EXPECT_EQ(link->GetMatchedDeviceIds().ProductId, hid::kBootProductId);
  EXPECT_EQ(link->WriteReport(report, 64), 1);
}

TEST_F(EmulatorLink, TheInputQueueKeepsTheNewestSixtyFour) {
  Start(hid::kBootProductId);
  FindAndOpen();
  const auto before = platform->GetCounters().datagrams;
  for (std::uint8_t i = 0; i < 70; ++i) {
    hid::Frame frame{};
    frame[1] = i;
    ASSERT_TRUE(server->SendInputReport(frame));
  }
  const auto deadline = std::chrono::steady_clock::now() + kBound;
  while (platform->GetCounters().datagrams < before + 70 &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(1ms);  // a polling interval, not a wait for the event
  }
  EXPECT_EQ(platform->GetCounters().droppedReports, 6u);
  std::uint8_t report[64];
  for (std::uint8_t expected = 6; expected < 70; ++expected) {
    ASSERT_EQ(link->ReadReport(report, 64), hid::kReadOk);
    ASSERT_EQ(report[0], expected);
  }
  link->SetTimeout(10);
  EXPECT_EQ(link->ReadReport(report, 64), hid::kReadTimeout);
}

TEST_F(EmulatorLink, MalformedDatagramsAreIgnoredAndCounted) {
  Start(hid::kBootProductId);
  FindAndOpen();
  const std::vector<Bytes> junk = {
      {}, {'A', 0x2E}, {'D', 0}, {'X'}, {'O', 0x00}, Bytes(65, 'I'), Bytes(300, 'I'),
  };
  for (const Bytes& datagram : junk) {
    ASSERT_TRUE(server->SendRaw(datagram));
  }
  const hid::Frame frame = Pattern(0, 7);
  ASSERT_TRUE(server->SendInputReport(frame));
  std::uint8_t report[64];
  ASSERT_EQ(link->ReadReport(report, 64), hid::kReadOk);
  EXPECT_EQ(report[0], frame[1]);
  EXPECT_EQ(platform->GetCounters().ignored, junk.size());
  EXPECT_EQ(link->FindDevice(), 1);
}

}  // namespace
