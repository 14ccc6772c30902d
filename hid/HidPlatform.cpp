#include "hid/HidPlatform.h"

namespace hid {

SystemSurvey SurveyByListing(IHidPlatform& platform) {
  SystemSurvey survey;
  for (const InterfaceInfo& info : platform.EnumerateInterfaces()) {
    if (info.vendorId != kVendorId) {
      continue;
    }
    SurveyedInterface entry{info.path, info.productId, HidBus::kUsb, NodeAccess::kNotChecked, {}};
    if (IsController(info)) {
      // Opening for writing sends nothing; the handle is closed as it goes out of scope.
      auto opened = platform.Open(info.path, Access::kWrite);
      if (opened) {
        entry.access = NodeAccess::kOpenable;
      } else {
        const base::ErrorKind kind = opened.error().kind;
        entry.access = kind == base::ErrorKind::kPermissionDenied ? NodeAccess::kDenied
                       : kind == base::ErrorKind::kNotFound       ? NodeAccess::kMissing
                                                                  : NodeAccess::kFailed;
        entry.accessReason = opened.error().message;
      }
    }
    survey.interfaces.push_back(std::move(entry));
  }
  return survey;
}

}  // namespace hid
