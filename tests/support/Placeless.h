// A platform as a web page sees the controllers: no interface tells where it is plugged
// in, so a road can follow its controller only by its path and its mode.
#pragma once

#include <memory>
#include <vector>

#include "hid/ForwardingPlatform.h"

namespace testing_support {

class CPlaceless : public hid::CForwardingPlatform {
 public:
  using CForwardingPlatform::CForwardingPlatform;

  std::vector<hid::InterfaceInfo> EnumerateInterfaces() override {
    std::vector<hid::InterfaceInfo> interfaces = Inner().EnumerateInterfaces();
    for (hid::InterfaceInfo& info : interfaces) {
      info.location.clear();
    }
    return interfaces;
  }
};

}  // namespace testing_support
