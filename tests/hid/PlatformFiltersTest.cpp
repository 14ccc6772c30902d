// The platforms that wrap another one: what each changes, and that everything else, the
// notices included, still reaches the platform below.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "hid/DeviceFilter.h"
#include "hid/PlaceHub.h"
#include "hid/TracePlatform.h"
#include "tests/support/FakeHidPlatform.h"

namespace {

// A scripted platform that also delivers notices, on a descriptor and on an event.
class CNoticingPlatform : public testing_support::CFakeHidPlatform {
 public:
  int NoticeFd() const override { return 42; }
  void* NoticeEvent() const override { return const_cast<int*>(&m_Event); }
  std::vector<std::uint32_t> TakeNotices() override { return {hid::kNoticeArrival}; }

 private:
  int m_Event = 0;
};

TEST(DeviceFilter, HidesItsPathsAndPassesEverythingElseOn) {
  auto inner = std::make_shared<CNoticingPlatform>();
  inner->interfaces = {{"/dev/hidraw1", hid::kVendorId, hid::kBootProductId},
                       {"/dev/hidraw2", hid::kVendorId, hid::kBootProductId}};
  hid::CDeviceFilterPlatform filter(inner, {"/dev/hidraw1"});

  const std::vector<hid::InterfaceInfo> listed = filter.EnumerateInterfaces();
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0].path, "/dev/hidraw2");
  const auto hidden = filter.Open("/dev/hidraw1", hid::Access::kWrite);
  ASSERT_FALSE(hidden);
  EXPECT_EQ(hidden.error().kind, base::ErrorKind::kNotFound);
  EXPECT_TRUE(filter.Open("/dev/hidraw2", hid::Access::kRead));
  EXPECT_EQ(inner->opened.size(), 1u);

  EXPECT_TRUE(filter.RegisterForDeviceNotices(0));
  filter.UnregisterDeviceNotices();
  EXPECT_EQ(inner->registerCalls, 1);
  EXPECT_EQ(inner->unregisterCalls, 1);
  EXPECT_EQ(filter.NoticeFd(), inner->NoticeFd());
  EXPECT_EQ(filter.NoticeEvent(), inner->NoticeEvent());
  EXPECT_EQ(filter.TakeNotices(), std::vector<std::uint32_t>{hid::kNoticeArrival});
}

TEST(Places, CountAsPeopleCountPorts) {
  const std::vector<std::string> ordered = {"",    "1-2",        "1-2.3",      "1-10",
                                            "2-1", "sim-port-2", "sim-port-10"};
  for (std::size_t i = 0; i < ordered.size(); ++i) {
    for (std::size_t j = 0; j < ordered.size(); ++j) {
      EXPECT_EQ(hid::PlaceBefore(ordered[i], ordered[j]), i < j) << ordered[i] << " " << ordered[j];
    }
  }
}

// The trace's path field, as the JSON library writes a string with bad bytes replaced.
TEST(Trace, WritesPathsAsJsonStrings) {
  const std::pair<std::string, std::string> cases[] = {
      {"sim:0", R"("sim:0")"},
      {R"(\\?\hid#vid_2f24&pid_00c1)", R"("\\\\?\\hid#vid_2f24&pid_00c1")"},
      {"a\"b/\t\n\x01\x7F", "\"a\\\"b/\\t\\n\\u0001\x7F\""},
      {"固件", "\"固件\""},
      {"bad\xFF.dat", "\"bad\xEF\xBF\xBD.dat\""},
      {"\xE0\x80x", "\"\xEF\xBF\xBD\xEF\xBF\xBDx\""},  // overlong: the lead, then the rest
      {"\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},  // a surrogate
      {"ok\xE5\x9B", "\"ok\xEF\xBF\xBD\""},  // cut short at the end: one replacement
  };
  for (const auto& [path, json] : cases) {
    EXPECT_EQ(hid::JsonString(path), json) << path;
  }
}

}  // namespace
