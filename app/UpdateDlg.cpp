#include "app/UpdateDlg.h"

#include <QDir>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <utility>

#include "app/AppIcon.h"
#include "app/DialogFont.h"
#include "app/DialogTemplate.h"
#include "text/LocalizedText.h"
#include "text/UiLanguage.h"
#include "update/RoadWords.h"

namespace app {
namespace {

// The property that carries a control's template id.
constexpr const char* kControlIdProperty = "controlId";

// The texts break lines with \r\n, as the system's static controls expect; Qt breaks
// them at \n and would show the \r.
QString DisplayText(const std::string& text) {
  QString shown = QString::fromStdString(text);
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return shown;
}

// A filter "label|pattern||" as Qt's name filter "label (pattern)"; empty for none.
QString NameFilter(const std::string& filter) {
  const auto entry = update::FirstFilterEntry(filter);
  if (!entry) {
    return {};
  }
  QString patterns = QString::fromStdString(entry->pattern);
  patterns.replace(u';', u' ');
  return QString::fromStdString(entry->label) + QStringLiteral(" (") + patterns + u')';
}

}  // namespace

CUpdateDlg::CUpdateDlg(std::shared_ptr<hid::IHidPlatform> platform, DialogOptions options)
    : QDialog(nullptr), m_Options(std::move(options)), m_hIcon(ApplicationIcon()) {
  // A caption with the system menu and the close box; no minimise or maximise box.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setWindowTitle(QString::fromUtf8(kTemplateCaption));
  BuildControls();

  m_RoadTimer = new QTimer(this);
  m_RoadTimer->setSingleShot(true);
  connect(m_RoadTimer, &QTimer::timeout, this, [this] { m_Road->OnTimer(); });

  update::RoadOptions road;
  road.commands = m_Options.commands;
  road.languageId = m_Options.languageId;
  road.debug = m_Options.debug;
  road.waits = m_Options.waits;
  road.postToOwner = [this](std::function<void()> work) {
    QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
  };
  road.armTimer = [this](std::optional<std::chrono::milliseconds> wait) {
    if (wait) {
      m_RoadTimer->start(static_cast<int>(std::max<std::int64_t>(0, wait->count())));
    } else {
      m_RoadTimer->stop();
    }
  };
  road.onEnded = [this](const update::RoadEnd& end) { OnRoadEnded(end); };
  road.onChanged = [this](const update::RoadView&) { ShowStatus(); };
  m_Road = std::make_unique<update::CRoad>(std::move(platform), *this, std::move(road));
}

CUpdateDlg::~CUpdateDlg() {
  // A run still going on stops at its next block boundary; the update control joins its
  // worker, which waits on nothing of this window's.
  m_NoticeNotifier.reset();
  m_Road->RequestStop();
  m_Road.reset();
}

void CUpdateDlg::BuildControls() {
  setFont(ChooseDialogFont());
  m_BaseUnits = BaseUnitsOf(font());
  const DialogRect client =
      MapDialogRect({0, 0, kDialogWidthUnits, kDialogHeightUnits}, m_BaseUnits);
  setFixedSize(client.width, client.height);

  // Created in template order, which is also the tab order.
  for (const ControlTemplate& control : kDialog102) {
    QWidget* widget = nullptr;
    const QString text = QString::fromUtf8(control.text);
    switch (control.kind) {
      case ControlKind::kProgressBar: {
        auto* bar = new QProgressBar(this);
        bar->setTextVisible(false);
        widget = bar;
        break;
      }
      case ControlKind::kPushButton: {
        auto* button = new QPushButton(text, this);
        // A plain push button, not the dialog's default one: Enter presses it only while
        // it has the focus, and ends the dialog otherwise.
        button->setAutoDefault(false);
        widget = button;
        break;
      }
      case ControlKind::kStaticCentred: {
        auto* label = new QLabel(text, this);
        label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        widget = label;
        break;
      }
      case ControlKind::kStaticWrapped: {
        auto* label = new QLabel(text, this);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setWordWrap(true);
        widget = label;
        break;
      }
    }
    widget->setProperty(kControlIdProperty, control.id);
    widget->setFocusPolicy(control.tabStop ? Qt::StrongFocus : Qt::NoFocus);
    widget->setEnabled(control.enabled);
    const DialogRect pixels = MapDialogRect(control.units, m_BaseUnits);
    widget->setGeometry(pixels.x, pixels.y, pixels.width, pixels.height);
  }
  connect(qobject_cast<QPushButton*>(GetDlgItem(kIdUpdateButton)), &QPushButton::clicked, this,
          &CUpdateDlg::OnUpdateClicked);
}

QWidget* CUpdateDlg::GetDlgItem(int id) const {
  const auto children = findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
  for (QWidget* child : children) {
    const QVariant value = child->property(kControlIdProperty);
    if (value.isValid() && value.toInt() == id) {
      return child;
    }
  }
  return nullptr;
}

std::string CUpdateDlg::Text(std::uint32_t textId) const {
  return m_Options.languageId ? text::LoadLocalizedText(textId, *m_Options.languageId)
                              : text::LoadLocalizedText(textId);
}

void CUpdateDlg::showEvent(QShowEvent* event) {
  if (!m_Initialised) {
    m_Initialised = true;
    OnInitDialog();
    // The template places the dialog at 0, 0; it is centred in the work area instead.
    if (const QScreen* shown = screen()) {
      const QRect area = shown->availableGeometry();
      move(area.center() - QPoint(width() / 2, height() / 2));
    }
  }
  QDialog::showEvent(event);
}

void CUpdateDlg::OnInitDialog() {
  // 1. The base dialog has nothing of its own to set up.
  // 2. The icon, for the caption and the task bar alike.
  setWindowIcon(m_hIcon);

  // 3. The notice for other markets goes to a control this template lacks.
  const std::uint16_t language =
      m_Options.languageId ? *m_Options.languageId : text::GetUserDefaultUILanguage();
  if (language != text::kLangChinesePrc) {
    if (auto* notice = qobject_cast<QLabel*>(GetDlgItem(kIdNoticeLabel))) {
      notice->setText(QStringLiteral("For Corvane 2nd gen Vantor 2.4G Wired Controller only"));
    }
  }

  // 4. The controls the update control changes.
  m_UpdateButton = qobject_cast<QPushButton*>(GetDlgItem(kIdUpdateButton));
  m_ProgressBar = qobject_cast<QProgressBar*>(GetDlgItem(kIdProgressBar));
  m_CompletionLabel = qobject_cast<QLabel*>(GetDlgItem(kIdCompletionLabel));

  // 5. and 6. The labels.
  m_CompletionLabel->hide();
  m_CompletionLabel->setText(DisplayText(Text(text::kFirmwareUpgraded)));
  m_InstructionLabel = qobject_cast<QLabel*>(GetDlgItem(kIdInstructionLabel));
  m_InstructionLabel->setText(DisplayText(Text(text::kInstructions)));

  // 7. The bar.
  m_ProgressBar->setRange(0, 100);
  m_ProgressBar->setValue(0);

  // 8. The update state (chunk, header, byte count) starts cleared in the controller.
  // 9. The button's caption.
  m_UpdateButton->setText(DisplayText(Text(text::kUsbUpdate)));

  // 10. Where notices go, on systems that post them to a window.
  m_Road->Link().SetNotifyWindow(static_cast<hid::NativeWindow>(winId()));

  // 11. to 13. The first scan: version unread, search, identify, the button, the title.
  // A device already in boot mode starts a run here; its file dialog opens as soon as
  // the event loop turns, over the window.
  m_Road->StartUp();
  WatchDeviceNotices();

  // 14. The focus is left to the window system: the first enabled tab stop gets it.
}

void CUpdateDlg::WatchDeviceNotices() {
  // The first scan registered for notices; platforms that queue them say so by a
  // descriptor that is readable while notices are pending.
  const int fd = m_Road->Link().Platform().NoticeFd();
  if (fd < 0 || m_NoticeNotifier) {
    return;
  }
  m_NoticeNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
  connect(m_NoticeNotifier.get(), &QSocketNotifier::activated, this,
          &CUpdateDlg::OnNoticesReadable);
}

void CUpdateDlg::OnNoticesReadable() {
  if (m_Closing) {
    (void)m_Road->Link().Platform().TakeNotices();
    return;
  }
  m_Road->HandleNotices();
}

void CUpdateDlg::OnUpdateClicked() {
  if (!m_Closing) {
    m_Road->OnUpdateClicked();
  }
}

void CUpdateDlg::paintEvent(QPaintEvent* event) {
  if (!isMinimized()) {
    QDialog::paintEvent(event);
    return;
  }
  // Where the window system lets a minimised window paint itself, it shows the icon
  // in the middle of its client area.
  QPainter painter(this);
  painter.fillRect(rect(), palette().window());
  const QSize icon(kIconSize, kIconSize);
  const IconOrigin origin = CenteredIconOrigin(width(), height(), icon.width(), icon.height());
  m_hIcon.paint(&painter, QRect(QPoint(origin.x, origin.y), icon));
}

void CUpdateDlg::keyPressEvent(QKeyEvent* event) {
  if (event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier) {
    switch (event->key()) {
      case Qt::Key_Escape:
        reject();
        return;
      case Qt::Key_Enter:
      case Qt::Key_Return:
        // Enter reaches the dialog when the button did not take it: the button has the
        // focus only when it is enabled, and then presses itself.
        if (m_UpdateButton != nullptr && m_UpdateButton->hasFocus()) {
          m_UpdateButton->click();
        } else {
          accept();
        }
        return;
      default:
        break;
    }
  }
  QDialog::keyPressEvent(event);
}

void CUpdateDlg::done(int result) {
  // While a run writes the controller, closing asks first; then the run stops at its next
  // block boundary, and a file dialog or box open over the window is cancelled.
  if (!m_Closing && !m_Road->MayClose()) {
    return;  // the run goes on
  }
  m_Closing = true;
  m_Road->RequestStop();
  for (QDialog* modal : findChildren<QDialog*>(Qt::FindDirectChildrenOnly)) {
    if (modal->isVisible()) {
      modal->reject();
    }
  }
  QDialog::done(result);
}

void CUpdateDlg::OnRoadEnded(const update::RoadEnd& end) {
  m_LastOutcome = end.outcome;
  if (const auto failed = update::FailureText(end, LanguageId()); failed && !m_Closing) {
    // A failure is said, not left to look like work in progress. After the road's own
    // call has returned: the box's loop must not run inside it.
    m_ProgressBar->setValue(0);
    QMetaObject::invokeMethod(
        this,
        [this, text = *failed] {
          if (!m_Closing) {
            (void)ShowMessageBox(text, Text(text::kWindowTitle), update::MessageButtons::kOk);
          }
        },
        Qt::QueuedConnection);
  }
  emit RunEnded();
}

template <typename Operation>
void CUpdateDlg::OnUiThread(Operation operation) {
  if (QThread::currentThread() == thread()) {
    operation();
    return;
  }
  QMetaObject::invokeMethod(this, std::move(operation), Qt::QueuedConnection);
}

update::MessageResult CUpdateDlg::ShowMessageBox(const std::string& text,
                                                 const std::string& caption,
                                                 update::MessageButtons buttons) {
  QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(caption), DisplayText(text),
                  QMessageBox::NoButton, this);
  box.setTextFormat(Qt::PlainText);
  QPushButton* ok = box.addButton(QMessageBox::Ok);
  if (buttons == update::MessageButtons::kOkCancel) {
    // Escape and the close box press Cancel.
    box.setEscapeButton(box.addButton(QMessageBox::Cancel));
  }
  box.setDefaultButton(ok);
  box.exec();
  if (buttons == update::MessageButtons::kOk) {
    return update::MessageResult::kOk;
  }
  return box.clickedButton() == ok ? update::MessageResult::kOk : update::MessageResult::kCancel;
}

