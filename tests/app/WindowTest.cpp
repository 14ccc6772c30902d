// The window headless: its controls after start, its texts in both languages, its keys,
// a whole update with the run's dialogs answered from here, and closing during a run.
#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
#include <future>
#include <memory>

#include "app/DialogGeometry.h"
#include "app/UpdateApp.h"
#include "app/UpdateDlg.h"
#include "platform/DeviceAccess.h"
#include "protocol/Crc16.h"
#include "sim/SimPlatform.h"
#include "tests/support/FakeHidPlatform.h"
#include "tests/support/Images.h"
#include "tests/support/Replies.h"
#include "tests/support/TempDir.h"
#include "update/Words.h"

namespace {

using testing_support::AppInfo;
using testing_support::AppReply;
using testing_support::BootReply;
using testing_support::Le16;
using testing_support::Le32;
using update::RunFailure;
using Bytes = std::vector<std::uint8_t>;
using Codes = std::vector<std::uint16_t>;

const hid::InterfaceInfo kAppDevice{"/dev/hidraw3", hid::kVendorId, hid::kAppProductId};
const hid::InterfaceInfo kBootDevice{"/dev/hidraw4", hid::kVendorId, hid::kBootProductId};
const QString kTitle = QStringLiteral("Corvane Update v2.15");
const QString kFileDialog = QStringLiteral("file:File type(*.dat) (*.dat)");

// Answers the run's boxes and file dialogs in order, from a timer that polls for them.
// An answer is given again on every poll while its dialog stays open: the file dialog
// fills in a chosen file only once its model has caught up.
class CModalAnswerer : public QObject {
 public:
  enum class Action { kChoose, kCancel, kOk, kEscape, kCloseBox, kCloseMainWindow };
  struct Answer {
    Action action;
    QString path = {};
    std::function<void()> meanwhile = {};  // done once, when its dialog is first seen
  };

  CModalAnswerer(QWidget* mainWindow, std::vector<Answer> answers)
      : m_Main(mainWindow), m_Answers(std::move(answers)) {
    connect(&m_Timer, &QTimer::timeout, this, &CModalAnswerer::Poll);
    m_Timer.start(10);
  }

  QStringList seen;     // "file:<filter>" or "box:<caption>|<text>", in order
  QStringList folders;  // the folder each file dialog opened in
  bool plainOwnedBoxes = true;

 private:
  void Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr) {
      return;
    }
    auto* files = qobject_cast<QFileDialog*>(modal);
    auto* box = qobject_cast<QMessageBox*>(modal);
    if (modal != m_Current) {
      if (m_Next >= m_Answers.size()) {
        return;
      }
      m_Current = modal;
      m_Answer = m_Answers[m_Next++];
      if (files != nullptr) {
        seen << QStringLiteral("file:") + files->nameFilters().join(u';');
        folders << files->directory().absolutePath();
      } else if (box != nullptr) {
        seen << QStringLiteral("box:") + box->windowTitle() + u'|' + box->text();
        plainOwnedBoxes &= box->icon() == QMessageBox::NoIcon && box->parentWidget() == m_Main;
      }
      if (m_Answer.meanwhile) {
        m_Answer.meanwhile();
      }
    }
    switch (m_Answer.action) {
      case Action::kChoose:
        // selectFile leaves alone a file name field that has the focus.
        if (QWidget* focused = files->focusWidget()) {
          focused->clearFocus();
        }
        files->selectFile(m_Answer.path);
        if (files->selectedFiles() == QStringList{m_Answer.path}) {
          static_cast<QDialog*>(files)->accept();  // QFileDialog::accept, by the public slot
        }
        break;
      case Action::kCancel:
        qobject_cast<QDialog*>(modal)->reject();
        break;
      case Action::kOk:
        box->button(QMessageBox::Ok)->click();
        break;
      case Action::kEscape:
        QTest::keyClick(modal, Qt::Key_Escape);
        break;
      case Action::kCloseBox:
        modal->close();
        break;
      case Action::kCloseMainWindow:
        m_Main->close();
        break;
    }
  }

  QWidget* const m_Main;
  const std::vector<Answer> m_Answers;
  std::size_t m_Next = 0;
  QPointer<QWidget> m_Current;
  Answer m_Answer{Action::kCancel};
  QTimer m_Timer;
};

