// `flash IMAGE [--yes]`: the road a user takes through the window, driven from the
// terminal. The controller object does everything the device sees: identification at
// start, the boot-mode command (the update button), the notices as the device leaves
// and comes back, and the flashing run it starts in boot mode. This command only
// feeds it notices, answers its questions, shows its progress, and says how it ended.
#pragma once

#include <memory>
#include <string>

#include "cli/Command.h"
#include "cli/RoadUi.h"
#include "firmware/ImageFile.h"
#include "hid/HidPlatform.h"

namespace cli {

class CFlashCommand final : public ICommand {
 public:
  CLI::App* Register(CLI::App& parent) override;
  CommandResult Run(CSession& session) override;

 private:
  std::string m_ImagePath;
  bool m_Yes = false;
  bool m_All = false;
};

// One controller's road as `flash` takes it (identification, the question, the switch
// to boot mode, the run, the return), shown and asked through ui; `flash --all` takes
// one for each controller on a thread of its own. The platform shows this controller
// alone; the image has been read and found whole.
CommandResult RunFlashRoad(CSession& session, std::shared_ptr<hid::IHidPlatform> platform,
                           const std::string& path, const std::string& imagePath,
                           const firmware::ImageInfo& image, IRoadUi& ui);

}  // namespace cli
