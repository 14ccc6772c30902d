// The tool's texts, in Simplified Chinese and English. Each text is named by a TextId;
// its string resource id is the TextId plus the language base (129 Chinese, 238 English).
#pragma once

#include <cstdint>
#include <string>

#include "text/UiLanguage.h"

namespace text {

using TextId = std::uint32_t;

// The texts the tool shows. The others in the table are kept for completeness.
inline constexpr TextId kFileType = 3;          // label of the file-open filter
inline constexpr TextId kFirmwareUpgraded = 4;  // completion label and success message
inline constexpr TextId kNewFirmware = 5;       // version prompt, before the image's version
inline constexpr TextId kWindowTitle = 6;       // window title and caption of every box
inline constexpr TextId kUsbUpdate = 12;        // caption of the update button
inline constexpr TextId kInstructions = 14;     // instruction label
inline constexpr TextId kAndCurrentIs = 15;     // version prompt, before the device's version
// Version prompt, in place of the device's version when it was never read (a controller
// found waiting in boot mode cannot tell it).
inline constexpr TextId kAndCurrentIsUnknown = 17;
inline constexpr TextId kTextCount = 18;

inline constexpr std::uint32_t kChineseResourceBase = 129;
inline constexpr std::uint32_t kEnglishResourceBase = 238;

// The string resource with this id, UTF-8; empty when the table has none.
std::string LoadStringResource(std::uint32_t resourceId);

// The text in the language that languageId selects: Chinese for exactly 2052 (the
// sub-language counts, so 1028 and 3076 get English), English for every other id.
// A text missing from the table comes back empty.
std::string LoadLocalizedText(TextId id, std::uint16_t languageId);

// As above, in the user's default UI language, asked for anew on every call.
std::string LoadLocalizedText(TextId id);

}  // namespace text