void CUpdateDlg::SetProgress(std::int32_t position) {
  OnUiThread(
      [this, position] { m_ProgressBar->setValue(std::clamp<std::int32_t>(position, 0, 100)); });
}

void CUpdateDlg::EnableUpdateButton(bool enabled) {
  OnUiThread([this, enabled] { m_UpdateButton->setEnabled(enabled); });
}

void CUpdateDlg::ShowCompletionLabel(bool visible) {
  OnUiThread([this, visible] {
    m_UpgradedShown = visible;
    ShowStatus();
  });
}

std::uint16_t CUpdateDlg::LanguageId() const {
  return m_Options.languageId.value_or(text::GetUserDefaultUILanguage());
}

void CUpdateDlg::ShowStatus() {
  if (m_CompletionLabel == nullptr) {
    return;  // before the first show
  }
  // What the user must act on: why no controller can be used (none found, or found but
  // not opened), a controller waiting in boot mode, or the firmware just written.
  const std::optional<std::string> line =
      update::LabelLine(*m_Road, m_UpgradedShown, LanguageId(), m_Options.debug);
  // The line takes the place of the instructions, and may be selected and copied: it may
  // hold a command. Otherwise the label is as the template has it: "Firmware upgraded!"
  // while the controller restarts, hidden before.
  const DialogRect templateUnits =
      std::find_if(std::begin(kDialog102), std::end(kDialog102), [](const ControlTemplate& c) {
        return c.id == kIdCompletionLabel;
      })->units;
  const DialogRect area =
      MapDialogRect(line ? DialogRect{7, 25, 230, 74} : templateUnits, m_BaseUnits);
  m_CompletionLabel->setGeometry(area.x, area.y, area.width, area.height);
  m_CompletionLabel->setWordWrap(line.has_value());
  m_CompletionLabel->setAlignment(line ? Qt::AlignLeft | Qt::AlignTop
                                       : Qt::AlignHCenter | Qt::AlignTop);
  m_CompletionLabel->setTextInteractionFlags(line ? Qt::TextSelectableByMouse
                                                  : Qt::NoTextInteraction);
  m_CompletionLabel->setText(DisplayText(line ? *line : Text(text::kFirmwareUpgraded)));
  m_CompletionLabel->setVisible(line.has_value() || m_UpgradedShown);
  m_InstructionLabel->setVisible(!line.has_value());
}

