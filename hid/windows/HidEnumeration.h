// The HID interfaces present now, found with the device setup services.
#pragma once

#include <vector>

#include "hid/HidTypes.h"
#include "hid/windows/Win32Api.h"

namespace hid::windows {

// How often the path of one interface is asked for (each time with the size asked
// anew and a new buffer) before the interface is skipped.
inline constexpr int kPathAttempts = 3;

// Walks a snapshot of the present HID interfaces (SetupDiGetClassDevsW with
// DIGCF_PRESENT | DIGCF_DEVICEINTERFACE) by index until the first index with no entry.
// Each interface is opened for reading and writing, shared, overlapped, to read its USB
// IDs (HidD_GetAttributes), and closed again. Interfaces whose path cannot be read,
// that cannot be opened (keyboards and mice, which the system keeps for itself), or
// whose IDs cannot be read are left out. The snapshot is released before returning.
std::vector<InterfaceInfo> EnumerateHidInterfaces(IWin32Api& api);

}  // namespace hid::windows
