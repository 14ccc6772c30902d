#include "cli/FlashBoard.h"

#include <algorithm>

#include "cli/Messages.h"
#include "cli/TerminalUi.h"
#include "update/UpdateController.h"

namespace cli {

CFlashBoard::CFlashBoard(std::ostream& out, std::mutex& outputMutex, bool isTerminal, int columns)
    : m_Out(out),
      m_Mutex(outputMutex),
      m_IsTerminal(isTerminal),
      m_Columns(std::max(columns, 20)) {}

std::size_t CFlashBoard::AddRow(std::string place) {
  std::lock_guard lock(m_Mutex);
  m_PlaceWidth = std::max(m_PlaceWidth, place.size());
  m_Rows.push_back(Row{std::move(place), {}, Tr("Identifying..."), false, false, 0, 0, {}, -1, {}});
  return m_Rows.size() - 1;
}

void CFlashBoard::SetFound(std::size_t row, FoundController found) {
  std::lock_guard lock(m_Mutex);
  m_Rows.at(row).found = found;
}

std::optional<FoundController> CFlashBoard::Found(std::size_t row) const {
  std::lock_guard lock(m_Mutex);
  return m_Rows.at(row).found;
}

void CFlashBoard::Message(std::size_t row, const std::string& text) {
  std::lock_guard lock(m_Mutex);
  Row& line = m_Rows.at(row);
  line.status = Trim(text);
  line.writing = false;
  PlainLocked(line, line.status);
  m_Dirty = true;
}

void CFlashBoard::Progress(std::size_t row, const update::RunOutcome& now) {
  std::lock_guard lock(m_Mutex);
  Row& line = m_Rows.at(row);
  if (line.step != now.step) {
    line.step = now.step;
    if (now.step == update::RunStep::kStreaming) {
      line.writing = true;
      line.regionLength = now.regionLength;
      line.bytes = 0;
      line.lastTenth = -1;
      line.writeStart = std::chrono::steady_clock::now();
    } else if (const auto phase = PhaseLine(now)) {
      line.writing = false;
      line.status = *phase;
      PlainLocked(line, line.status);
    }
    m_Dirty = true;
  }
  if (now.step != update::RunStep::kStreaming || line.regionLength == 0) {
    return;
  }
  line.bytes =
      std::min<std::uint64_t>(std::uint64_t{now.block} * update::kBlockSize, line.regionLength);
  const int percent = static_cast<int>(line.bytes * 100 / line.regionLength);
  // Without a terminal, a plain line at every tenth, for logs.
  if (line.writing && percent / 10 != line.lastTenth) {
    line.lastTenth = percent / 10;
    PlainLocked(line, Fmt(Tr("Writing: {0}% ({1} of {2} bytes)"),
                          {std::to_string(percent), std::to_string(line.bytes),
                           std::to_string(line.regionLength)}));
  }
  m_Dirty = true;
}

void CFlashBoard::SetFinal(std::size_t row, std::string text) {
  std::lock_guard lock(m_Mutex);
  Row& line = m_Rows.at(row);
  line.status = std::move(text);
  line.final = true;
  line.writing = false;
  PlainLocked(line, line.status);
  m_Dirty = true;
}

void CFlashBoard::GoLive() {
  std::lock_guard lock(m_Mutex);
  m_Live = true;
  if (m_IsTerminal) {
    DrawLocked();
  }
}

void CFlashBoard::Redraw() {
  std::lock_guard lock(m_Mutex);
  if (m_Live && !m_Closed && m_IsTerminal && m_Dirty) {
    DrawLocked();
  }
}

void CFlashBoard::Close() {
  std::lock_guard lock(m_Mutex);
  if (m_Live && !m_Closed && m_IsTerminal) {
    DrawLocked();
  }
  m_Closed = true;
}

void CFlashBoard::PlainLocked(const Row& row, const std::string& text) {
  if (m_Live && !m_Closed && !m_IsTerminal) {
    m_Out << row.place << ": " << text << '\n' << std::flush;
  }
}

std::string CFlashBoard::TextLocked(const Row& row) const {
  std::string text = row.place;
  text.append(m_PlaceWidth - row.place.size() + 2, ' ');
  if (!row.writing) {
    return text + row.status;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - row.writeStart).count();
  const double rate = seconds > 0.05 ? static_cast<double>(row.bytes) / seconds : 0.0;
  const int percent = static_cast<int>(row.bytes * 100 / row.regionLength);
  return text + FormatProgressBar(Tr("Writing"), percent, row.bytes, row.regionLength, rate,
                                  m_Columns - DisplayWidth(text));
}

void CFlashBoard::DrawLocked() {
  // Back to the board's first line, then each line anew: erased, written, ended.
  if (m_LinesDrawn > 0) {
    m_Out << "\x1b[" << m_LinesDrawn << 'A';
  }
  for (const Row& row : m_Rows) {
    m_Out << "\r\x1b[2K" << FitToColumns(TextLocked(row), static_cast<std::size_t>(m_Columns) - 1)
          << '\n';
  }
  m_Out << std::flush;
  m_LinesDrawn = m_Rows.size();
  m_Dirty = false;
}

bool CQuestionGate::Ask(std::size_t row) {
  std::unique_lock lock(m_Mutex);
  if (m_Answer) {
    return false;
  }
  m_Waiting.push_back(row);
  lock.unlock();
  m_OnWaiting();
  lock.lock();
  m_Changed.wait(lock, [this] { return m_Answer.has_value(); });
  return *m_Answer;
}

void CQuestionGate::Answer(bool yes) {
  {
    std::lock_guard lock(m_Mutex);
    if (m_Answer) {
      return;
    }
    m_Answer = yes;
  }
  m_Changed.notify_all();
}

std::vector<std::size_t> CQuestionGate::Waiting() const {
  std::lock_guard lock(m_Mutex);
  return m_Waiting;
}

bool CQuestionGate::Answered() const {
  std::lock_guard lock(m_Mutex);
  return m_Answer.has_value();
}

update::MessageResult CBoardRoadUi::ShowMessageBox(const std::string& text,
                                                   const std::string& /*caption*/,
                                                   update::MessageButtons buttons) {
  if (buttons == update::MessageButtons::kOkCancel) {
    // The version question: asked once for all controllers.
    return m_Gate.Ask(m_Row) ? update::MessageResult::kOk : update::MessageResult::kCancel;
  }
  Line(text);
  return update::MessageResult::kOk;
}

}  // namespace cli
