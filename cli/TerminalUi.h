// The six user-interface operations for a terminal. The file dialog is never asked for
// (the command line names the image); the version prompt becomes a y/N question (answered yes by
// --yes); the success and type messages become lines; the progress bar is drawn in
// place on a terminal (bar, percentage, bytes, rate), fitted to its width at every
// redraw so that a resized window is followed, and as plain lines otherwise.
// Questions and progress go to one stream (stderr, which stays on the terminal when
// stdout is redirected), results to another (stdout).
// Button, label and title have nothing to show on a terminal.
//
// The flashing worker calls the progress operations from its own thread while the main
// thread handles device notices: every write to the output holds one lock, so lines
// never mix.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>

#include "base/Wake.h"
#include "cli/RoadUi.h"
#include "update/RunOutcome.h"
#include "update/UserInterface.h"

namespace cli {

struct TerminalOptions {
  std::ostream* out = nullptr;      // questions, progress, the boxes' messages
  std::ostream* results = nullptr;  // Result lines; null: out
  bool isTerminal = false;          // out is a terminal: the bar is drawn in place
  std::function<int()> columns;     // out's width; empty or 0: 80
  int inputFd = -1;                 // answers; -1: none (every question is answered no)
  bool inputIsTerminal = false;     // what is typed shows itself; other answers are echoed
  bool assumeYes = false;
  base::Waitable interruptFd = base::kNoWaitable;  // ready after Ctrl-C: a waiting question gets no
  // Held for every write to out; shared with whoever else writes to the same stream
  // (debug lines go to stderr, where people's output goes with --json). Null: our own.
  std::mutex* outputMutex = nullptr;
};

class CTerminalUi final : public IRoadUi {
 public:
  explicit CTerminalUi(TerminalOptions options);

  // Asks a y/N question; true only for y, yes or 是 (in any case), or --yes.
  bool Ask(const std::string& question);
  // One whole line for people; a bar being drawn is finished first.
  void Line(const std::string& text) override;
  // The same, on the results stream.
  void Result(const std::string& text) override;
  // Ends a bar left open by a run that stopped, so that what follows starts a line.
  void Finish() override;

  // The run's steps and confirmed blocks (the controller's progress observer).
  void OnRunProgress(const update::RunOutcome& now) override;

  // update::IUserInterface
  update::MessageResult ShowMessageBox(const std::string& text, const std::string& caption,
                                       update::MessageButtons buttons) override;
  void SetProgress(std::int32_t position) override;

 private:
  std::optional<std::string> ReadAnswerLine();
  bool InterruptAsked() const;  // Ctrl-C (or a request to end) has come
  // All below with m_OutMutex held.
  void LineLocked(const std::string& text);
  void DrawBarLocked(bool force);
  void EndBarLocked();

  const TerminalOptions m_Options;

  // The output, and the bar of the writing phase.
  std::mutex m_OwnMutex;
  std::mutex& m_OutMutex;
  std::optional<update::RunStep> m_Step;
  bool m_BarOpen = false;  // a bar line is on screen without its line break
  std::uint32_t m_RegionLength = 0;
  std::uint64_t m_BytesConfirmed = 0;
  std::int32_t m_Position = 0;  // the window's progress position, for reference
  int m_LastPercent = -1;
  int m_LastBarColumns = 0;  // the width of the bar line on screen
  std::chrono::steady_clock::time_point m_StreamStart;
  std::chrono::steady_clock::time_point m_LastDraw;
};

// "Writing [#########.........]  45%  3.5 KiB of 7.8 KiB  12.1 KiB/s": the bar's line,
// three columns narrower than columns (a line as wide as the terminal wraps on some, and
// so does a full one that Ctrl-C's echo "^C" follows): the bar shrinks
// first (to 10), then the rate and the byte counts go, then the label and the bar.
std::string FormatProgressBar(const std::string& label, int percent, std::uint64_t bytes,
                              std::uint64_t total, double bytesPerSecond, int columns);
// The line that tells a run's step as it begins ("Erasing 48.0 KiB...", "Verifying...",
// "Completing..."); nullopt for the steps that have none (writing has its bar).
std::optional<std::string> PhaseLine(const update::RunOutcome& now);
// "900 bytes" below 1 KiB, then "64.0 KiB", then "1.2 MiB".
std::string FormatBytes(std::uint64_t bytes);

}  // namespace cli
