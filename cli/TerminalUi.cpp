#include "cli/TerminalUi.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "cli/Messages.h"
#include "update/UpdateController.h"

namespace cli {
namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
constexpr int kDefaultColumns = 80;
constexpr int kWidestBar = 30;
constexpr int kNarrowestBar = 10;
constexpr int kKeptFree = 3;  // columns right of the bar: one, and two for "^C"

// y, yes and 是 ("yes" in Chinese), in any case, are yes; n, no, 否 and anything else,
// nothing too, are no: what does not clearly agree leaves the controller as it is.
bool IsYes(const std::string& answer) {
  std::string lower = answer;
  std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  });
  return lower == "y" || lower == "yes" || answer == "是";
}

}  // namespace

std::string FormatBytes(std::uint64_t bytes) {
  char text[32];
  if (bytes < 1024) {
    return Fmt(Tr("{0} bytes"), {std::to_string(bytes)});
  }
  if (bytes < 1024ull * 1024) {
    std::snprintf(text, sizeof text, "%.1f KiB", static_cast<double>(bytes) / 1024.0);
  } else {
    std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1024.0 * 1024.0));
  }
  return text;
}

std::string FormatProgressBar(const std::string& label, int percent, std::uint64_t bytes,
                              std::uint64_t total, double bytesPerSecond, int columns) {
  percent = std::clamp(percent, 0, 100);
  char number[32];
  std::snprintf(number, sizeof number, " %3d%%", percent);
  const std::string percentText = number;
  // The counts and the rate take the room of their widest, so that the bar keeps its
  // width while they grow: the count done is widest at the end of its unit ("1023
  // bytes", "1024.0 KiB") or at the total.
  std::string counts = "  " + Fmt(Tr("{0} of {1}"), {FormatBytes(bytes), FormatBytes(total)});
  int countsWidth = 0;
  for (const std::uint64_t done : {total, std::uint64_t{1023}, std::uint64_t{1024 * 1024 - 1}}) {
    if (done <= total) {
      countsWidth = std::max(
          countsWidth,
          DisplayWidth("  " + Fmt(Tr("{0} of {1}"), {FormatBytes(done), FormatBytes(total)})));
    }
  }
  counts.append(static_cast<std::size_t>(std::max(0, countsWidth - DisplayWidth(counts))), ' ');
  std::string rate;
  if (bytesPerSecond > 0) {
    std::snprintf(number, sizeof number, "  %6.1f KiB/s", bytesPerSecond / 1024.0);
    rate = number;
  }
  // The room left for the bar beside "label [" and "]" and a tail, three columns kept
  // free: a line as wide as the terminal wraps on some, and so does one whose end the
  // terminal's echo of Ctrl-C ("^C") pushes over the edge; the next redraw would then
  // start on the wrapped row and leave the old bar standing above it.
  const int fixed = DisplayWidth(label) + 3 + kKeptFree;
  const std::string tails[] = {percentText + counts + rate, percentText + counts, percentText};
  for (const std::string& tail : tails) {
    const int room = columns - fixed - DisplayWidth(tail);
    if (room >= kNarrowestBar) {
      const int width = std::min(room, kWidestBar);
      const int filled = percent * width / 100;
      std::string line = label + " [" + std::string(static_cast<std::size_t>(filled), '#') +
                         std::string(static_cast<std::size_t>(width - filled), '.') + "]" + tail;
      while (!line.empty() && line.back() == ' ') {
        line.pop_back();
      }
      return line;
    }
  }
  return percentText.substr(1);  // too narrow for any bar: the percentage alone
}

CTerminalUi::CTerminalUi(TerminalOptions options)
    : m_Options(options),
      m_OutMutex(options.outputMutex != nullptr ? *options.outputMutex : m_OwnMutex) {}

bool CTerminalUi::Ask(const std::string& question) {
  std::unique_lock lock(m_OutMutex);
  EndBarLocked();
  std::ostream& out = *m_Options.out;
  out << question << ' ' << Tr("[y/N]") << ' ' << std::flush;
  if (m_Options.assumeYes) {
    out << Tr("yes (--yes)") << '\n' << std::flush;
    return true;
  }
  // Not held while the user thinks: the other thread's lines may go on meanwhile.
  lock.unlock();
  const std::optional<std::string> answer = ReadAnswerLine();
  lock.lock();
  if (!answer) {
    out << '\n' << std::flush;  // end of input or Ctrl-C: the answer is no
    return false;
  }
  const std::string trimmed = Trim(*answer);
  if (!m_Options.inputIsTerminal) {
    // Read from a pipe or a file: shown as if typed, so that the question's line ends
    // and the record shows what was answered.
    out << trimmed << '\n' << std::flush;
  }
  return IsYes(trimmed);
}

std::optional<std::string> CTerminalUi::ReadAnswerLine() {
  if (m_Options.inputFd < 0) {
    return std::nullopt;
  }
  std::string line;
  for (;;) {
    char c = 0;
    switch (base::ReadInputByte(m_Options.inputFd, m_Options.interruptFd, c)) {
      case base::InputByte::kStop:
        return std::nullopt;
      case base::InputByte::kEnd:
        return line.empty() ? std::nullopt : std::optional<std::string>(line);
      case base::InputByte::kByte:
        break;
    }
    if (c == '\n') {
      return line;
    }
    line += c;
  }
}

