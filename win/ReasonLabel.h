// The completion label of template 102 as the place where the dialog says why no
// controller can be used: across the window over the instructions, left-aligned and
// wrapped, while there is a reason; back where the template puts it otherwise.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace win {

// Shows reason in the label (the instructions hidden), or, without one, puts the label
// back as the template has it, with its own text, hidden (the instructions shown).
void ShowReasonInLabel(HWND dialog, HWND label, HWND instructions,
                       const std::optional<std::string>& reason, const std::string& labelText);

}  // namespace win
