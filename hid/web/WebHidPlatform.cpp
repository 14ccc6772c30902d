#include "hid/web/WebHidPlatform.h"

#include <emscripten.h>

#include <array>
#include <charconv>

// The browser's side is web-hid.js; these only carry the calls across.
// clang-format off
EM_JS(int, web_hid_available, (), { return Module.webHid.available() ? 1 : 0; });
EM_JS(void, web_hid_listen, (), { Module.webHid.listen(); });
EM_JS(void, web_hid_set_notices_wanted, (int wanted), { Module.webHid.setNoticesWanted(!!wanted); });
EM_JS(std::uint32_t, web_hid_take_notice, (), { return Module.webHid.takeNotice(); });
EM_JS(void, web_hid_release, (std::uint32_t device, int reader), {
  Module.webHid.release(device, reader);
});
EM_ASYNC_JS(int, web_hid_enumerate, (std::uint32_t* triples, int capacity), {
  return await Module.webHid.enumerate(triples, capacity);
});
EM_ASYNC_JS(int, web_hid_open, (std::uint32_t device, int reading, char* why, int whySize), {
  return await Module.webHid.open(device, !!reading, why, whySize);
});
EM_ASYNC_JS(int, web_hid_read, (int reader, std::uint8_t* frame, int timeoutMs), {
  return await Module.webHid.read(reader, frame, timeoutMs);
});
EM_ASYNC_JS(int, web_hid_write, (std::uint32_t device, const std::uint8_t* frame, int length), {
  return await Module.webHid.write(device, frame, length);
});
EM_JS(int, web_hid_request_state, (char* reason, int size), {
  return Module.webHid.requestState(reason, size);
});
// clang-format on

namespace hid {
namespace {

// Results of web-hid.js.
constexpr int kJsOk = 0;
constexpr int kJsTimeout = 1;
constexpr int kJsGone = 2;
constexpr int kJsOpenNotFound = 1;
constexpr int kJsOpenRefused = 2;
constexpr int kJsOpenGone = 3;

constexpr int kMaxDevices = 16;
constexpr const char* kPathPrefix = "webhid:";

// One opened device for one handle. A handle opened for reading has its own queue of
// input reports in the page (its reader); a write handle has none.
class CWebHidHandle : public IHidHandle {
 public:
  CWebHidHandle(std::uint32_t device, int reader) : m_Device(device), m_Reader(reader) {}
  ~CWebHidHandle() override { web_hid_release(m_Device, m_Reader); }
  CWebHidHandle(const CWebHidHandle&) = delete;
  CWebHidHandle& operator=(const CWebHidHandle&) = delete;

  ReadResult ReadFrame(Frame& frame, std::chrono::milliseconds timeout) override {
    if (m_Reader == 0) {
      return {ReadOutcome::kFailed,
              {base::ErrorKind::kIo, "read: the device was opened for writing"}};
    }
    const int timeoutMs = static_cast<int>(std::max<std::int64_t>(timeout.count(), 0));
    switch (web_hid_read(m_Reader, frame.data(), timeoutMs)) {
      case kJsOk:
        return ReadOutcome::kReport;
      case kJsTimeout:
        return ReadOutcome::kTimeout;
      case kJsGone:
        return {ReadOutcome::kDeviceGone,
                {base::ErrorKind::kDisconnected, "read: the device went away"}};
      default:
        return {ReadOutcome::kFailed, {base::ErrorKind::kIo, "read: the browser's read failed"}};
    }
  }

  base::Status WriteFrame(std::span<const std::uint8_t> frame) override {
    if (web_hid_write(m_Device, frame.data(), static_cast<int>(frame.size())) == 0) {
      // The page refuses a device it no longer holds, and sendReport fails on one that
      // went away; it tells no more than that.
      return base::Error{base::ErrorKind::kDisconnected,
                         "write: the browser could not send the report"};
    }
    return {};
  }

