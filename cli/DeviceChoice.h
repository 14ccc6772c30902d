// Which controller a command works on when several may be present. The choice is made
// once, by ChooseControllers; the chosen one is then reached through a platform that
// hides the other controllers' interfaces from everything above it, so that CHid's
// search (the first match wins) finds the chosen one, also after it has restarted into
// boot mode and back under a new path, as a hidraw node does. Notices pass through
// unchanged: the controller searches afresh on each one, and the search sees only what
// this platform lists.
#pragma once

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "cli/Session.h"
#include "hid/HidPlatform.h"

namespace cli {

class CDeviceFilterPlatform final : public hid::IHidPlatform {
 public:
  CDeviceFilterPlatform(std::shared_ptr<hid::IHidPlatform> inner, std::set<std::string> hidden);

  std::vector<hid::InterfaceInfo> EnumerateInterfaces() override;
  base::Result<std::unique_ptr<hid::IHidHandle>> Open(const std::string& path,
                                                      hid::Access access) override;
  bool RegisterForDeviceNotices(hid::NativeWindow notifyWindow) override;
  void UnregisterDeviceNotices() override;
  int NoticeFd() const override;
  void* NoticeEvent() const override;
  std::vector<std::uint32_t> TakeNotices() override;
  // What the system shows, the hidden controllers included.
  hid::SystemSurvey Survey() override { return m_Inner->Survey(); }

 private:
  const std::shared_ptr<hid::IHidPlatform> m_Inner;
  const std::set<std::string> m_Hidden;
};

enum class HowMany {
  kEvery,    // each one present, or the one --device names (devices)
  kOnlyOne,  // the only one present, or the one --device names; several is an error (flash)
};

struct ControllerChoice {
  std::vector<hid::InterfaceInfo> present;  // every controller the platform lists
  std::vector<hid::InterfaceInfo> chosen;   // those the command works on, in that order

  // The platform on which `path` is the only controller: the others hidden.
  std::shared_ptr<hid::IHidPlatform> Alone(std::shared_ptr<hid::IHidPlatform> platform,
                                           const std::string& path) const;
};

// The controllers present now, and those a command works on: with --device (`wanted`)
// the one at that path, else as howMany says. Fails with no-device when none is present
// or none is at `wanted` (naming those present), and with several-devices when
// kOnlyOne finds more than one and no --device.
std::variant<ControllerChoice, CommandResult> ChooseControllers(
    hid::IHidPlatform& platform, const std::optional<std::string>& wanted, HowMany howMany);

}  // namespace cli
