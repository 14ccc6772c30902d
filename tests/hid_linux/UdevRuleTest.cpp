// The shipped udev rule must give access to the controller in both of its modes and to
// nothing else.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "hid/HidTypes.h"

namespace {

TEST(UdevRule, TagsExactlyTheControllersHidrawNodesForTheSeatUser) {
  std::ifstream file(UPDATE_UDEV_RULE_FILE);
  ASSERT_TRUE(file.good()) << UPDATE_UDEV_RULE_FILE;
  std::vector<std::string> rules;
  for (std::string line; std::getline(file, line);) {
    if (!line.empty() && line[0] != '#') {
      rules.push_back(line);
    }
  }
  ASSERT_EQ(rules.size(), 1u);
  std::ostringstream expected;
  expected << std::hex << "SUBSYSTEM==\"hidraw\", ATTRS{idVendor}==\"" << hid::kVendorId
           << "\", ATTRS{idProduct}==\"" << hid::kAppProductId << "|" << hid::kBootProductId
           << "\", TAG+=\"uaccess\"";
  EXPECT_EQ(rules[0], expected.str());
}

}  // namespace
