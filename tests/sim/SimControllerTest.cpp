#include <functional>

#include "protocol/CommandPacket.h"
#include "tests/sim/SimFixture.h"

namespace sim_test {
namespace {

TEST_F(SimFixture, ApplicationModeAnswersItsQueryAndRestartsIntoBootMode) {
  sim::SimConfig config;
  config.beta = 3;
  config.reenumerateDelay = 20ms;
  Start(config);
  EXPECT_EQ(link->GetMatchedDeviceIds().ProductId, hid::kAppProductId);

  std::uint8_t info[8] = {};
  ASSERT_EQ(commands->QueryAppInfo(info, 8), 1);
  EXPECT_EQ(Bytes(info, info + 8), Hex("0A 60 00 00 D6 00 03 00"));  // 0x600A, 2.14 beta 3
  ASSERT_EQ(commands->EnterBootMode(), 1);
  const auto received = device->Received();
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0].bytes, Hex("81 04 01 01 00 00 08 00 00 00 08 00 00 00 00 00 00 00", 64));
  EXPECT_EQ(received[1].bytes, Hex("81 04 0C 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00", 64));

  EXPECT_EQ(WaitForNotices(2),
            (std::vector<std::uint32_t>{hid::kNoticeRemoveComplete, hid::kNoticeArrival}));
  // Back in boot mode, yet the handles opened before the restart stay dead.
  std::uint8_t record[64] = {};
  EXPECT_EQ(link->ReadReport(record, 64), hid::kReadDeviceGone);
  EXPECT_EQ(commands->EnterBootMode(), 0);

  Reopen();
  EXPECT_EQ(link->GetMatchedDeviceIds().ProductId, hid::kBootProductId);
  std::uint8_t type[2] = {};
  ASSERT_EQ(commands->QueryBootType(type, 2), 1);
  EXPECT_EQ(Bytes(type, type + 2), Hex("0A 60"));
  EXPECT_EQ(device->Received().back().bytes,
            Hex("00 05 08 00 00 00 02 00 00 00 02 00 00 00 00 00 00 00", 65));
}

// What the device does with frames that break its rules: no reply at all. Each case
// starts from one well-formed frame and spoils one thing; the unspoiled frames show
// that the device answers them.
TEST_F(SimFixture, FramesThatBreakTheRulesGetNoReply) {
  sim::SimConfig config;
  config.startInBootMode = true;
  config.flashSize = 1024;
  Start(config);
  const Bytes region = Pattern(256);
  const auto block = [&](std::uint32_t offset, std::uint32_t length, std::uint32_t size) {
    Bytes frame{0x00};
    const auto packet = protocol::BuildCommandPacket(5, true,
                                                     {.code = 0x0003,
                                                      .length = length,
                                                      .size = size,
                                                      .offset = offset,
                                                      .data = region.data() + offset % 200});
    frame.insert(frame.end(), packet.begin(), packet.end());
    return frame;
  };
  const auto crcQuery = [&](std::uint32_t wordSum, std::uint32_t regionLength) {
    Bytes frame{0x00};
    const auto data = protocol::CrcQuery{0, 64, 0, wordSum, regionLength}.Serialize();
    const auto packet = protocol::BuildCommandPacket(
        5, false, {.code = 0x00C3, .length = 20, .size = 20, .data = data.data()});
    frame.insert(frame.end(), packet.begin(), packet.end());
    return frame;
  };
  const auto answered = [&](const Bytes& frame) {
    link->WriteReportWithId(frame.data() + 1, frame[0],
                            static_cast<std::uint8_t>(frame.size() - 1));
    std::uint8_t record[64] = {};
    return link->ReadReport(record, 64) == hid::kReadOk;
  };

  EXPECT_FALSE(answered(block(0, 46, 256))) << "a block before any erase";
  ASSERT_TRUE(EraseAndWrite(region));

  struct Case {
    const char* name;
    Bytes frame;
    bool answered;
  };
  const auto spoiled = [](Bytes frame, const std::function<void(Bytes&)>& spoil) {
    spoil(frame);
    return frame;
  };
  const Case cases[] = {
      {"a well-formed block", block(46, 46, 256), true},
      {"a block whose CRC is off", spoiled(block(46, 46, 256), [](Bytes& f) { f[8] ^= 1; }), false},
      {"a block past Size", block(250, 10, 256), false},
      {"a Size beyond the flash", block(1000, 46, 1100), false},
      {"an empty block", block(0, 0, 256), false},
      {"Length over 46", spoiled(block(0, 46, 256), [](Bytes& f) { f[6] = 47; }), false},
      {"an application report ID", spoiled(block(0, 46, 256), [](Bytes& f) { f[0] = 0x81; }),
       false},
      {"a 64-byte frame", spoiled(block(0, 46, 256), [](Bytes& f) { f.pop_back(); }), false},
      {"a well-formed CRC query", crcQuery(WordSum(region), 256), true},
      {"a wrong word sum", crcQuery(WordSum(region) + 1, 256), false},
      {"a wrong region length", crcQuery(WordSum(region), 260), false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(answered(c.frame), c.answered) << c.name;
  }
}

}  // namespace
}  // namespace sim_test
