// The emulator link end to end: an emulator server with a scripted device model on one
// side of a real socket, CHid and the device commands over CEmulatorPlatform on the other.
#include <gtest/gtest.h>
#include <poll.h>
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
#include "protocol/DeviceCommands.h"
#include "tests/support/TempDir.h"

namespace {

using namespace hid::emulator;
using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

constexpr auto kBound = 5s;  // for events that take milliseconds; only reached on failure

// Records what the program wrote and answers through a script.
class CScriptedDevice final : public IEmulatedDevice {
 public:
  using Responder = std::function<void(const Bytes& report, IDevicePort& port)>;

  explicit CScriptedDevice(Responder responder = {}) : m_Responder(std::move(responder)) {}

  void BindPort(IDevicePort* port) override {
    std::lock_guard lock(m_Mutex);
    m_Port = port;
  }
  void OnOutputReport(std::span<const std::uint8_t> report) override {
    const Bytes bytes(report.begin(), report.end());
    IDevicePort* port = nullptr;
    {
      std::lock_guard lock(m_Mutex);
      m_Received.push_back(bytes);
      port = m_Port;
    }
    m_Changed.notify_all();
    if (m_Responder && port != nullptr) {
      m_Responder(bytes, *port);
    }
  }
  std::vector<Bytes> WaitForReceived(std::size_t count) {
    std::unique_lock lock(m_Mutex);
    m_Changed.wait_for(lock, kBound, [&] { return m_Received.size() >= count; });
    return m_Received;
  }

 private:
  const Responder m_Responder;
  std::mutex m_Mutex;
  std::condition_variable m_Changed;
  IDevicePort* m_Port = nullptr;
  std::vector<Bytes> m_Received;
};

// Polls a condition that another thread makes true, up to the bound.
bool WaitUntil(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + kBound;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
    std::this_thread::sleep_for(1ms);  // a polling interval, not a wait for the event
  }
  return true;
}

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
  std::shared_ptr<CScriptedDevice> device;
  std::unique_ptr<CEmulatorServer> server;
  std::shared_ptr<CEmulatorPlatform> platform;
  std::unique_ptr<hid::CHid> link;

  void Start(std::optional<std::uint16_t> productId, CScriptedDevice::Responder responder = {}) {
    device = std::make_shared<CScriptedDevice>(std::move(responder));
    auto listening = CEmulatorServer::Listen(socketPath, device);
    ASSERT_TRUE(listening.ok()) << listening.error().message;
    server = std::move(listening.value());
    if (productId) {
      server->Attach(hid::kVendorId, *productId);
    }
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
  // Collects notices from the platform's descriptor until count have come.
  std::vector<std::uint32_t> WaitForNotices(std::size_t count) {
    std::vector<std::uint32_t> notices;
    const auto deadline = std::chrono::steady_clock::now() + kBound;
    while (notices.size() < count && std::chrono::steady_clock::now() < deadline) {
      pollfd fd{platform->NoticeFd(), POLLIN, 0};
      if (::poll(&fd, 1, 50) > 0) {
        const auto taken = platform->TakeNotices();
        notices.insert(notices.end(), taken.begin(), taken.end());
      }
    }
    return notices;
  }
  std::future<std::uint32_t> ReadInBackground() {
    return std::async(std::launch::async, [this] {
      std::uint8_t report[64];
      return link->ReadReport(report, 64);
    });
  }
};

int RawSocket() {
  return ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
}

bool RawBind(int fd, const std::string& path, int backlog) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  return ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
         (backlog < 0 || ::listen(fd, backlog) == 0);
}

