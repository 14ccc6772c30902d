#include "hid/linux/Udev.h"

#include <fcntl.h>
#include <libudev.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

namespace hid::udev_support {
namespace {

constexpr std::uint16_t kBusUsb = 0x03;           // BUS_USB of HID_ID
constexpr std::size_t kMaxDescriptorSize = 4096;  // the kernel's HID_MAX_DESCRIPTOR_SIZE

std::optional<std::uint32_t> ParseHex(std::string_view text) {
  std::uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  if (text.empty() || error != std::errc{} || end != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

}  // namespace

void UdevDeleter::operator()(udev* context) const {
  udev_unref(context);
}
void UdevDeviceDeleter::operator()(udev_device* device) const {
  udev_device_unref(device);
}
void UdevMonitorDeleter::operator()(udev_monitor* monitor) const {
  udev_monitor_unref(monitor);
}

UdevPtr NewContext() {
  return UdevPtr(udev_new());
}

std::optional<UsbIds> ParseHidId(std::string_view hidId) {
  const std::size_t first = hidId.find(':');
  const std::size_t second = first == std::string_view::npos ? first : hidId.find(':', first + 1);
  if (second == std::string_view::npos) {
    return std::nullopt;
  }
  const auto bus = ParseHex(hidId.substr(0, first));
  const auto vendor = ParseHex(hidId.substr(first + 1, second - first - 1));
  const auto product = ParseHex(hidId.substr(second + 1));
  if (!bus || !vendor || !product || *bus > 0xFFFF || *vendor > 0xFFFF || *product > 0xFFFF) {
    return std::nullopt;
  }
  return UsbIds{static_cast<std::uint16_t>(*vendor), static_cast<std::uint16_t>(*product),
                static_cast<std::uint16_t>(*bus)};
}

std::optional<HidrawNode> DescribeHidraw(udev_device* hidraw) {
  const char* syspath = udev_device_get_syspath(hidraw);
  const char* devnode = udev_device_get_devnode(hidraw);
  // The parent is owned by the child device: not unreferenced here.
  udev_device* hid = udev_device_get_parent_with_subsystem_devtype(hidraw, "hid", nullptr);
  const char* hidId = hid == nullptr ? nullptr : udev_device_get_property_value(hid, "HID_ID");
  if (syspath == nullptr || devnode == nullptr || hidId == nullptr) {
    return std::nullopt;
  }
  const auto ids = ParseHidId(hidId);
  if (!ids || ids->bus != kBusUsb) {
    return std::nullopt;
  }
  // The USB device above the interface is named after its bus and port chain ("1-2.3"),
  // which stays when the controller restarts into its other mode.
  udev_device* usb = udev_device_get_parent_with_subsystem_devtype(hidraw, "usb", "usb_device");
  const char* port = usb == nullptr ? nullptr : udev_device_get_sysname(usb);
  return HidrawNode{syspath,
                    InterfaceInfo{devnode, ids->vendorId, ids->productId, port ? port : ""}};
}

std::vector<HidrawNode> ListHidrawNodes(udev* context) {
  std::vector<HidrawNode> nodes;
  if (context == nullptr) {
    return nodes;
  }
  udev_enumerate* enumerate = udev_enumerate_new(context);
  if (enumerate == nullptr) {
    return nodes;
  }
  udev_enumerate_add_match_subsystem(enumerate, "hidraw");
  udev_enumerate_scan_devices(enumerate);
  udev_list_entry* entry = nullptr;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate)) {
    const UdevDevicePtr device(
        udev_device_new_from_syspath(context, udev_list_entry_get_name(entry)));
    if (!device) {
      continue;  // gone between the scan and now
    }
    if (auto node = DescribeHidraw(device.get())) {
      nodes.push_back(std::move(*node));
    }
  }
  udev_enumerate_unref(enumerate);
  return nodes;
}

base::Result<std::vector<std::uint8_t>> ReadSysfsReportDescriptor(udev* context,
                                                                  const std::string& devicePath) {
  const std::size_t slash = devicePath.rfind('/');
  const std::string sysname =
      slash == std::string::npos ? devicePath : devicePath.substr(slash + 1);
  const UdevDevicePtr hidraw(context == nullptr ? nullptr
                                                : udev_device_new_from_subsystem_sysname(
                                                      context, "hidraw", sysname.c_str()));
  udev_device* hid =
      hidraw ? udev_device_get_parent_with_subsystem_devtype(hidraw.get(), "hid", nullptr)
             : nullptr;
  if (hid == nullptr) {
    return base::Error{base::ErrorKind::kNotFound, "no hid device behind " + devicePath};
  }
  const std::string file = std::string(udev_device_get_syspath(hid)) + "/report_descriptor";
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    return base::Error{error == ENOENT ? base::ErrorKind::kNotFound : base::ErrorKind::kIo,
                       file + ": " + std::strerror(error)};
  }
  std::vector<std::uint8_t> descriptor(kMaxDescriptorSize);
  std::size_t filled = 0;
  while (filled < descriptor.size()) {
    const ssize_t got = ::read(fd, descriptor.data() + filled, descriptor.size() - filled);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0) {
      const int error = errno;
      ::close(fd);
      return base::Error{base::ErrorKind::kIo, file + ": " + std::strerror(error)};
    }
    if (got == 0) {
      break;
    }
    filled += static_cast<std::size_t>(got);
  }
  ::close(fd);
  descriptor.resize(filled);
  return descriptor;
}

}  // namespace hid::udev_support