void CTerminalUi::Line(const std::string& text) {
  std::lock_guard lock(m_OutMutex);
  LineLocked(text);
}

void CTerminalUi::Result(const std::string& text) {
  std::lock_guard lock(m_OutMutex);
  EndBarLocked();
  std::ostream& results = m_Options.results != nullptr ? *m_Options.results : *m_Options.out;
  results << text << '\n' << std::flush;
}

void CTerminalUi::Finish() {
  std::lock_guard lock(m_OutMutex);
  EndBarLocked();
}

void CTerminalUi::LineLocked(const std::string& text) {
  EndBarLocked();
  *m_Options.out << text << '\n' << std::flush;
}

std::optional<std::string> PhaseLine(const update::RunOutcome& now) {
  switch (now.step) {
    case update::RunStep::kErasing:
      return Fmt(Tr("Erasing {0}..."), {FormatBytes(now.regionLength)});
    case update::RunStep::kFinishing:
      return Tr("Verifying...");
    case update::RunStep::kCompleting:
      return Tr("Completing...");
    default:
      return std::nullopt;  // writing has its bar; the other steps pass in a moment
  }
}

void CTerminalUi::OnRunProgress(const update::RunOutcome& now) {
  std::lock_guard lock(m_OutMutex);
  if (m_Step != now.step) {
    m_Step = now.step;
    if (now.step == update::RunStep::kStreaming) {
      m_RegionLength = now.regionLength;
      m_BytesConfirmed = 0;
      m_LastPercent = -1;
      m_StreamStart = std::chrono::steady_clock::now();
      DrawBarLocked(true);
      return;
    }
    if (const auto line = PhaseLine(now)) {
      LineLocked(*line);
    }
  }
  if (now.step == update::RunStep::kStreaming) {
    m_BytesConfirmed =
        std::min<std::uint64_t>(std::uint64_t{now.block} * update::kBlockSize, m_RegionLength);
    DrawBarLocked(m_BytesConfirmed == m_RegionLength);
  }
}

bool CTerminalUi::InterruptAsked() const {
  const base::Waitable interrupt[] = {m_Options.interruptFd};
  return m_Options.interruptFd != base::kNoWaitable &&
         base::WaitForAny(interrupt, std::chrono::milliseconds(0)) == 0;
}

void CTerminalUi::DrawBarLocked(bool force) {
  // After Ctrl-C the run goes on to the next block boundary, but what it writes meanwhile
  // is no news: a bar drawn below the message that it is stopping would stand there as
  // if the writing went on.
  if (InterruptAsked()) {
    return;
  }
  const int percent =
      m_RegionLength > 0 ? static_cast<int>(m_BytesConfirmed * 100 / m_RegionLength) : m_Position;
  const auto now = std::chrono::steady_clock::now();
  const double seconds = std::chrono::duration<double>(now - m_StreamStart).count();
  const double rate = seconds > 0.05 ? static_cast<double>(m_BytesConfirmed) / seconds : 0.0;
  std::ostream& out = *m_Options.out;
  if (m_Options.isTerminal) {
    if (!force && percent == m_LastPercent && now - m_LastDraw < kRedrawInterval) {
      return;
    }
    const int columns =
        m_Options.columns && m_Options.columns() > 0 ? m_Options.columns() : kDefaultColumns;
    const std::string line =
        FormatProgressBar(Tr("Writing"), percent, m_BytesConfirmed, m_RegionLength, rate, columns);
    // Spaces over what a longer line before left, as far as the bar may reach now.
    const int width = DisplayWidth(line);
    const int blank = std::max(0, std::min(m_LastBarColumns, columns - kKeptFree) - width);
    out << '\r' << line << std::string(static_cast<std::size_t>(blank), ' ') << std::flush;
    m_LastBarColumns = width;
    m_BarOpen = true;
  } else {
    // Without a terminal: a plain line at every tenth, for logs.
    if (!force && percent / 10 == m_LastPercent / 10) {
      return;
    }
    if (force && percent == m_LastPercent) {
      return;
    }
    out << Fmt(Tr("Writing: {0}% ({1} of {2} bytes)"),
               {std::to_string(percent), std::to_string(m_BytesConfirmed),
                std::to_string(m_RegionLength)})
        << '\n'
        << std::flush;
  }
  m_LastPercent = percent;
  m_LastDraw = now;
}

void CTerminalUi::EndBarLocked() {
  if (m_BarOpen) {
    *m_Options.out << '\n' << std::flush;
    m_BarOpen = false;
    m_LastBarColumns = 0;
  }
}

update::MessageResult CTerminalUi::ShowMessageBox(const std::string& text,
                                                  const std::string& /*caption*/,
                                                  update::MessageButtons buttons) {
  if (buttons == update::MessageButtons::kOkCancel) {
    return Ask(Trim(text)) ? update::MessageResult::kOk : update::MessageResult::kCancel;
  }
  Line(Trim(text));
  return update::MessageResult::kOk;
}

void CTerminalUi::SetProgress(std::int32_t position) {
  std::lock_guard lock(m_OutMutex);
  m_Position = std::clamp(position, 0, 100);
}

}  // namespace cli