 private:
  const std::uint32_t m_Device;
  const int m_Reader;
};

}  // namespace

CWebHidPlatform::CWebHidPlatform() {
  web_hid_listen();
}

CWebHidPlatform::~CWebHidPlatform() {
  web_hid_set_notices_wanted(0);
}

bool CWebHidPlatform::IsAvailable() {
  return web_hid_available() != 0;
}

std::string CWebHidPlatform::PathOf(std::uint32_t deviceNumber) {
  return kPathPrefix + std::to_string(deviceNumber);
}

std::optional<std::uint32_t> CWebHidPlatform::DeviceNumberOf(const std::string& path) {
  const std::string_view prefix(kPathPrefix);
  if (path.compare(0, prefix.size(), prefix) != 0) {
    return std::nullopt;
  }
  std::uint32_t number = 0;
  const char* first = path.data() + prefix.size();
  const char* last = path.data() + path.size();
  const auto [end, error] = std::from_chars(first, last, number);
  if (error != std::errc() || end != last || first == last) {
    return std::nullopt;
  }
  return number;
}

std::vector<InterfaceInfo> CWebHidPlatform::EnumerateInterfaces() {
  std::array<std::uint32_t, 3 * kMaxDevices> triples{};
  const int count = web_hid_enumerate(triples.data(), kMaxDevices);
  std::vector<InterfaceInfo> interfaces;
  for (int i = 0; i < count; ++i) {
    interfaces.push_back({PathOf(triples[3 * i]), static_cast<std::uint16_t>(triples[3 * i + 1]),
                          static_cast<std::uint16_t>(triples[3 * i + 2])});
  }
  return interfaces;
}

base::Result<std::unique_ptr<IHidHandle>> CWebHidPlatform::Open(const std::string& path,
                                                                Access access) {
  const std::optional<std::uint32_t> device = DeviceNumberOf(path);
  if (!device) {
    return base::Error{base::ErrorKind::kNotFound, "open " + path + ": no such device"};
  }
  std::array<char, 160> why{};
  const int result = web_hid_open(*device, access == Access::kRead ? 1 : 0, why.data(),
                                  static_cast<int>(why.size()));
  if (result >= 0) {
    m_Access[path] = {NodeAccess::kOpenable, {}};
    return std::unique_ptr<IHidHandle>(std::make_unique<CWebHidHandle>(*device, result));
  }
  if (result != -kJsOpenNotFound && result != -kJsOpenGone) {
    m_Access[path] = {result == -kJsOpenRefused ? NodeAccess::kDenied : NodeAccess::kFailed,
                      why.data()};
  }
  switch (-result) {
    case kJsOpenNotFound:
      return base::Error{base::ErrorKind::kNotFound, "open " + path + ": no such device"};
    case kJsOpenGone:
      return base::Error{base::ErrorKind::kDisconnected, "open " + path + ": the device went away"};
    case kJsOpenRefused:
      return base::Error{base::ErrorKind::kPermissionDenied,
                         "open " + path + ": the browser refused (" + why.data() + ")"};
    default:
      return base::Error{base::ErrorKind::kIo,
                         "open " + path + ": the browser could not open it (" + why.data() + ")"};
  }
}

SystemSurvey CWebHidPlatform::Survey() {
  SystemSurvey survey;
  survey.source = SurveySource::kWeb;
  WebGrants web;
  web.available = IsAvailable();
  if (web.available) {
    // The page asks only for the controller's two modes: what it may use is what it lists.
    for (const InterfaceInfo& info : EnumerateInterfaces()) {
      const auto known = m_Access.find(info.path);
      const auto access = known == m_Access.end()
                              ? std::pair<NodeAccess, std::string>{NodeAccess::kNotChecked, {}}
                              : known->second;
      survey.interfaces.push_back(
          SurveyedInterface{info.path, info.productId, HidBus::kUsb, access.first, access.second});
    }
    web.granted = static_cast<int>(survey.interfaces.size());
    std::array<char, 160> reason{};
    web.request = static_cast<WebGrants::Request>(
        web_hid_request_state(reason.data(), static_cast<int>(reason.size())));
    web.reason = reason.data();
  }
  survey.web = web;
  return survey;
}

bool CWebHidPlatform::RegisterForDeviceNotices(NativeWindow /*notifyWindow*/) {
  if (!IsAvailable()) {
    return false;
  }
  web_hid_set_notices_wanted(1);
  return true;
}

void CWebHidPlatform::UnregisterDeviceNotices() {
  web_hid_set_notices_wanted(0);
}

std::vector<std::uint32_t> CWebHidPlatform::TakeNotices() {
  std::vector<std::uint32_t> codes;
  for (std::uint32_t code = web_hid_take_notice(); code != 0; code = web_hid_take_notice()) {
    codes.push_back(code);
  }
  return codes;
}

}  // namespace hid
