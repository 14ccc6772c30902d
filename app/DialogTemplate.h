// Dialog template 102, the main dialog: its size and its four controls with their ids,
// positions, sizes and styles in dialog units, in tab order. The dialog builds its
// widgets from this table and maps it to pixels with its font's base units.
#pragma once

#include "app/DialogGeometry.h"

namespace app {

inline constexpr int kIdProgressBar = 1003;
inline constexpr int kIdUpdateButton = 1007;
inline constexpr int kIdCompletionLabel = -1;  // a static control without an id of its own
inline constexpr int kIdInstructionLabel = 1008;
// The notice label that dialogs for other markets carry; this template has none.
inline constexpr int kIdNoticeLabel = 1011;

inline constexpr int kDialogWidthUnits = 244;
inline constexpr int kDialogHeightUnits = 130;
inline constexpr int kDialogFontPoints = 9;

enum class ControlKind {
  kProgressBar,  // horizontal, with a border
  kPushButton,
  kStaticCentred,
  kStaticWrapped,  // left-aligned, words wrapped
};

struct ControlTemplate {
  int id;
  ControlKind kind;
  DialogRect units;
  bool tabStop;
  bool enabled;
  const char* text;  // replaced before the window is first shown
};

inline constexpr ControlTemplate kDialog102[] = {
    {kIdProgressBar, ControlKind::kProgressBar, {7, 7, 230, 14}, false, true, ""},
    {kIdUpdateButton, ControlKind::kPushButton, {7, 101, 230, 22}, true, false, "USB_Update"},
    {kIdCompletionLabel,
     ControlKind::kStaticCentred,
     {83, 86, 85, 12},
     false,
     true,
     "Firmware upgraded!"},
    {kIdInstructionLabel, ControlKind::kStaticWrapped, {7, 25, 230, 42}, false, true, "静态"},
};

inline constexpr const char* kTemplateCaption = "仅支持";

}  // namespace app