using Action = CModalAnswerer::Action;

struct Rig {
  testing_support::CTempDir dir;
  std::shared_ptr<testing_support::CFakeHidPlatform> device =
      std::make_shared<testing_support::CFakeHidPlatform>();
  std::unique_ptr<app::CUpdateDlg> dialog;

  void Start(std::uint16_t language = 1033, std::shared_ptr<hid::IHidPlatform> platform = {},
             std::optional<QString> image = std::nullopt) {
    dialog = std::make_unique<app::CUpdateDlg>(
        platform ? platform : device,
        app::DialogOptions{language,
                           {},
                           {std::chrono::milliseconds(5000)},
                           // A scripted controller never comes back: its road ends soon.
                           {std::chrono::milliseconds(2000), std::chrono::milliseconds(200)}});
    if (image) {
      dialog->AnswerNextFileDialog(image->toStdString());
    }
    dialog->show();
  }
  QProgressBar* Bar() const { return qobject_cast<QProgressBar*>(dialog->GetDlgItem(1003)); }
  QPushButton* Button() const { return qobject_cast<QPushButton*>(dialog->GetDlgItem(1007)); }
  QLabel* Completion() const { return qobject_cast<QLabel*>(dialog->GetDlgItem(-1)); }
  QLabel* Instructions() const { return qobject_cast<QLabel*>(dialog->GetDlgItem(1008)); }
  Codes Sent() const { return testing_support::CodesOf(device->Written()); }

  // An image for `type`, version 2.15, of `blocks` full blocks; its payload.
  QString WriteImage(std::uint32_t blocks, Bytes* payload = nullptr, std::uint32_t type = 0x600A,
                     const char* name = "image.dat") {
    const Bytes bytes = testing_support::Pattern(blocks * 46);
    if (payload != nullptr) {
      *payload = bytes;
    }
    return QString::fromStdString(dir.WriteFile(name, testing_support::ImageBytes(bytes, type)));
  }

  // A boot-mode controller of type 0x600A that answers `typeQueries` type queries, then
  // with the replies of a whole run over an image of `blocks` full blocks (region from 0);
  // the image.
  QString BootDeviceWithImage(std::uint32_t blocks, int typeQueries = 1) {
    Bytes payload;
    const QString path = WriteImage(blocks, &payload);
    device->interfaces = {kBootDevice};
    // The identifications', then the run's own, which asks the type again.
    for (int i = 0; i < typeQueries + 1; ++i) {
      device->QueueReport(BootReply(0x0008, Le16(0x600A)));
    }
    device->QueueReport(BootReply(0x00C1, Le32(0)));
    device->QueueReport(BootReply(0x0004));
    for (std::uint32_t i = 0; i < blocks; ++i) {
      device->QueueReport(BootReply(0x0003));
    }
    device->QueueReport(BootReply(0x00C2));
    const int verified = static_cast<int>(std::min<std::size_t>(4096, payload.size()));
    device->QueueReport(BootReply(0x00C3, Le16(protocol::Crc16(payload.data(), verified))));
    device->QueueReport(BootReply(0x0007));
    return path;
  }
};

}  // namespace

class WindowTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  // The file dialog opens at once. A run ends with nothing but the type query sent when
  // that dialog is cancelled or the window closes over it, when the version prompt is left
  // by Escape or its close box, or when the image is of another type (an image given on
  // the command line answers the first file dialog only, after the same check). No dead
  // end: the controller then waits in boot mode with the button enabled, and a click asks
  // again.
  void aRunThatWroteNothingLeavesTheButtonToTryAgain_data() {
    QTest::addColumn<bool>("given");        // the image of another type on the command line
    QTest::addColumn<QList<int>>("first");  // the answers of the first run's dialogs
    QTest::addColumn<int>("failure");
    QTest::addColumn<QStringList>("seen");
    const QString unknown = "box:" + kTitle + "|New firmware 2.15 and current is unknown\n";
    const QString wrong = "box:" + kTitle + "|The firmware type is error!\n";
    const int choose = int(Action::kChoose);
    QTest::newRow("file dialog cancelled")
        << false << QList<int>{int(Action::kCancel)} << int(RunFailure::kNoImageChosen)
        << QStringList{kFileDialog};
    QTest::newRow("window closed over it") << false << QList<int>{int(Action::kCloseMainWindow)}
                                           << int(RunFailure::kStopped) << QStringList{kFileDialog};
    QTest::newRow("prompt escaped")
        << false << QList<int>{choose, int(Action::kEscape)} << int(RunFailure::kDeclined)
        << QStringList{kFileDialog, unknown};
    QTest::newRow("prompt closed")
        << false << QList<int>{choose, int(Action::kCloseBox)} << int(RunFailure::kDeclined)
        << QStringList{kFileDialog, unknown};
    QTest::newRow("an image of another type")
        << false << QList<int>{-1, int(Action::kOk)} << int(RunFailure::kImageRefused)
        << QStringList{kFileDialog, wrong};
    QTest::newRow("one of another type on the command line")
        << true << QList<int>{int(Action::kOk)} << int(RunFailure::kImageRefused)
        << QStringList{wrong};
  }
  void aRunThatWroteNothingLeavesTheButtonToTryAgain() {
    QFETCH(bool, given);
    QFETCH(QList<int>, first);
    QFETCH(int, failure);
    QFETCH(QStringList, seen);
    Rig rig;
    const QString image = rig.BootDeviceWithImage(3, 2);  // identified at start and after
    const QString wrong = rig.WriteImage(3, nullptr, 0x6011, "wrong.dat");
    rig.Start(1033, {}, given ? std::optional<QString>(wrong) : std::nullopt);
    std::vector<CModalAnswerer::Answer> answers;
    for (const int action : first) {  // -1: the image of another type chosen
      answers.push_back(action < 0 ? CModalAnswerer::Answer{Action::kChoose, wrong}
                                   : CModalAnswerer::Answer{static_cast<Action>(action), image});
    }
    answers.insert(answers.end(), {{Action::kChoose, image}, {Action::kOk}, {Action::kOk}});
    CModalAnswerer answerer(rig.dialog.get(), answers);
    QSignalSpy ended(rig.dialog.get(), &app::CUpdateDlg::RunEnded);
    QVERIFY(ended.wait(10000));
    QCOMPARE(answerer.seen, seen);
    QCOMPARE(int(rig.dialog->LastRunOutcome()->failure), failure);
    QCOMPARE(rig.dialog->Road().Control().GetDeviceKind(), 5);
    // Nothing of a run was sent: only the type queries, the second one looking again
    // once the run had ended.
    const Codes sent = rig.Sent();
    QVERIFY(!sent.empty());
    QCOMPARE(std::count(sent.begin(), sent.end(), 0x0008), qsizetype(sent.size()));
    if (first.front() == int(Action::kCloseMainWindow)) {
      QTRY_VERIFY_WITH_TIMEOUT(!rig.dialog->isVisible(), 5000);
      return;
    }
    QTRY_VERIFY_WITH_TIMEOUT(rig.Button()->isEnabled(), 5000);
    QTest::mouseClick(rig.Button(), Qt::LeftButton);
    QVERIFY(ended.wait(10000));
    const auto outcome = rig.dialog->LastRunOutcome();
    QVERIFY2(outcome->Completed(), update::Describe(*outcome).c_str());
    QCOMPARE(answerer.seen.mid(seen.size(), 1), QStringList{kFileDialog});
    QVERIFY(rig.Completion()->isVisible());
    // The first file dialog opens in the user's downloads (home without one), never in
    // the folder the program was started in; once an image was chosen, where it was.
    const QString found = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    const QString downloads = QDir(QDir(found).exists() ? found : QDir::homePath()).absolutePath();
    QCOMPARE(answerer.folders.first(), given ? QFileInfo(image).absolutePath() : downloads);
    const bool chosen = given || first.front() != int(Action::kCancel);
    QCOMPARE(answerer.folders.last(), chosen ? QFileInfo(image).absolutePath() : downloads);
  }

  // A controller replugged while the file dialog is open is identified once the run
  // ends: the cancel leaves the window with the controller as it now is.
  void aReplugDuringTheFileDialogIsIdentifiedAfterTheCancel() {
    Rig rig;
    rig.device->interfaces = {kBootDevice};
    rig.device->QueueReport(BootReply(0x0008, Le16(0x600A)));
    rig.Start();
    CModalAnswerer answerer(rig.dialog.get(),
                            {{Action::kCancel, {}, [&] {
                                rig.device->interfaces = {kAppDevice};
                                rig.device->QueueReport(AppReply(0x0101, AppInfo(0x600A, 214)));
                              }}});
    QSignalSpy ended(rig.dialog.get(), &app::CUpdateDlg::RunEnded);
    QVERIFY(ended.wait(10000));
    QCOMPARE(rig.dialog->Road().Control().GetCurrentFirmwareInfo(), 214u);
    QVERIFY(rig.Button()->isEnabled());
    QCOMPARE(rig.Sent(), (Codes{0x0008, 0x0101}));
  }

  // Without a controller: the button disabled, the bar empty, the reason in the place of
  // the instructions; the controls where template 102 puts them in the font's base units.
  // The texts' table, and Qt's own words (the file dialog's buttons) from Qt's catalog.
  // A controller the system will not let this user open: the label names it and the fix.
  void aControllerThatMayNotBeOpenedIsExplainedInTheLabel() {
    Rig rig;
    rig.device->interfaces = {{"/dev/hidraw5", hid::kVendorId, hid::kAppProductId}};
    rig.device->writeOpenError = base::Error{base::ErrorKind::kPermissionDenied, "EACCES"};
    rig.Start();
    QVERIFY(rig.Completion()->isVisible() && !rig.Button()->isEnabled());
    QVERIFY2(rig.Completion()->text().startsWith(
                 "The controller in application mode is at /dev/hidraw5, but this user may not "
                 "open it (EACCES). Install the controller's udev rule with echo"),
             qPrintable(rig.Completion()->text()));
  }

  void startsWithoutADeviceInItsLanguageLaidOutAsTemplate102_data() {
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("completion");
    QTest::addColumn<QString>("instructions");
    QTest::addColumn<QStringList>("fileButtons");
    QTest::newRow("2052") << 2052 << QStringLiteral("USB 升级")
                          << QStringLiteral(
                                 "没有连接任何来自手柄厂商（厂商 ID 0x4B2E）的设备。请检查")
                          << QStringLiteral(
                                 "1. 将接收器通过USB口连接电脑。 \n\n"
                                 "2. 点击 USB 升级按钮，选择固件文件(.dat)升级。")
                          << QStringList{QStringLiteral("打开(&O)"), QStringLiteral("取消")};
    QTest::newRow("1033") << 1033 << QStringLiteral("USB Update")
                          << QStringLiteral(
                                 "No device of the controller's maker (vendor ID 0x4B2E) is "
                                 "connected, on any bus. Check that the cable carries data")
                          << QStringLiteral(
                                 "1. Connect the receiver to the PC via USB.\n\n"
                                 "2. Click \"USB Update\" button and select firmware file\n"
                                 "   (.dat).")
                          << QStringList{QStringLiteral("&Open"), QStringLiteral("Cancel")};
  }
  void startsWithoutADeviceInItsLanguageLaidOutAsTemplate102() {
    QFETCH(int, language);
    QFETCH(QString, button);
    QFETCH(QString, completion);
    QFETCH(QString, instructions);
    QFETCH(QStringList, fileButtons);
    QTranslator qtTexts;
    QCOMPARE(app::LoadQtTranslations(qtTexts, static_cast<std::uint16_t>(language)),
             language == 2052);
    QApplication::installTranslator(&qtTexts);
    Rig rig;
    rig.Start(static_cast<std::uint16_t>(language));
    QCOMPARE(rig.dialog->windowTitle(), kTitle);
    QCOMPARE(rig.Button()->text(), button);
    QVERIFY2(rig.Completion()->text().startsWith(completion), qPrintable(rig.Completion()->text()));
    QCOMPARE(rig.Instructions()->text(), instructions);
    QVERIFY(!rig.Button()->isEnabled());
    QCOMPARE(rig.Bar()->value(), 0);
    QCOMPARE(rig.Bar()->maximum(), 100);
    QVERIFY(rig.Completion()->isVisible());
    QVERIFY(!rig.Instructions()->isVisible());
    QVERIFY(rig.dialog->GetDlgItem(1011) == nullptr);
    const auto pixels = [&](int x, int y, int w, int h) {
      const app::DialogRect r = app::MapDialogRect({x, y, w, h}, rig.dialog->BaseUnits());
      return QRect(r.x, r.y, r.width, r.height);
    };
    QCOMPARE(QRect(QPoint(), rig.dialog->size()), pixels(0, 0, 244, 130));
    QCOMPARE(rig.Bar()->geometry(), pixels(7, 7, 230, 14));
    QCOMPARE(rig.Button()->geometry(), pixels(7, 101, 230, 22));
    QCOMPARE(rig.Completion()->geometry(), pixels(7, 25, 230, 74));  // over the instructions
    QCOMPARE(rig.Instructions()->geometry(), pixels(7, 25, 230, 42));

    QStringList shown;
    QTimer look;
    connect(&look, &QTimer::timeout, [&] {
      if (auto* files = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
        for (QAbstractButton* each : files->findChild<QDialogButtonBox*>()->buttons()) {
          shown << each->text();
        }
        files->reject();
      }
    });
    look.start(10);
    (void)rig.dialog->ShowOpenFileDialog({"File type(*.dat)|*.dat||", "*.*", "", ""});
    QApplication::removeTranslator(&qtTexts);
    QCOMPARE(shown, fileButtons);
  }

  void endsByEscapeCloseBoxOrEnterOffTheButton_data() {
    QTest::addColumn<bool>("device");
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("ends");
    QTest::newRow("Escape") << false << "escape" << true;
    QTest::newRow("close box") << false << "close" << true;
    QTest::newRow("Enter, button disabled") << false << "enter" << true;
    QTest::newRow("Enter on the button") << true << "enter" << false;
  }
  void endsByEscapeCloseBoxOrEnterOffTheButton() {
    QFETCH(bool, device);
    QFETCH(QString, how);
    QFETCH(bool, ends);
    Rig rig;
    if (device) {
      rig.device->interfaces = {kAppDevice};
      rig.device->QueueReport(AppReply(0x0101, AppInfo(0x600A, 214)));
    }
    rig.Start();
    rig.dialog->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(rig.dialog.get()));
    // The window system gives the focus to the first enabled tab stop.
    QCOMPARE(rig.Button()->hasFocus(), device);
    QWidget* target = device ? static_cast<QWidget*>(rig.Button()) : rig.dialog.get();
    if (how == "escape") {
      QTest::keyClick(target, Qt::Key_Escape);
    } else if (how == "enter") {
      QTest::keyClick(target, Qt::Key_Return);
    } else {
      rig.dialog->close();
    }
    QCOMPARE(rig.dialog->isVisible(), !ends);
    // Enter on the button presses it: the boot-mode command goes out.
    QCOMPARE(rig.Sent(), device ? (Codes{0x0101, 0x000C}) : Codes{});
  }

  void updatesTheSimulatedControllerFromClickToNewFirmware() {
    sim::SimConfig config = platform::SimulatedControllerConfig();
    config.eraseTime = std::chrono::milliseconds(0);
    config.replyLatency = std::chrono::microseconds(0);
    config.reenumerateDelay = std::chrono::milliseconds(20);
    const auto controller = std::make_shared<sim::CSimController>(config);
    Rig rig;
    Bytes payload;
    const QString image = rig.WriteImage(100, &payload);
    rig.Start(1033, std::make_shared<sim::CSimPlatform>(controller));
    QVERIFY(rig.Button()->isEnabled());

    std::vector<int> progress;
    QObject::connect(rig.Bar(), &QProgressBar::valueChanged, [&](int v) { progress.push_back(v); });
    CModalAnswerer answerer(rig.dialog.get(),
                            {{Action::kChoose, image}, {Action::kOk}, {Action::kOk}});
    QSignalSpy ended(rig.dialog.get(), &app::CUpdateDlg::RunEnded);
    // The click restarts the controller into its bootloader; its notices bring it back
    // in boot mode and start the run.
    QTest::mouseClick(rig.Button(), Qt::LeftButton);
    QVERIFY(ended.wait(15000));

    const auto outcome = rig.dialog->LastRunOutcome();
    QVERIFY2(outcome->Completed(), update::Describe(*outcome).c_str());
    QCOMPARE(answerer.seen,
             (QStringList{kFileDialog, "box:" + kTitle + "|New firmware 2.15 and current is 2.14\n",
                          "box:" + kTitle + "|\n Firmware upgraded! \n"}));
    QVERIFY(answerer.plainOwnedBoxes);
    QVERIFY(controller->StoredRegion() == payload);
    // The bar went up block by block, and back to 0 before the success message.
    QVERIFY(progress.size() >= 90);
    QVERIFY(std::is_sorted(progress.begin(), progress.end() - 1));
    QCOMPARE(progress.back(), 0);
    QVERIFY(rig.Completion()->isVisible());
    // The controller comes back in application mode and is read again: 2.15.
    QTRY_COMPARE_WITH_TIMEOUT(rig.dialog->Road().Control().GetCurrentFirmwareInfo(), 215u, 10000);
    // Back with its new firmware: the label says so in place of the instructions, and the
    // button may start another update.
    QTRY_COMPARE(rig.Completion()->text(),
                 QStringLiteral("Firmware upgraded to 2.15. You can unplug the controller."));
    QVERIFY(rig.Completion()->isVisible() && !rig.Instructions()->isVisible());
    QVERIFY(rig.Button()->isEnabled());
  }

  // Closing while blocks stream asks first. Yes: the run stops at the next block boundary
  // and the window ends; No: the run goes on to the end.
  void closingWhileStreamingAsksThenStopsOrGoesOn_data() {
    QTest::addColumn<bool>("stop");
    QTest::newRow("yes") << true;
    QTest::newRow("no") << false;
  }
  void closingWhileStreamingAsksThenStopsOrGoesOn() {
    QFETCH(bool, stop);
    Rig rig;
    const QString image = rig.BootDeviceWithImage(100);
    rig.Start();
    // The user closes the window once block 10 of 100 is confirmed; the worker goes on
    // only once the answer has taken effect, so a stop meets it at that block boundary.
    std::promise<void> decided;
    std::atomic<bool> told{false};
    const auto decide = [&] {
      if (!told.exchange(true)) {
        decided.set_value();
      }
    };
    QObject::connect(rig.dialog.get(), &QDialog::finished, decide);
    CModalAnswerer answerer(rig.dialog.get(),
                            {{Action::kChoose, image},
                             {Action::kOk},
                             {stop ? Action::kOk : Action::kCancel,
                              {},
                              [&] {
                                if (!stop) {
                                  QObject::connect(
                                      qobject_cast<QDialog*>(QApplication::activeModalWidget()),
                                      &QDialog::finished, decide);
                                }
                              }},
                             {Action::kOk}});  // the success box, when the run went on
    rig.dialog->Road().SetRunProgressObserver([&](const update::RunOutcome& now) {
      if (now.step == update::RunStep::kStreaming && now.block == 10) {
        QMetaObject::invokeMethod(rig.dialog.get(), &QWidget::close, Qt::QueuedConnection);
        (void)decided.get_future().wait_for(std::chrono::seconds(10));
      }
    });
    QSignalSpy ended(rig.dialog.get(), &app::CUpdateDlg::RunEnded);
    QVERIFY(ended.wait(10000));
    QCOMPARE(answerer.seen.mid(2, 1),
             QStringList{"box:" + kTitle +
                         "|An update is running. Stop it? The controller will stay in boot "
                         "mode."});
    const auto outcome = rig.dialog->LastRunOutcome();
    const Codes sent = rig.Sent();
    QCOMPARE(rig.dialog->isVisible(), !stop);
    if (!stop) {
      QVERIFY(outcome->Completed());
      QCOMPARE(std::count(sent.begin(), sent.end(), 0x0003), 100);
      return;
    }
    QCOMPARE(outcome->failure, RunFailure::kStopped);
    QCOMPARE(outcome->step, update::RunStep::kStreaming);
    QCOMPARE(outcome->block, 10u);
    QCOMPARE(std::count(sent.begin(), sent.end(), 0x0003), 10);
    QCOMPARE(std::count(sent.begin(), sent.end(), 0x00C2), 0);
    rig.dialog.reset();  // joins the worker
  }

  void destroyingTheWindowDuringARunLeavesNothingBehind() {
    Rig rig;
    rig.BootDeviceWithImage(1);
    rig.Start();
    // The run holds the link; its file dialog opens once the event loop turns.
    QVERIFY(rig.dialog->Road().IsRunActive());
    rig.dialog.reset();
    QTest::qWait(0);  // the queued asking finds no window and does nothing
    QCOMPARE(rig.Sent(), Codes{0x0008});
  }
};

int main(int argc, char** argv) {
  QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
  QApplication application(argc, argv);
  WindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "WindowTest.moc"
