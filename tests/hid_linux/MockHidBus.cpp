#include "tests/hid_linux/MockHidBus.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <umockdev.h>
#include <unistd.h>

#include <cstdio>
#include <list>

namespace testing_support {
namespace {

std::string Hex(std::span<const std::uint8_t> bytes) {
  std::string text;
  char digits[3];
  for (const std::uint8_t byte : bytes) {
    std::snprintf(digits, sizeof digits, "%02X", byte);
    text += digits;
  }
  return text;
}

std::string Format(const char* pattern, unsigned a, unsigned b = 0, unsigned c = 0) {
  char text[128];
  std::snprintf(text, sizeof text, pattern, a, b, c);
  return text;
}

// Completes one ioctl of the client with the descriptor passed as user data.
gboolean AnswerIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
  const auto& descriptor = *static_cast<const std::vector<std::uint8_t>*>(data);
  const gulong request = umockdev_ioctl_client_get_request(client);
  UMockdevIoctlData* argument = umockdev_ioctl_client_get_arg(client);
  GError* error = nullptr;
  if (request == HIDIOCGRDESCSIZE) {
    UMockdevIoctlData* size = umockdev_ioctl_data_resolve(argument, 0, sizeof(int), &error);
    int value = static_cast<int>(descriptor.size());
    umockdev_ioctl_data_update(size, 0, reinterpret_cast<guint8*>(&value), sizeof value);
    umockdev_ioctl_client_complete(client, 0, 0);
    return TRUE;
  }
  if (request == HIDIOCGRDESC) {
    UMockdevIoctlData* out =
        umockdev_ioctl_data_resolve(argument, 0, sizeof(hidraw_report_descriptor), &error);
    umockdev_ioctl_data_update(out, offsetof(hidraw_report_descriptor, value),
                               const_cast<guint8*>(descriptor.data()),
                               static_cast<gint>(descriptor.size()));
    umockdev_ioctl_client_complete(client, 0, 0);
    return TRUE;
  }
  umockdev_ioctl_client_complete(client, -1, ENOTTY);
  return TRUE;
}

}  // namespace

struct CMockHidBus::Impl {
  UMockdevTestbed* testbed = nullptr;
  unsigned added = 0;
  std::list<std::vector<std::uint8_t>> ioctlDescriptors;  // stable addresses for the handlers
  std::vector<UMockdevIoctlBase*> handlers;

  int DeviceEnd(const MockNode& node) const {
    const int fd = umockdev_testbed_get_dev_fd(testbed, node.devnode.c_str());
    if (fd < 0) {
      ADD_FAILURE() << "no device end for " << node.devnode;
    }
    return fd;
  }
};

CMockHidBus::CMockHidBus() : m_Impl(std::make_unique<Impl>()) {
  m_Impl->testbed = umockdev_testbed_new();
}

CMockHidBus::~CMockHidBus() {
  for (UMockdevIoctlBase* handler : m_Impl->handlers) {
    g_object_unref(handler);
  }
  g_object_unref(m_Impl->testbed);
}

MockNode CMockHidBus::Add(std::optional<Ids> ids,
                          const std::vector<std::uint8_t>& reportDescriptor) {
  const unsigned n = m_Impl->added++;
  const Ids shown = ids.value_or(Ids{0, 0});
  const std::string usb = Format("/devices/pci0000:00/usb1/1-%u", n + 1);
  const std::string hid =
      usb + Format("/1-%u:1.0/0003:%04X:%04X", n + 1, shown.vendorId, shown.productId) +
      Format(".%04X", n + 1);
  MockNode node{"/sys" + hid + Format("/hidraw/hidraw%u", n), Format("/dev/hidraw%u", n)};
  std::string description;
  description += "P: " + usb + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n" +
                 Format("A: idVendor=%04x\nA: idProduct=%04x\n\n", shown.vendorId, shown.productId);
  description +=
      "P: " + usb + Format("/1-%u:1.0\n", n + 1) + "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\n\n";
  description += "P: " + hid + "\nE: SUBSYSTEM=hid\n";
  if (ids) {
    description += Format("E: HID_ID=0003:%08X:%08X\n", ids->vendorId, ids->productId);
  }
  description += "H: report_descriptor=" + Hex(reportDescriptor) + "\n\n";
  description += "P: " + node.syspath.substr(4) + Format("\nN: hidraw%u\n", n) +
                 "E: SUBSYSTEM=hidraw\nE: DEVNAME=" + node.devnode + Format("\nA: dev=247:%u\n", n);
  GError* error = nullptr;
  if (!umockdev_testbed_add_from_string(m_Impl->testbed, description.c_str(), &error)) {
    ADD_FAILURE() << "umockdev: " << error->message;
    g_error_free(error);
  }
  return node;
}

void CMockHidBus::Remove(const MockNode& node) {
  umockdev_testbed_uevent(m_Impl->testbed, node.syspath.c_str(), "remove");
  // Child first: the hidraw node, its hid device, the interface, the USB device.
  std::string syspath = node.syspath;
  for (int level = 0; level < 4; ++level) {
    umockdev_testbed_remove_device(m_Impl->testbed, syspath.c_str());
    syspath.resize(syspath.rfind('/'));
    if (level == 0) {
      syspath.resize(syspath.rfind('/'));  // past the "hidraw" class folder
    }
  }
}

void CMockHidBus::Change(const MockNode& node) {
  umockdev_testbed_uevent(m_Impl->testbed, node.syspath.c_str(), "change");
}

void CMockHidBus::Unplug(const MockNode& node) {
  // Closing the pseudo-terminal's other end hangs the node up. The testbed still owns
  // that descriptor number, so it is replaced rather than closed.
  const int deviceEnd = m_Impl->DeviceEnd(node);
  const int nothing = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  ::dup2(nothing, deviceEnd);
  ::close(nothing);
}

void CMockHidBus::AnswerDescriptorIoctls(const MockNode& node,
                                         std::vector<std::uint8_t> descriptor) {
  auto& kept = m_Impl->ioctlDescriptors.emplace_back(std::move(descriptor));
  UMockdevIoctlBase* handler = umockdev_ioctl_base_new();
  g_signal_connect(handler, "handle-ioctl", G_CALLBACK(AnswerIoctl), &kept);
  m_Impl->handlers.push_back(handler);
  GError* error = nullptr;
  if (!umockdev_testbed_attach_ioctl(m_Impl->testbed, node.devnode.c_str(), handler, &error)) {
    ADD_FAILURE() << "umockdev: " << error->message;
    g_error_free(error);
  }
}

void CMockHidBus::SendReport(const MockNode& node, std::span<const std::uint8_t> report) {
  const ssize_t written = ::write(m_Impl->DeviceEnd(node), report.data(), report.size());
  EXPECT_EQ(written, static_cast<ssize_t>(report.size())) << "writing to " << node.devnode;
}

std::vector<std::uint8_t> CMockHidBus::Received(const MockNode& node, std::size_t count,
                                                std::chrono::milliseconds timeout) {
  const int deviceEnd = m_Impl->DeviceEnd(node);
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::vector<std::uint8_t> bytes;
  while (bytes.size() < count) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd wait{deviceEnd, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&wait, 1, static_cast<int>(left.count())) <= 0) {
      break;
    }
    std::uint8_t chunk[256];
    const ssize_t got = ::read(deviceEnd, chunk, std::min(sizeof chunk, count - bytes.size()));
    if (got <= 0) {
      break;
    }
    bytes.insert(bytes.end(), chunk, chunk + got);
  }
  return bytes;
}

}  // namespace testing_support
