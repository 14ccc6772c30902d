// flash --all: every controller's road has a link of its own, and each link's search must
// find its own controller only, also once it has restarted into its other mode under a
// new path and product ID. What stays the same across the restart is the place it is
// plugged in (InterfaceInfo::location): each road gets a platform that lists only the
// interfaces at its place.
//
// Notices. The system has one source of notices (one udev monitor, one hidden window).
// The hub takes them on the owner's thread (Pump) and tells each place's platform of the
// changes at that place alone: an arrival when a controller appears there or shows up
// under another path or product ID, a removal when the one there is gone. Each road thus
// hears what it would hear with its controller alone on the bus, and a road whose
// controller waits idle is not asked again each time another one restarts. The system's
// device-tree notice (0x0007) says nothing about where, and reaches every place.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "hid/HidPlatform.h"

namespace hid {

// Orders places as people count ports: "1-2" before "1-10", "sim-port-2" before
// "sim-port-10". Runs of digits compare by their value, everything else byte by byte.
bool PlaceBefore(const std::string& a, const std::string& b);

// One controller per place (the first interface there, as CHid's search takes it), in
// the order of places. Interfaces without a place cannot be told apart from each other:
// each counts as a controller of its own.
std::vector<InterfaceInfo> ControllersByPlace(IHidPlatform& platform);

class CPlaceHub {
 public:
  explicit CPlaceHub(std::shared_ptr<IHidPlatform> system);
  ~CPlaceHub();
  CPlaceHub(const CPlaceHub&) = delete;
  CPlaceHub& operator=(const CPlaceHub&) = delete;

  // Listens to the system's notices from now on, then notes what each place holds. Call
  // once, before the first PlatformAt. False when the system delivers no notices.
  bool Start();

  // The platform on which only the interfaces at place are present. Its notices are
  // those of its place; it is safe to use from the road's thread.
  std::shared_ptr<IHidPlatform> PlatformAt(const std::string& place);

  IHidPlatform& System() { return *m_System; }

  // On the owner's thread, when the system's notices are pending: takes them, looks once
  // at what is plugged in where, and tells the places that changed.
  void Pump();

 private:
  class CPlacePlatform;
  using Occupant = std::optional<std::pair<std::string, std::uint16_t>>;  // path, product
  Occupant OccupantAt(const std::vector<InterfaceInfo>& present, const std::string& place) const;

  const std::shared_ptr<IHidPlatform> m_System;
  bool m_Registered = false;
  std::vector<InterfaceInfo> m_Present;  // at Start and at the last Pump
  std::map<std::string, std::shared_ptr<CPlacePlatform>> m_Places;
};

}  // namespace hid
