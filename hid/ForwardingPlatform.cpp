#include "hid/ForwardingPlatform.h"

namespace hid {

CForwardingPlatform::CForwardingPlatform(std::shared_ptr<IHidPlatform> inner)
    : m_Inner(std::move(inner)) {}

std::vector<InterfaceInfo> CForwardingPlatform::EnumerateInterfaces() {
  return m_Inner->EnumerateInterfaces();
}

base::Result<std::unique_ptr<IHidHandle>> CForwardingPlatform::Open(const std::string& path,
                                                                    Access access) {
  return m_Inner->Open(path, access);
}

bool CForwardingPlatform::RegisterForDeviceNotices(NativeWindow notifyWindow) {
  return m_Inner->RegisterForDeviceNotices(notifyWindow);
}

void CForwardingPlatform::UnregisterDeviceNotices() {
  m_Inner->UnregisterDeviceNotices();
}

int CForwardingPlatform::NoticeFd() const {
  return m_Inner->NoticeFd();
}

void* CForwardingPlatform::NoticeEvent() const {
  return m_Inner->NoticeEvent();
}

std::vector<std::uint32_t> CForwardingPlatform::TakeNotices() {
  return m_Inner->TakeNotices();
}

}  // namespace hid
