#include "win/ReasonLabel.h"

#include "hid/windows/Win32Errors.h"

namespace win {

void ShowReasonInLabel(HWND dialog, HWND label, HWND instructions,
                       const std::optional<std::string>& reason, const std::string& labelText) {
  // In dialog units: between the bar and the button, or the template's place.
  RECT area = reason ? RECT{7, 25, 237, 99} : RECT{83, 86, 168, 98};
  ::MapDialogRect(dialog, &area);
  ::SetWindowPos(label, nullptr, area.left, area.top, area.right - area.left,
                 area.bottom - area.top, SWP_NOZORDER | SWP_NOACTIVATE);
  const LONG_PTR style = ::GetWindowLongPtrW(label, GWL_STYLE) & ~SS_TYPEMASK;
  ::SetWindowLongPtrW(label, GWL_STYLE, style | (reason ? SS_LEFT : SS_CENTER));
  ::SetWindowTextW(label, hid::windows::WideFromUtf8(reason ? *reason : labelText).c_str());
  ::ShowWindow(label, reason ? SW_SHOWNA : SW_HIDE);
  ::ShowWindow(instructions, reason ? SW_HIDE : SW_SHOWNA);
}

}  // namespace win
