// The HID interfaces present now, found with the device setup services.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "hid/HidTypes.h"
#include "hid/windows/Win32Api.h"

namespace hid::windows {

// How often the path of one interface is asked for (each time with the size asked
// anew and a new buffer) before the interface is skipped.
inline constexpr int kPathAttempts = 3;

// How far up the device tree the USB device of a HID interface is looked for: the HID
// collection, maybe a HID interface above it, one interface of a composite device, the
// device itself, with room to spare.
inline constexpr int kLocationDepth = 8;

// Where the device of a HID collection (its device node) is plugged in, the same in both
// of its modes although its IDs and paths change: the first location path of its USB
// device (CM_DRP_LOCATION_PATHS, "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)#USB(3)"), which
// names the port; where the system keeps none, the instance id of the hub it hangs on and
// its port number there (CM_DRP_ADDRESS). Empty for a device not on USB (Bluetooth,
// virtual), or when neither can be read: two controllers must never share a place.
std::string LocationOf(IWin32Api& api, DEVINST hidNode);

// A device node's instance id ("USB\VID_4B2E&PID_6E21\5&2A3B4C&0&3"); empty when unknown.
std::wstring DeviceId(IWin32Api& api, DEVINST node);

// A USB device as a whole: "USB\VID_4B2E&PID_6E21\...", but not one interface of a
// composite device ("USB\VID_4B2E&PID_6E21&MI_00\..."), whose parent the device is.
bool IsUsbDevice(std::wstring id);

// A string property of a node's registry entry (CM_DRP_...), the first of a list; empty
// when it has none.
std::wstring StringProperty(IWin32Api& api, DEVINST node, ULONG property);

// Calls visit with the path and the device node of each present HID interface (a snapshot
// as below); interfaces whose path cannot be read are left out.
void ForEachHidInterface(IWin32Api& api,
                         const std::function<void(const std::wstring& path, DEVINST node)>& visit);

// Walks a snapshot of the present HID interfaces (SetupDiGetClassDevsW with
// DIGCF_PRESENT | DIGCF_DEVICEINTERFACE) by index until the first index with no entry.
// Each interface is opened for reading and writing, shared, overlapped, to read its USB
// IDs (HidD_GetAttributes), and closed again. Interfaces whose path cannot be read,
// that cannot be opened (keyboards and mice, which the system keeps for itself), or
// whose IDs cannot be read are left out. Each interface gets its place (LocationOf). The
// snapshot is released before returning.
std::vector<InterfaceInfo> EnumerateHidInterfaces(IWin32Api& api);

}  // namespace hid::windows