void CUpdateDlg::SetWindowTitle(const std::string& title) {
  OnUiThread([this, title] { setWindowTitle(QString::fromStdString(title)); });
}

std::optional<std::string> CUpdateDlg::ShowOpenFileDialog(const update::OpenFileRequest& request) {
  if (m_NextImage) {
    return std::exchange(m_NextImage, std::nullopt);
  }
  // Where the last image was chosen, else the user's downloads (their home when there is
  // no such folder): never the folder the program was started in.
  QString folder = QString::fromStdString(request.initialDirectory);
  if (folder.isEmpty()) {
    folder = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (!QDir(folder).exists()) {
      folder = QDir::homePath();
    }
  }
  QFileDialog dialog(this, QString(), folder);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  // The dialog does not insist that the file exists; opening it tells.
  dialog.setFileMode(QFileDialog::AnyFile);
  if (const QString filter = NameFilter(request.filter); !filter.isEmpty()) {
    // The label already names its pattern: show it as it is.
    dialog.setNameFilter(filter);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
  }
  // A default extension made of wildcards ("*.*") names no extension to add.
  if (const QString suffix = QString::fromStdString(request.defaultExtension);
      !suffix.isEmpty() && !suffix.contains(u'*') && !suffix.contains(u'?')) {
    dialog.setDefaultSuffix(suffix);
  }
  if (!request.initialFileName.empty()) {
    dialog.selectFile(QString::fromStdString(request.initialFileName));
  }
  const int answer = dialog.exec();
  const QStringList chosen = dialog.selectedFiles();
  if (answer != QDialog::Accepted || chosen.isEmpty()) {
    return std::nullopt;
  }
  return chosen.first().toStdString();
}

}  // namespace app
