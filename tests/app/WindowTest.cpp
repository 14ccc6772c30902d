// The window headless: its controls after start, its texts in both languages, its keys,
// how every road started by a click ends, with the run's dialogs answered from here, and
// closing during a run.
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
#include "sim/SimPlatform.h"
#include "tests/support/FakeHidPlatform.h"
#include "tests/support/Images.h"
#include "tests/support/RoadEndings.h"
#include "tests/support/TempDir.h"
#include "update/Words.h"

namespace {

using update::RunFailure;
using Bytes = std::vector<std::uint8_t>;
using Codes = std::vector<std::uint16_t>;

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
  std::shared_ptr<sim::CSimPlatform> simulated;  // instead of device, when set
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
  Codes Sent() const {
    if (!simulated) {
      return testing_support::CodesOf(device->Written());
    }
    std::vector<Bytes> frames;
    for (const sim::SimFrameRecord& frame : simulated->Controller().Received()) {
      frames.push_back(frame.bytes);
    }
    return testing_support::CodesOf(frames);
  }

  // An image for `type`, version 2.15, of `blocks` full blocks.
  QString WriteImage(std::uint32_t blocks, std::uint32_t type = 0x600A,
                     const char* name = "image.dat") {
    return QString::fromStdString(dir.WriteFile(
        name, testing_support::ImageBytes(testing_support::Pattern(blocks * 46), type)));
  }

  // One simulated controller of type 0x600A, 2.14: in application mode, or waiting in boot mode.
  void StartSimulated(bool bootMode = true, std::optional<QString> image = std::nullopt) {
    sim::SimConfig config;
    config.startInBootMode = bootMode;
    simulated = std::make_shared<sim::CSimPlatform>(std::make_shared<sim::CSimController>(config));
    Start(1033, simulated, image);
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
    const QString image = rig.WriteImage(3);
    const QString wrong = rig.WriteImage(3, 0x6011, "wrong.dat");
    rig.StartSimulated(true, given ? std::optional<QString>(wrong) : std::nullopt);
    std::vector<CModalAnswerer::Answer> answers;
    for (const int action : first) {  // -1: the image of another type chosen
      answers.push_back(action < 0 ? CModalAnswerer::Answer{Action::kChoose, wrong}
                                   : CModalAnswerer::Answer{static_cast<Action>(action), image});
    }
    // Found waiting in boot mode, the controller is said to wait before anything is asked.
    QString labelWhileAsked;
    answers.front().meanwhile = [&] { labelWhileAsked = rig.Completion()->text(); };
    answers.push_back({Action::kCancel});
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
    const QString waiting = QString::fromUtf8(testing_support::kWaitingInBootMode.english);
    QCOMPARE(labelWhileAsked, waiting);
    QTRY_VERIFY_WITH_TIMEOUT(rig.Button()->isEnabled(), 5000);
    QCOMPARE(rig.Completion()->text(), waiting);
    QTest::mouseClick(rig.Button(), Qt::LeftButton);
    QVERIFY(ended.wait(10000));
    QCOMPARE(answerer.seen.mid(seen.size()), QStringList{kFileDialog});
    // The first file dialog opens in the user's downloads (home without one), never in
    // the folder the program was started in; once an image was chosen, where it was.
    const QString found = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    const QString downloads = QDir(QDir(found).exists() ? found : QDir::homePath()).absolutePath();
    QCOMPARE(answerer.folders.first(), given ? QFileInfo(image).absolutePath() : downloads);
    const bool chosen = given || first.front() != int(Action::kCancel);
    QCOMPARE(answerer.folders.last(), chosen ? QFileInfo(image).absolutePath() : downloads);
  }

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

  // Without a controller: the button disabled, the bar empty, the reason in the place of
  // the instructions; the controls where template 102 puts them in the font's base units.
  // The texts' table, and Qt's own words (the file dialog's buttons) from Qt's catalog.
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
    device ? rig.StartSimulated(false) : rig.Start();
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

  // Every way a road started by a click ends (tests/support/RoadEndings.h), in both
  // languages, against the simulated controller: the box that says it, with the bar back
  // at 0 behind it after going up; then the label and the button. A completed road wrote
  // the image, block by block, and another controller plugged in meanwhile got nothing.
  void saysHowARoadEnded_data() {
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("language");
    const auto endings = testing_support::RoadEndings();
    for (int row = 0; row < int(endings.size()); ++row) {
      for (const int language : {1033, 2052}) {
        QTest::addRow("%s, %d", endings[row].name, language) << row << language;
      }
    }
  }
  void saysHowARoadEnded() {
    QFETCH(int, row);
    QFETCH(int, language);
    using testing_support::ChosenImage;
    const testing_support::RoadEnding ending = testing_support::RoadEndings()[row];
    const auto platform = testing_support::EndingPlatform(ending);
    Rig rig;
    const QString image = QString::fromStdString(
        rig.dir.WriteFile("image.dat", testing_support::EndingImage(ending.image)));
    rig.Start(static_cast<std::uint16_t>(language), platform);

    std::vector<int> progress;
    QObject::connect(rig.Bar(), &QProgressBar::valueChanged, [&](int v) { progress.push_back(v); });
    int barBehindBox = -1;
    std::vector<CModalAnswerer::Answer> answers;
    if (ending.image != ChosenImage::kNone) {
      answers.push_back({Action::kChoose, image, [&] {
                           if (ending.intruder) {  // handled while the file dialog is open
                             platform->Controller(0).PlugIn(sim::SimMode::kBoot);
                             QVERIFY(
                                 QTest::qWaitFor([&] { return !platform->Notices().WaitFor({}); }));
                           }
                         }});
    }
    if (ending.image == ChosenImage::kWhole) {
      answers.push_back({Action::kOk});  // the version question
    }
    answers.push_back({Action::kOk, {}, [&] { barBehindBox = rig.Bar()->value(); }});
    CModalAnswerer answerer(rig.dialog.get(), answers);
    QTest::mouseClick(rig.Button(), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(answerer.seen.size(), qsizetype(answers.size()), 10000);
    QCOMPARE(answerer.seen.back(),
             "box:" + kTitle + u'|' + QString::fromUtf8(ending.box.In(language)));
    QVERIFY(answerer.plainOwnedBoxes);
    QCOMPARE(barBehindBox, 0);
    QVERIFY(progress.empty() ||
            (std::is_sorted(progress.begin(), progress.end() - 1) && progress.back() == 0));
    QTRY_VERIFY2_WITH_TIMEOUT(
        rig.Completion()->text().startsWith(QString::fromUtf8(ending.label.In(language))),
        qPrintable(rig.Completion()->text()), 5000);
    QVERIFY(rig.Completion()->isVisible() && !rig.Instructions()->isVisible());
    QTRY_COMPARE(rig.Button()->isEnabled(), ending.ButtonAfter());
    if (ending.faults.empty() && ending.image == ChosenImage::kWhole) {
      QVERIFY(progress.size() >= testing_support::kEndingBlocks);
      QVERIFY(platform->Controller(1).StoredRegion() ==
              testing_support::Pattern(testing_support::kEndingBlocks * 46));
    }
    QVERIFY(platform->Controller(0).Received().empty());
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
    const QString image = rig.WriteImage(100);
    rig.StartSimulated();
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
    rig.StartSimulated();
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
