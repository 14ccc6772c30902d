// What one controller's road shows and asks on a terminal, beyond the six user-interface
// operations the road calls: the command line's own lines, the run's phases and confirmed
// blocks. `flash` shows one road on the terminal (CTerminalUi); `flash --all` shows each
// controller's road as one line of a board and asks the version question once for all of
// them (CBoardRoadUi). The version question is ShowMessageBox with OK and Cancel.
//
// Threads: as update::IUserInterface. Line, Finish, OnControllerFound and the question
// come from the road's own thread; OnRunProgress from its run's worker.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "cli/Session.h"
#include "firmware/ImageFile.h"
#include "hid/HidPlatform.h"
#include "update/RunOutcome.h"
#include "update/UserInterface.h"

namespace cli {

class IRoadUi : public update::IUserInterface {
 public:
  // One whole line for people.
  virtual void Line(const std::string& text) = 0;
  // A line that tells how the road ended, for the results rather than the progress.
  virtual void Result(const std::string& text) { Line(text); }
  // Ends a bar left open by a run that stopped, so that what follows starts a line.
  virtual void Finish() = 0;
  // The run's steps and confirmed blocks.
  virtual void OnRunProgress(const update::RunOutcome& now) = 0;

  // The controller as identification found it, before the version question: its type,
  // and its firmware version word when it was found in application mode.
  virtual void OnControllerFound(std::uint16_t /*type*/,
                                 std::optional<std::uint32_t> /*versionWord*/) {}
};

// What `flash` was told on its command line besides the image.
struct FlashFlags {
  bool yes = false;             // answers the version question
  bool allowOlder = false;      // with --yes: an image older than the controller's firmware
  bool allowReinstall = false;  // with --yes: the version the controller has already
};

// The image's part of flash's JSON document.
Json ImageJson(const std::string& imagePath, const firmware::ImageInfo& image);

// One controller's road as `flash` takes it (identification, the question, the switch
// to boot mode, the run, the return), shown and asked through ui; `flash --all` takes
// one for each controller on a thread of its own. The platform shows this controller
// alone; the image has been read and found whole. Defined in FlashRoad.cpp.
CommandResult RunFlashRoad(CSession& session, std::shared_ptr<hid::IHidPlatform> platform,
                           const std::string& path, const std::string& imagePath,
                           const firmware::ImageInfo& image, IRoadUi& ui, const FlashFlags& flags);

}  // namespace cli
