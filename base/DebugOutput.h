// The debugger output channel. The device link and the update logic write a few
// single diagnostic lines ("m_DevicePath:...\n"); where they go is the owner's choice:
// OutputDebugStringW on Windows, stderr with --verbose, a recording list in tests.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace base {

// Receives one diagnostic line, its trailing newline included. May be empty (discard).
using DebugSink = std::function<void(std::string_view line)>;

// The same sink, every line ending with its line break: the window title written when
// the device goes has none, and would be glued to the next line.
inline DebugSink WholeLines(DebugSink sink) {
  if (!sink) {
    return sink;
  }
  return [sink = std::move(sink)](std::string_view line) {
    if (!line.empty() && line.back() == '\n') {
      sink(line);
    } else {
      sink(std::string(line) + '\n');
    }
  };
}

inline void WriteDebugLine(const DebugSink& sink, std::string_view line) {
  if (sink) {
    sink(line);
  }
}

}  // namespace base
