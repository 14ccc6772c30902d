// `flash IMAGE --all [--yes]`: every controller present updated at once, for a repair
// shop or a production line with a hub full of them.
//
// Each controller takes the road `flash` takes (RunFlashRoad) with an update control and
// a link of its own, on a thread of its own; its link sees only the interfaces at the
// controller's place, which stays the same while it restarts into boot mode and back
// (hid::CPlaceHub). The image was read and checked once; each road checks the controller's
// type against it, and one of another type is skipped with its reason. The version
// question is asked once for all, listing each controller's place, type and version; a
// failure ends only that controller's road. Ctrl-C stops every run at its next block
// boundary. At the end: a summary, the controllers left in boot mode, and the exit code
// of the first failure in the order of places (0 when every controller the image fits
// was updated).
#pragma once

#include <memory>
#include <string>

#include "cli/RoadUi.h"
#include "cli/Session.h"
#include "cli/TerminalUi.h"
#include "firmware/ImageFile.h"
#include "hid/HidPlatform.h"

namespace cli {

// Where both forms of flash ask and draw: questions and progress on stderr, results
// for people where the session puts them, answers from the session's input.
TerminalOptions TerminalFor(CSession& session, bool assumeYes);

CommandResult FlashAll(CSession& session, std::shared_ptr<hid::IHidPlatform> platform,
                       const std::string& imagePath, const firmware::ImageInfo& image,
                       const FlashFlags& flags);

}  // namespace cli
