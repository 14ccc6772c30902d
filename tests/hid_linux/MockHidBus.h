// A mock sysfs and /dev with hidraw nodes (umockdev), for the Linux link's tests. The
// glib and umockdev headers stay in the .cpp. Construct it before any libudev call of
// the process; run the test binary through umockdev-wrapper.
//
// Each node is a pseudo-terminal whose other end this bus holds: what the program
// writes arrives there, and what SendReport writes there the program reads. It is a
// byte stream, so tests send one report at a time.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace testing_support {

struct MockNode {
  std::string syspath;  // the hidraw device in sysfs
  std::string devnode;  // /dev/hidrawN
};

class CMockHidBus {
 public:
  CMockHidBus();
  ~CMockHidBus();
  CMockHidBus(const CMockHidBus&) = delete;
  CMockHidBus& operator=(const CMockHidBus&) = delete;

  // Adds a USB device with one HID interface and its hidraw node; the nodes sort in
  // the order they were added. Without ids the hid device carries no HID_ID.
  struct Ids {
    std::uint16_t vendorId;
    std::uint16_t productId;
  };
  MockNode Add(std::optional<Ids> ids, const std::vector<std::uint8_t>& reportDescriptor);

  // The kernel's "remove" event, then the sysfs entries go.
  void Remove(const MockNode& node);

  // The kernel's "change" event of the node: it stays where it is.
  void Change(const MockNode& node);

  // Hangs up the device end of the node, as an unplug does to an open hidraw node.
  void Unplug(const MockNode& node);

  // Answers HIDIOCGRDESCSIZE / HIDIOCGRDESC on the node with this descriptor.
  void AnswerDescriptorIoctls(const MockNode& node, std::vector<std::uint8_t> descriptor);

  // The device sends one input report.
  void SendReport(const MockNode& node, std::span<const std::uint8_t> report);

  // What the program wrote to the node: waits up to timeout for count bytes.
  std::vector<std::uint8_t> Received(const MockNode& node, std::size_t count,
                                     std::chrono::milliseconds timeout);

 private:
  struct Impl;
  std::unique_ptr<Impl> m_Impl;
};

}  // namespace testing_support
