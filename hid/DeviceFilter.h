// A platform on which some interfaces are not there: the command line's choice of one
// controller among several hides the others' paths from everything above it, so that
// CHid's search (the first match wins) finds the chosen one, also after it has
// restarted into boot mode and back under a new path, as a hidraw node does. Notices
// pass through unchanged: the link searches afresh on each one, and the search sees
// only what this platform lists.
#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "hid/ForwardingPlatform.h"

namespace hid {

class CDeviceFilterPlatform final : public CForwardingPlatform {
 public:
  CDeviceFilterPlatform(std::shared_ptr<IHidPlatform> inner, std::set<std::string> hidden);

  std::vector<InterfaceInfo> EnumerateInterfaces() override;
  base::Result<std::unique_ptr<IHidHandle>> Open(const std::string& path, Access access) override;

 private:
  const std::set<std::string> m_Hidden;
};

}  // namespace hid
