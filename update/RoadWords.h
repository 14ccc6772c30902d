// What a window says about its road in plain words, in English and Simplified Chinese:
// the line under the bar that tells the state the user must act on, the box after a road
// that ended without completing (what failed, and what to do next), and the question
// before closing during a run. The windows render these; the page and the command line
// say the same things in their own ways.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/DebugOutput.h"
#include "update/Road.h"

namespace update {

// The state the user must act on, or nullopt when there is none (the window then shows
// what it showed before): a controller waiting in boot mode for its image, or one back
// with the firmware the last road wrote.
std::optional<std::string> StatusLine(const RoadView& view, const std::optional<RoadEnd>& lastEnd,
                                      std::uint16_t languageId);

// What a window's label says: while no controller can be used, why (every finding goes to
// debug, for -v), unless the firmware was just written and the controller is restarting;
// otherwise the state the user must act on. nullopt when there is nothing to say.
std::optional<std::string> LabelLine(CRoad& road, bool restarting, std::uint16_t languageId,
                                     const base::DebugSink& debug);

// What failed and what to do next, or nullopt when the road completed, or the user ended
// it (a cancel, a "no", the window closing), or was told already (the wrong type's box).
std::optional<std::string> FailureText(const RoadEnd& end, std::uint16_t languageId);

// Asked before the window closes while a run writes the controller.
std::string CloseQuestion(std::uint16_t languageId);

// "2.15", "2.16 beta3": a version word (low 16 bits hundredths, high 16 beta).
std::string VersionText(std::uint32_t versionWord);

}  // namespace update