TEST_F(EmulatorLink, ConnectFailsWithTheReasonAndThePath) {
  // Nothing at the path.
  auto missing = CEmulatorPlatform::Connect(socketPath);
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error().kind, base::ErrorKind::kNotFound);
  EXPECT_NE(missing.error().message.find(socketPath), std::string::npos);
  EXPECT_NE(missing.error().message.find("No such file or directory"), std::string::npos);

  // A socket file nobody listens on, as a crashed emulator leaves it.
  const int stale = RawSocket();
  ASSERT_TRUE(RawBind(stale, socketPath, -1));
  ::close(stale);
  auto refused = CEmulatorPlatform::Connect(socketPath);
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error().kind, base::ErrorKind::kNotFound);
  EXPECT_NE(refused.error().message.find("Connection refused"), std::string::npos);
  ::unlink(socketPath.c_str());

  // A listener that never accepts and whose backlog is full: the connect is bounded.
  const int busy = RawSocket();
  const int first = RawSocket();
  ASSERT_TRUE(RawBind(busy, socketPath, 0));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(::connect(first, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  EmulatorOptions quick;
  quick.connectTimeout = 20ms;
  auto timedOut = CEmulatorPlatform::Connect(socketPath, quick);
  ASSERT_FALSE(timedOut.ok());
  EXPECT_EQ(timedOut.error().kind, base::ErrorKind::kTimedOut);
  EXPECT_NE(timedOut.error().message.find(socketPath), std::string::npos);
  ::close(first);
  ::close(busy);

  auto tooLong = CEmulatorPlatform::Connect("/tmp/" + std::string(200, 'x'));
  ASSERT_FALSE(tooLong.ok());
  EXPECT_NE(tooLong.error().message.find("at most 107"), std::string::npos);
}

TEST_F(EmulatorLink, ADevicePresentAtTheStartIsFoundByTheFirstScan) {
  Start(hid::kAppProductId);
  ASSERT_EQ(link->FindDevice(), 1);
  EXPECT_EQ(link->DevicePath(), "emulator:" + socketPath);
  EXPECT_EQ(link->GetMatchedDeviceIds(),
            (hid::MatchedDeviceIds{hid::kVendorId, hid::kAppProductId}));
  // It was there before the program listened for notices: no arrival for it.
  EXPECT_TRUE(platform->TakeNotices().empty());
}

TEST_F(EmulatorLink, AnEmulatorSlowToTellItsStateDelaysTheStartOnlyForTheBound) {
  const int listener = RawSocket();
  ASSERT_TRUE(RawBind(listener, socketPath, 1));
  EmulatorOptions options;
  options.firstStateTimeout = 20ms;
  Connect(options);
  EXPECT_EQ(link->FindDevice(), 0);

  // The state comes late, after the program registered: an ordinary arrival.
  const int connection = ::accept(listener, nullptr, nullptr);
  ASSERT_GE(connection, 0);
  const std::uint8_t attach[] = {'A', 0x2E, 0x4B, 0x30, 0x6E};
  ASSERT_EQ(::send(connection, attach, sizeof attach, 0), 5);
  EXPECT_EQ(WaitForNotices(1), std::vector<std::uint32_t>{hid::kNoticeArrival});
  EXPECT_EQ(link->FindDevice(), 1);
  EXPECT_EQ(link->GetMatchedDeviceIds().ProductId, hid::kBootProductId);
  link.reset();
  platform.reset();
  ::close(connection);
  ::close(listener);
}

TEST_F(EmulatorLink, ReportsCrossTheSocketByteForByte) {
  Start(hid::kBootProductId);
  FindAndOpen();
  Bytes app(64), boot(64), withId(5);
  for (std::size_t i = 0; i < 64; ++i) {
    app[i] = static_cast<std::uint8_t>(0x10 + i);
    boot[i] = static_cast<std::uint8_t>(0xA0 + i);
  }
  withId = {1, 2, 3, 4, 5};
  ASSERT_EQ(link->WriteAppReport(app.data(), 64), 1);
  ASSERT_EQ(link->WriteReport(boot.data(), 17), 1);
  ASSERT_EQ(link->WriteReportWithId(withId.data(), 0x07, 5), 1);

  const auto received = device->WaitForReceived(3);
  ASSERT_EQ(received.size(), 3u);
  // 0x81 and the first 63 bytes of the application-mode write.
  Bytes expectedApp{0x81};
  expectedApp.insert(expectedApp.end(), app.begin(), app.begin() + 63);
  EXPECT_EQ(received[0], expectedApp);
  // 0x00, 17 bytes, then what the application-mode write left in the transmit buffer.
  Bytes expectedBoot{0x00};
  expectedBoot.insert(expectedBoot.end(), boot.begin(), boot.begin() + 17);
  expectedBoot.insert(expectedBoot.end(), app.begin() + 17, app.end());
  EXPECT_EQ(received[1], expectedBoot);
  EXPECT_EQ(received[2], (Bytes{0x07, 1, 2, 3, 4, 5}));

  const hid::Frame first = Pattern(0x02, 0x40);
  const hid::Frame second = Pattern(0x00, 0x90);
  ASSERT_TRUE(server->SendInputReport(first));
  ASSERT_TRUE(server->SendInputReport(second));
  std::uint8_t report[64];
  ASSERT_EQ(link->ReadAppReport(report, 64), hid::kReadOk);
  EXPECT_EQ(Bytes(report, report + 64), Bytes(first.begin(), first.begin() + 64));
  ASSERT_EQ(link->ReadReport(report, 64), hid::kReadOk);
  EXPECT_EQ(Bytes(report, report + 64), Bytes(second.begin() + 1, second.end()));
}

// A device model that knows just enough of the controller: it answers the information
// query in application mode, restarts into boot mode on 0x000C, answers the type query,
// echoes blocks, and leaves the bus when asked to erase.
void AnswerLikeTheController(const Bytes& report, IDevicePort& port) {
  const std::uint16_t code = static_cast<std::uint16_t>(report[2] | (report[3] << 8));
  hid::Frame reply{};
  if (report[0] == 0x81 && report[1] == 4) {
    if (code == 0x000C) {
      port.Detach();
      port.Attach(hid::kVendorId, hid::kBootProductId);
      return;
    }
    reply = {0x02, 0x04, 0x04, 0x00, report[2], report[3]};
    const std::uint8_t info[] = {0x0A, 0x60, 0x00, 0x00, 0x15, 0x02};
    std::copy(std::begin(info), std::end(info), reply.begin() + 18);
  } else if (report[0] == 0x00 && report[1] == 5) {
    if (code == 0x0004) {
      port.Detach();
      return;
    }
    reply = {0x00, 0x00, 0x05, 0x00, 0x00, report[2], report[3]};
    reply[19] = 0x0A;
    reply[20] = 0x60;
  }
  port.SendInputReport(reply);
}

TEST_F(EmulatorLink, DeviceCommandsRunThroughTheEmulator) {
  Start(hid::kAppProductId, AnswerLikeTheController);
  FindAndOpen();
  protocol::CDeviceCommands commands(*link);

  std::uint8_t info[8] = {};
  ASSERT_EQ(commands.QueryAppInfo(info, 8), 1);
  EXPECT_EQ(Bytes(info, info + 6), (Bytes{0x0A, 0x60, 0x00, 0x00, 0x15, 0x02}));

  // Into boot mode: the device leaves and comes back with the boot product ID. The
  // handles of the application-mode device stay dead until the program opens again.
  ASSERT_NE(commands.EnterBootMode(), 0);
  EXPECT_EQ(WaitForNotices(2),
            (std::vector<std::uint32_t>{hid::kNoticeRemoveComplete, hid::kNoticeArrival}));
  std::uint8_t type[2] = {};
  EXPECT_EQ(commands.QueryBootType(type, 2), 0);
  EXPECT_EQ(commands.LastFailure(), protocol::CommandFailure::kDeviceGone);
  const std::size_t sentBefore = device->WaitForReceived(0).size();
  ASSERT_EQ(link->FindDevice(), 1);
  EXPECT_EQ(link->GetMatchedDeviceIds().ProductId, hid::kBootProductId);
  ASSERT_EQ(link->OpenDevice(), 1);
  ASSERT_EQ(commands.QueryBootType(type, 2), 1);
  EXPECT_EQ(Bytes(type, type + 2), (Bytes{0x0A, 0x60}));
  EXPECT_EQ(device->WaitForReceived(sentBefore + 1).size(), sentBefore + 1);  // no resend

  const Bytes block(46, 0x5A);
  ASSERT_EQ(commands.WriteBlock(block.data(), 0, 46, 4600, 1), 1);
  EXPECT_EQ(device->WaitForReceived(sentBefore + 2).back().size(), 65u);

  // The erase wait ends when the device goes away, not at its bound of silence.
  EXPECT_EQ(commands.EraseRegion(0, 4600), 0);
  EXPECT_EQ(commands.LastFailure(), protocol::CommandFailure::kDeviceGone);
}

TEST_F(EmulatorLink, RemovalFailsAWaitingReadAtOnceAndDropsQueuedReports) {
  Start(hid::kBootProductId);
  FindAndOpen();
  link->SetTimeout(60000);
  auto read = ReadInBackground();
  server->Detach();
  // Far inside the read's own time-out: the removal ended it, not the clock.
  ASSERT_EQ(read.wait_for(kBound), std::future_status::ready);
  EXPECT_EQ(read.get(), hid::kReadDeviceGone);
  EXPECT_EQ(WaitForNotices(1), std::vector<std::uint32_t>{hid::kNoticeRemoveComplete});
  EXPECT_EQ(link->FindDevice(), 0);
  const std::uint8_t data[4] = {1, 2, 3, 4};
  EXPECT_EQ(link->WriteReport(data, 4), 0);

  // A report queued before a removal is gone with the device.
  server->Attach(hid::kVendorId, hid::kBootProductId);
  EXPECT_EQ(WaitForNotices(1), std::vector<std::uint32_t>{hid::kNoticeArrival});
  FindAndOpen();
  const auto before = platform->GetCounters().datagrams;
  ASSERT_TRUE(server->SendInputReport(Pattern(0, 1)));
  server->Detach();
  server->Attach(hid::kVendorId, hid::kBootProductId);
  ASSERT_TRUE(WaitUntil([&] { return platform->GetCounters().datagrams == before + 3; }));
  FindAndOpen();
  link->SetTimeout(10);
  std::uint8_t report[64];
  EXPECT_EQ(link->ReadReport(report, 64), hid::kReadTimeout);
}

TEST_F(EmulatorLink, AnAttachWhileAttachedReplacesTheDevice) {
  Start(hid::kAppProductId);
  FindAndOpen();
  server->Attach(hid::kVendorId, hid::kBootProductId);
  EXPECT_EQ(WaitForNotices(2),
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
  ASSERT_TRUE(WaitUntil([&] { return platform->GetCounters().datagrams == before + 70; }));
  EXPECT_EQ(platform->GetCounters().droppedReports, 6u);
  std::uint8_t report[64];
  for (std::uint8_t expected = 6; expected < 70; ++expected) {
    ASSERT_EQ(link->ReadReport(report, 64), hid::kReadOk);
    ASSERT_EQ(report[0], expected);
  }
  link->SetTimeout(10);
  EXPECT_EQ(link->ReadReport(report, 64), hid::kReadTimeout);
}

TEST_F(EmulatorLink, TheEmulatorClosingTheSocketCountsAsRemoval) {
  Start(hid::kBootProductId);
  FindAndOpen();
  link->SetTimeout(60000);
  auto read = ReadInBackground();
  server->CloseConnection();
  ASSERT_EQ(read.wait_for(kBound), std::future_status::ready);
  EXPECT_EQ(read.get(), hid::kReadDeviceGone);
  EXPECT_EQ(WaitForNotices(1), std::vector<std::uint32_t>{hid::kNoticeRemoveComplete});
  EXPECT_EQ(link->FindDevice(), 0);
  EXPECT_EQ(link->OpenDevice(), 0);
  EXPECT_EQ(link->LastOpenError()->kind, base::ErrorKind::kDisconnected);

  // The emulator serves the next program that connects.
  Connect();
  EXPECT_EQ(link->FindDevice(), 1);
  EXPECT_EQ(server->GetCounters().connections, 2u);
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
