#include "hid/linux/LinuxSurvey.h"

#include <dirent.h>
#include <fcntl.h>
#include <libudev.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <fstream>
#include <iterator>
#include <string_view>
#include <system_error>

#include "hid/linux/Udev.h"

namespace hid {
namespace {

using udev_support::UdevDevicePtr;

// The devices one enumeration finds, after setup added its matches.
template <typename Setup>
std::vector<UdevDevicePtr> Enumerate(udev* context, Setup&& setup) {
  std::vector<UdevDevicePtr> devices;
  udev_enumerate* enumerate = context == nullptr ? nullptr : udev_enumerate_new(context);
  if (enumerate == nullptr) {
    return devices;
  }
  setup(enumerate);
  udev_enumerate_scan_devices(enumerate);
  udev_list_entry* entry = nullptr;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate)) {
    UdevDevicePtr device(udev_device_new_from_syspath(context, udev_list_entry_get_name(entry)));
    if (device) {
      devices.push_back(std::move(device));
    }
  }
  udev_enumerate_unref(enumerate);
  return devices;
}

std::uint32_t HexAttribute(udev_device* device, const char* name) {
  const char* text = udev_device_get_sysattr_value(device, name);
  std::uint32_t value = 0;
  if (text != nullptr) {
    const std::string_view view(text);
    std::from_chars(view.data(), view.data() + view.size(), value, 16);
  }
  return value;
}

std::string Text(const char* text) {
  return text == nullptr ? std::string() : std::string(text);
}

// The hidraw node below a device (a USB interface, a hid device), if it has one.
std::string HidrawNodeBelow(udev* context, udev_device* parent) {
  const auto nodes = Enumerate(context, [&](udev_enumerate* e) {
    udev_enumerate_add_match_subsystem(e, "hidraw");
    udev_enumerate_add_match_parent(e, parent);
  });
  for (const auto& node : nodes) {
    if (const char* devnode = udev_device_get_devnode(node.get())) {
      return devnode;
    }
  }
  return {};
}

SurveyedUsbDevice DescribeUsbDevice(udev* context, udev_device* usb) {
  SurveyedUsbDevice device;
  device.place = Text(udev_device_get_sysname(usb));
  device.productId = static_cast<std::uint16_t>(HexAttribute(usb, "idProduct"));
  const auto functions = Enumerate(context, [&](udev_enumerate* e) {
    udev_enumerate_add_match_subsystem(e, "usb");
    udev_enumerate_add_match_property(e, "DEVTYPE", "usb_interface");
    udev_enumerate_add_match_parent(e, usb);
  });
  for (const auto& function : functions) {
    device.functions.push_back(SurveyedFunction{
        Text(udev_device_get_sysname(function.get())), Text(udev_device_get_driver(function.get())),
        static_cast<std::uint8_t>(HexAttribute(function.get(), "bInterfaceClass")), 0});
    device.hasHidInterface =
        device.hasHidInterface || !HidrawNodeBelow(context, function.get()).empty();
  }
  return device;
}

HidBus BusOf(std::uint16_t bus) {
  switch (bus) {
    case 0x03:
      return HidBus::kUsb;
    case 0x05:
      return HidBus::kBluetooth;
    default:
      return HidBus::kOther;
  }
}

// Opens the node for reading and writing, as the link will, and closes it at once.
void ProbeAccess(SurveyedInterface& entry, const LinuxSurveySettings& settings) {
  int fd = -1;
  do {
    fd = settings.openNode(entry.path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  } while (fd < 0 && errno == EINTR);
  if (fd >= 0) {
    ::close(fd);
    entry.access = NodeAccess::kOpenable;
    return;
  }
  const int error = errno;
  entry.access = error == EACCES || error == EPERM ? NodeAccess::kDenied
                 : error == ENOENT                 ? NodeAccess::kMissing
                                                   : NodeAccess::kFailed;
  entry.accessReason = std::system_category().message(error);
}

}  // namespace

std::vector<std::string> FindUdevRuleFiles(const std::vector<std::string>& directories) {
  std::vector<std::string> found;
  for (const std::string& directory : directories) {
    DIR* folder = ::opendir(directory.c_str());
    if (folder == nullptr) {
      continue;
    }
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(folder)) {
      const std::string_view name(entry->d_name);
      if (name.size() > 6 && name.ends_with(".rules")) {
        names.emplace_back(name);
      }
    }
    ::closedir(folder);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
      const std::string path = directory + "/" + name;
      std::ifstream file(path);
      std::string content((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
      std::transform(content.begin(), content.end(), content.begin(),
                     [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
      if (content.find("4b2e") != std::string::npos) {
        found.push_back(path);
      }
    }
  }
  return found;
}

SystemSurvey SurveyLinux(udev* context, const LinuxSurveySettings& settings) {
  SystemSurvey survey;
  survey.source = SurveySource::kLinux;
  survey.udevRunning = settings.udevRunning;
  char vendor[8];
  std::snprintf(vendor, sizeof vendor, "%04x", kVendorId);
  const auto usbDevices = Enumerate(context, [&](udev_enumerate* e) {
    udev_enumerate_add_match_subsystem(e, "usb");
    udev_enumerate_add_match_property(e, "DEVTYPE", "usb_device");
    udev_enumerate_add_match_sysattr(e, "idVendor", vendor);
  });
  for (const auto& usb : usbDevices) {
    survey.usbDevices.push_back(DescribeUsbDevice(context, usb.get()));
  }

  // Every hid device of the maker, on any bus, with the hidraw node the link would open.
  const auto hidDevices =
      Enumerate(context, [](udev_enumerate* e) { udev_enumerate_add_match_subsystem(e, "hid"); });
  bool denied = false;
  for (const auto& hid : hidDevices) {
    const auto ids =
        udev_support::ParseHidId(Text(udev_device_get_property_value(hid.get(), "HID_ID")));
    if (!ids || ids->vendorId != kVendorId) {
      continue;
    }
    SurveyedInterface entry{HidrawNodeBelow(context, hid.get()),
                            ids->productId,
                            BusOf(ids->bus),
                            NodeAccess::kNotChecked,
                            {}};
    if (entry.bus == HidBus::kUsb && !entry.path.empty() &&
        IsController(InterfaceInfo{entry.path, ids->vendorId, ids->productId})) {
      ProbeAccess(entry, settings);
      denied = denied || entry.access == NodeAccess::kDenied;
    }
    survey.interfaces.push_back(std::move(entry));
  }
  // Where the rule is matters only to a node that may not be opened.
  if (denied) {
    survey.ruleFiles = FindUdevRuleFiles(settings.ruleDirectories);
  }
  return survey;
}

}  // namespace hid
