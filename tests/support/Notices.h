// A platform's notices as a front end's event loop takes them: waiting on its descriptor
// (POSIX), until `count` have come or the bound is reached.
#pragma once

#include <poll.h>

#include <chrono>
#include <cstdint>
#include <vector>

#include "hid/HidPlatform.h"

namespace testing_support {

inline std::vector<std::uint32_t> AwaitNotices(hid::IHidPlatform& platform, std::size_t count) {
  std::vector<std::uint32_t> notices;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (notices.size() < count && std::chrono::steady_clock::now() < deadline) {
    pollfd wait{platform.NoticeFd(), POLLIN, 0};
    ::poll(&wait, 1, 50);
    const auto taken = platform.TakeNotices();
    notices.insert(notices.end(), taken.begin(), taken.end());
  }
  return notices;
}

}  // namespace testing_support
