// What the configuration manager shows of the controller's maker (hid/Survey.h), for the
// diagnosis of a controller that cannot be used: the USB devices with its vendor ID, the
// problem code the system holds for each and for the nodes below it (a driver that failed
// to start, one that is missing or disabled), whether a HID collection hangs below it, and
// the HID interfaces with the vendor ID on USB or Bluetooth; the controller's own
// interfaces are opened and closed again to learn whether another program holds them.
#pragma once

#include "hid/Survey.h"
#include "hid/windows/Win32Api.h"

namespace hid::windows {

SystemSurvey SurveyWindows(IWin32Api& api);

}  // namespace hid::windows
