// CUpdateDlg: the main dialog, the one window of the program. It owns the device link
// and the update control, shows the progress bar, the update button and two labels,
// hands device notices and clicks to the update control, and carries out the six
// user-interface operations for it, from the UI thread or from the flashing worker.
//
// Threads. Message boxes and the file dialog are modal, owned by this window, and only
// ever opened on the UI thread (the asking before a run, the success box after it). The
// worker's progress, button, label and title calls are queued to the UI thread and never
// wait; the end of its run is queued the same way and handed to the update control.
//
// Closing. The close box, Escape, or Enter while the update button lacks the focus end
// the dialog without asking. A run going on is asked to stop at its next block boundary;
// its worker never waits on this window, so the update control joins it when the dialog
// goes.
#pragma once

#include <QDialog>
#include <QIcon>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "app/DialogGeometry.h"
#include "base/DebugOutput.h"
#include "protocol/DeviceCommands.h"
#include "update/Road.h"
#include "update/UserInterface.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QSocketNotifier;
class QTimer;

namespace app {

struct DialogOptions {
  // The language of every text; nullopt asks the system each time, as the texts do.
  std::optional<std::uint16_t> languageId;
  base::DebugSink debug;
  protocol::CommandOptions commands;
  update::Waits waits;
};

class CUpdateDlg : public QDialog, public update::IUserInterface {
  Q_OBJECT

 public:
  explicit CUpdateDlg(std::shared_ptr<hid::IHidPlatform> platform, DialogOptions options = {});
  ~CUpdateDlg() override;

  // The control with this template id, or null when the dialog has none.
  QWidget* GetDlgItem(int id) const;

  update::CRoad& Road() { return *m_Road; }
  DialogBaseUnits BaseUnits() const { return m_BaseUnits; }
  // How the last road ended, once it has.
  std::optional<update::RunOutcome> LastRunOutcome() const { return m_LastOutcome; }

  // The next file dialog is answered with path instead of being shown (a file given on
  // the command line). The image is then checked and its versions asked about as one
  // chosen in the dialog; the dialogs after that one are shown again.
  void AnswerNextFileDialog(std::string path) { m_NextImage = std::move(path); }

  // The image of the minimised window.
  QIcon OnQueryDragIcon() const { return m_hIcon; }

  // update::IUserInterface
  update::MessageResult ShowMessageBox(const std::string& text, const std::string& caption,
                                       update::MessageButtons buttons) override;
  void SetProgress(std::int32_t position) override;
  void EnableUpdateButton(bool enabled) override;
  void ShowCompletionLabel(bool visible) override;
  void SetWindowTitle(const std::string& title) override;
  std::optional<std::string> ShowOpenFileDialog(const update::OpenFileRequest& request) override;

 signals:
  // A road has ended: a run that failed or wrote nothing, or a completed run once its
  // controller is back (or its bound passed).
  void RunEnded();

 public slots:
  void done(int result) override;

 protected:
  // Runs once, on the first show, before the window appears.
  virtual void OnInitDialog();
  void showEvent(QShowEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void BuildControls();
  std::string Text(std::uint32_t textId) const;
  void WatchDeviceNotices();
  void OnNoticesReadable();
  void OnUpdateClicked();
  void OnRoadEnded(const update::RoadEnd& end);
  std::uint16_t LanguageId() const;
  // The completion label tells the state the user must act on (update::StatusLine), and
  // while no controller can be used, why (update::WhyNoController), across the window
  // above the button; otherwise it is as the template has it.
  void ShowStatus();

  // Runs operation on the UI thread: in place when called there, else queued without
  // waiting (a window gone by then drops it).
  template <typename Operation>
  void OnUiThread(Operation operation);

  const DialogOptions m_Options;
  QIcon m_hIcon;
  DialogBaseUnits m_BaseUnits;

  QProgressBar* m_ProgressBar = nullptr;
  QPushButton* m_UpdateButton = nullptr;
  QLabel* m_CompletionLabel = nullptr;
  QLabel* m_InstructionLabel = nullptr;

  std::optional<std::string> m_NextImage;
  bool m_Initialised = false;
  bool m_Closing = false;
  bool m_UpgradedShown = false;  // ShowCompletionLabel's: "Firmware upgraded!" is shown
  std::optional<update::RunOutcome> m_LastOutcome;

  // The notifier and the timer go before the road (which joins its run's worker), and the
  // road before the platform's descriptor it watches.
  std::unique_ptr<update::CRoad> m_Road;
  std::unique_ptr<QSocketNotifier> m_NoticeNotifier;
  QTimer* m_RoadTimer = nullptr;
};

}  // namespace app
