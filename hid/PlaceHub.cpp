#include "hid/PlaceHub.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <set>

#include "hid/ForwardingPlatform.h"
#include "hid/Hid.h"
#include "hid/NoticeQueue.h"

namespace hid {
namespace {

bool IsDigit(char c) {
  return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

}  // namespace

bool PlaceBefore(const std::string& a, const std::string& b) {
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() && j < b.size()) {
    if (IsDigit(a[i]) && IsDigit(b[j])) {
      // Compare the two numbers by value: without their leading zeros, the longer is
      // the larger, and of two as long the first differing digit decides.
      const auto end = [](const std::string& s, std::size_t k) {
        while (k < s.size() && IsDigit(s[k])) {
          ++k;
        }
        return k;
      };
      const auto skipZeros = [](const std::string& s, std::size_t k, std::size_t stop) {
        while (k + 1 < stop && s[k] == '0') {
          ++k;
        }
        return k;
      };
      const std::size_t endA = end(a, i);
      const std::size_t endB = end(b, j);
      const std::size_t startA = skipZeros(a, i, endA);
      const std::size_t startB = skipZeros(b, j, endB);
      if (endA - startA != endB - startB) {
        return endA - startA < endB - startB;
      }
      const int order = a.compare(startA, endA - startA, b, startB, endB - startB);
      if (order != 0) {
        return order < 0;
      }
      i = endA;
      j = endB;
      continue;
    }
    if (a[i] != b[j]) {
      return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
    }
    ++i;
    ++j;
  }
  return a.size() - i < b.size() - j;
}

std::vector<InterfaceInfo> ControllersByPlace(IHidPlatform& platform) {
  std::vector<InterfaceInfo> controllers;
  std::set<std::string> places;
  for (InterfaceInfo& info : ListControllers(platform)) {
    // A controller with several HID interfaces shows each at its one place.
    if (info.location.empty() || places.insert(info.location).second) {
      controllers.push_back(std::move(info));
    }
  }
  std::stable_sort(controllers.begin(), controllers.end(),
                   [](const InterfaceInfo& a, const InterfaceInfo& b) {
                     return PlaceBefore(a.location, b.location);
                   });
  return controllers;
}

class CPlaceHub::CPlacePlatform final : public CForwardingPlatform {
 public:
  CPlacePlatform(std::shared_ptr<IHidPlatform> system, std::string place)
      : CForwardingPlatform(std::move(system)), m_Place(std::move(place)) {}

  void Tell(std::uint32_t code) {
    if (m_Registered.load()) {
      m_Notices.Push(code);
    }
  }

  std::vector<InterfaceInfo> EnumerateInterfaces() override {
    std::vector<InterfaceInfo> interfaces = Inner().EnumerateInterfaces();
    std::erase_if(interfaces,
                  [this](const InterfaceInfo& info) { return info.location != m_Place; });
    return interfaces;
  }

  // Open is not checked against the place: the link opens only paths its search found
  // here, and a path alone no longer tells where its device was once it has gone.

  // Notices come from the hub, for this place alone; the system's own go to the hub.
  bool RegisterForDeviceNotices(NativeWindow /*notifyWindow*/) override {
    m_Registered.store(true);
    return true;
  }
  void UnregisterDeviceNotices() override { m_Registered.store(false); }
  int NoticeFd() const override { return m_Notices.Fd(); }
  void* NoticeEvent() const override { return m_Notices.Event(); }
  std::vector<std::uint32_t> TakeNotices() override { return m_Notices.Take(); }

 private:
  const std::string m_Place;
  std::atomic<bool> m_Registered{false};
  CNoticeQueue m_Notices;
};

CPlaceHub::CPlaceHub(std::shared_ptr<IHidPlatform> system) : m_System(std::move(system)) {}

CPlaceHub::~CPlaceHub() {
  if (m_Registered) {
    m_System->UnregisterDeviceNotices();
  }
}

bool CPlaceHub::Start() {
  // Listening first, then looking: a change in between is heard, not lost.
  m_Registered = m_System->RegisterForDeviceNotices(0);
  m_Present = m_System->EnumerateInterfaces();
  return m_Registered;
}

std::shared_ptr<IHidPlatform> CPlaceHub::PlatformAt(const std::string& place) {
  auto& platform = m_Places[place];
  if (!platform) {
    platform = std::make_shared<CPlacePlatform>(m_System, place);
  }
  return platform;
}

CPlaceHub::Occupant CPlaceHub::OccupantAt(const std::vector<InterfaceInfo>& present,
                                          const std::string& place) const {
  for (const InterfaceInfo& info : present) {
    if (info.location == place && IsController(info)) {
      return std::pair(info.path, info.productId);
    }
  }
  return std::nullopt;
}

void CPlaceHub::Pump() {
  const std::vector<std::uint32_t> codes = m_System->TakeNotices();
  if (codes.empty()) {
    return;
  }
  const bool treeChanged =
      std::find(codes.begin(), codes.end(), kNoticeDevNodesChanged) != codes.end();
  std::vector<InterfaceInfo> present = m_System->EnumerateInterfaces();
  for (const auto& [place, platform] : m_Places) {
    const Occupant before = OccupantAt(m_Present, place);
    const Occupant now = OccupantAt(present, place);
    if (before != now) {
      // A controller that restarted between two looks left and came back: both told.
      if (before) {
        platform->Tell(kNoticeRemoveComplete);
      }
      if (now) {
        platform->Tell(kNoticeArrival);
      }
    }
    if (treeChanged) {
      platform->Tell(kNoticeDevNodesChanged);
    }
  }
  m_Present = std::move(present);
}

}  // namespace hid
