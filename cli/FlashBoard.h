// What `flash --all` shows while several controllers are updated at once: one line per
// controller, in the order of places. On a terminal the lines are redrawn in place (its
// place, then the phase, or while writing a bar with percentage, bytes and rate);
// otherwise each change is a plain line that starts with the place ("1-2.3: Erasing
// 48.0 KiB..."), and writing is told at every tenth.
//
// Until the one version question has been answered the board only takes notes: the
// question lists what identification found.
//
// Threads: every road and its run report from their own threads; the owner draws
// (Redraw) on its own. Everything written holds the output lock shared with the rest of
// the program's output.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/RoadUi.h"
#include "update/RunOutcome.h"

namespace cli {

// What identification found on one controller, for the question.
struct FoundController {
  std::uint16_t type = 0;
  std::optional<std::uint32_t> versionWord;  // application mode only
};

class CFlashBoard {
 public:
  CFlashBoard(std::ostream& out, std::mutex& outputMutex, bool isTerminal, int columns = 80);

  // One line per controller, in this order; returns its row.
  std::size_t AddRow(std::string place);

  void SetFound(std::size_t row, FoundController found);
  std::optional<FoundController> Found(std::size_t row) const;
  void Message(std::size_t row, const std::string& text);
  void Progress(std::size_t row, const update::RunOutcome& now);
  // The road's end: what its line says from now on.
  void SetFinal(std::size_t row, std::string text);

  // From notes to lines: draws the board on a terminal, starts the plain lines otherwise.
  void GoLive();
  // On a terminal: draws the lines again where something changed since the last time.
  void Redraw();
  // The last drawing; what is written next starts below the board.
  void Close();

 private:
  struct Row {
    std::string place;
    std::optional<FoundController> found;
    std::string status;  // the last message, or the final word
    bool final = false;
    bool writing = false;
    std::uint32_t regionLength = 0;
    std::uint64_t bytes = 0;
    std::chrono::steady_clock::time_point writeStart;
    int lastTenth = -1;
    std::optional<update::RunStep> step;
  };

  // All below with the output lock held.
  void PlainLocked(const Row& row, const std::string& text);
  std::string TextLocked(const Row& row) const;
  void DrawLocked();

  std::ostream& m_Out;
  std::mutex& m_Mutex;
  const bool m_IsTerminal;
  const int m_Columns;
  std::vector<Row> m_Rows;
  std::size_t m_PlaceWidth = 0;
  bool m_Live = false;
  bool m_Closed = false;
  bool m_Dirty = false;
  std::size_t m_LinesDrawn = 0;
};

// The one version question for all controllers: each road's question waits here until
// the owner has asked it once and answers for everybody.
class CQuestionGate {
 public:
  // onWaiting is called each time one more road waits (on that road's thread).
  explicit CQuestionGate(std::function<void()> onWaiting) : m_OnWaiting(std::move(onWaiting)) {}

  // A road's question: waits for the answer. A road that comes after the answer gets no:
  // it was not in the list the user saw.
  bool Ask(std::size_t row);
  void Answer(bool yes);
  // The rows waiting for the answer, in the order they came.
  std::vector<std::size_t> Waiting() const;
  bool Answered() const;

 private:
  std::function<void()> m_OnWaiting;
  mutable std::mutex m_Mutex;
  std::condition_variable m_Changed;
  std::vector<std::size_t> m_Waiting;
  std::optional<bool> m_Answer;
};

// One controller's road as a line of the board; its version question goes to the gate.
class CBoardRoadUi final : public IRoadUi {
 public:
  CBoardRoadUi(CFlashBoard& board, std::size_t row, CQuestionGate& gate)
      : m_Board(board), m_Row(row), m_Gate(gate) {}

  // IRoadUi
  void Line(const std::string& text) override { m_Board.Message(m_Row, text); }
  void Finish() override {}
  void OnRunProgress(const update::RunOutcome& now) override { m_Board.Progress(m_Row, now); }
  void OnControllerFound(std::uint16_t type, std::optional<std::uint32_t> versionWord) override {
    m_Board.SetFound(m_Row, {type, versionWord});
  }

  // update::IUserInterface: the window's button, label and title have nothing to show.
  update::MessageResult ShowMessageBox(const std::string& text, const std::string& caption,
                                       update::MessageButtons buttons) override;

 private:
  CFlashBoard& m_Board;
  const std::size_t m_Row;
  CQuestionGate& m_Gate;
};

}  // namespace cli
