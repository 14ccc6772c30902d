// The debugger output channel. The device link and the update logic write a few
// single diagnostic lines ("m_DevicePath:...\n"); where they go is the owner's choice:
// OutputDebugStringW on Windows, stderr with --verbose, a recording list in tests.
#pragma once

#include <functional>
#include <string_view>

namespace base {

// Receives one diagnostic line, its trailing newline included. May be empty (discard).
using DebugSink = std::function<void(std::string_view line)>;

inline void WriteDebugLine(const DebugSink& sink, std::string_view line) {
  if (sink) {
    sink(line);
  }
}

}  // namespace base
