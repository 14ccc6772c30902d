// Writes PNG pictures of the window in each language and each main state, drawn
// offscreen by driving the window as a user does, against the simulated controller: no
// device; ready (the controller in application mode); updating (the button clicked,
// the controller back in boot mode, the image given as on the command line, the version
// question answered OK, the run held at block 42 of 100); done (the run let go, the
// success box answered, the controller back with its new firmware). An offscreen window
// has no frame, so a plain caption with the icon, the title and the close box is drawn
// above it.
//   update-window-screenshots OUTPUT_DIR
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <functional>
#include <mutex>

#include "app/UpdateApp.h"
#include "app/UpdateDlg.h"
#include "firmware/FirmwareHeader.h"
#include "hid/ForwardingPlatform.h"
#include "platform/DeviceAccess.h"
#include "sim/SimPlatform.h"

namespace {

constexpr std::uint32_t kBlocks = 100;
constexpr std::uint32_t kHeldAtBlock = 42;  // the run waits before writing block 43

QImage WithCaption(const app::CUpdateDlg& dialog, const QPixmap& client) {
  constexpr int kCaption = 26;
  constexpr int kBorder = 1;
  QImage image(client.width() + 2 * kBorder, client.height() + kCaption + kBorder,
               QImage::Format_ARGB32);
  image.fill(QColor(0x8A, 0x93, 0xA3));
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.fillRect(QRect(kBorder, kBorder, client.width(), kCaption - kBorder),
                   QColor(0xE4, 0xE8, 0xEE));
  dialog.windowIcon().paint(&painter, QRect(kBorder + 6, 5, 16, 16));
  QFont font = dialog.font();
  font.setBold(true);
  painter.setFont(font);
  painter.setPen(QColor(0x20, 0x24, 0x2C));
  painter.drawText(QRect(kBorder + 28, kBorder, client.width() - 60, kCaption - kBorder),
                   Qt::AlignVCenter | Qt::AlignLeft, dialog.windowTitle());
  // The close box: a cross; no minimise or maximise box.
  const QPoint centre(kBorder + client.width() - 14, kCaption / 2);
  painter.setPen(QPen(QColor(0x20, 0x24, 0x2C), 1.6));
  painter.drawLine(centre + QPoint(-4, -4), centre + QPoint(4, 4));
  painter.drawLine(centre + QPoint(-4, 4), centre + QPoint(4, -4));
  painter.drawPixmap(kBorder, kCaption, client);
  return image;
}

// Turns the event loop until condition holds; false after timeoutMs.
bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 20000) {
  QElapsedTimer elapsed;
  elapsed.start();
  while (!condition()) {
    if (elapsed.hasExpired(timeoutMs)) {
      return false;
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

// The simulated controller's platform with a gate: the run's write of one block waits
// until the gate opens, so that the picture of a run is taken at a known block.
class CGatedPlatform final : public hid::CForwardingPlatform {
 public:
  explicit CGatedPlatform(std::shared_ptr<hid::IHidPlatform> inner)
      : CForwardingPlatform(std::move(inner)) {}
  void Open() {
    {
      std::lock_guard lock(m_Mutex);
      m_Open = true;
    }
    m_Changed.notify_all();
  }
  base::Result<std::unique_ptr<hid::IHidHandle>> Open(const std::string& path,
                                                      hid::Access access) override {
    return OpenWrapped(path, access, [this](std::unique_ptr<hid::IHidHandle> handle) {
      return std::make_unique<CHandle>(std::move(handle), *this);
    });
  }

 private:
  struct CHandle final : hid::CForwardingHandle {
    CHandle(std::unique_ptr<hid::IHidHandle> inner, CGatedPlatform& owner)
        : CForwardingHandle(std::move(inner)), m_Owner(owner) {}
    base::Status WriteFrame(std::span<const std::uint8_t> frame) override {
      // A boot-mode write command: report 0, then the command code 0x0003.
      if (frame.size() > 3 && frame[2] == 0x03 && frame[3] == 0x00 &&
          ++m_Owner.m_Blocks == kHeldAtBlock + 1) {
        std::unique_lock lock(m_Owner.m_Mutex);
        m_Owner.m_Changed.wait(lock, [this] { return m_Owner.m_Open; });
      }
      return CForwardingHandle::WriteFrame(frame);
    }
    CGatedPlatform& m_Owner;
  };
  std::atomic<std::uint32_t> m_Blocks{0};
  std::mutex m_Mutex;
  std::condition_variable m_Changed;
  bool m_Open = false;
};

bool Save(app::CUpdateDlg& dialog, const QDir& out, const char* language, const char* scene) {
  const QString file = out.filePath(QStringLiteral("window-%1-%2.png").arg(language, scene));
  if (!WithCaption(dialog, dialog.grab()).save(file, "PNG")) {
    std::fprintf(stderr, "update-window-screenshots: cannot write %s\n", qPrintable(file));
    return false;
  }
  std::printf("%s\n", qPrintable(file));
  return true;
}

// Every state of one language, in the order a user meets them.
bool ShootLanguage(std::uint16_t languageId, const char* language, const QDir& out,
                   const QString& image) {
  sim::SimConfig absent = platform::SimulatedControllerConfig();
  absent.presentAtStart = false;
  {
    app::CUpdateDlg dialog(
        std::make_shared<sim::CSimPlatform>(std::make_shared<sim::CSimController>(absent)),
        app::DialogOptions{languageId, {}, {}, {}});
    dialog.show();
    if (!Save(dialog, out, language, "no-device")) {
      return false;
    }
  }

  auto gate = std::make_shared<CGatedPlatform>(std::make_shared<sim::CSimPlatform>(
      std::make_shared<sim::CSimController>(platform::SimulatedControllerConfig())));
  app::CUpdateDlg dialog(gate, app::DialogOptions{languageId, {}, {}, {}});
  dialog.AnswerNextFileDialog(image.toStdString());
  auto* button = qobject_cast<QPushButton*>(dialog.GetDlgItem(1007));
  auto* bar = qobject_cast<QProgressBar*>(dialog.GetDlgItem(1003));
  auto* completion = dialog.GetDlgItem(-1);
  dialog.show();
  if (!WaitFor([&] { return button->isEnabled(); }) || !Save(dialog, out, language, "ready")) {
    std::fprintf(stderr, "update-window-screenshots: the controller was not found\n");
    return false;
  }

  // The version question, and later the success box, are answered OK as they open.
  QTimer answerer;
  QObject::connect(&answerer, &QTimer::timeout, [] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      box->button(QMessageBox::Ok)->click();
    }
  });
  answerer.start(20);
  button->click();
  const int held = static_cast<int>(kHeldAtBlock * 100 / kBlocks);
  if (!WaitFor([&] { return bar->value() == held; }) || !Save(dialog, out, language, "updating")) {
    std::fprintf(stderr, "update-window-screenshots: the run did not reach block %u\n",
                 kHeldAtBlock);
    return false;
  }
  gate->Open();
  if (!WaitFor([&] {
        return completion->isVisible() && dialog.Road().LastEnd().has_value() &&
               !dialog.Road().IsRunActive();
      }) ||
      !Save(dialog, out, language, "done")) {
    std::fprintf(stderr, "update-window-screenshots: the run did not complete\n");
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: update-window-screenshots OUTPUT_DIR\n");
    return 2;
  }
  const QDir out(QString::fromLocal8Bit(argv[1]));
  if (!out.mkpath(QStringLiteral("."))) {
    std::fprintf(stderr, "update-window-screenshots: cannot create %s\n", argv[1]);
    return 1;
  }
  // The image the runs write: 100 blocks for the simulated controller's type, 2.15.
  const QTemporaryDir work;
  const QString image = work.filePath(QStringLiteral("sample.dat"));
  {
    firmware::FirmwareHeader header;
    header.version = 215;
    header.firmwareType = 0x600A;
    header.payloadLength = kBlocks * 46;
    const auto head = firmware::SerializeFirmwareHeader(header);
    std::ofstream file(image.toStdString(), std::ios::binary);
    file.write(reinterpret_cast<const char*>(head.data()),
               static_cast<std::streamsize>(head.size()));
    for (std::uint32_t i = 0; i < header.payloadLength; ++i) {
      file.put(static_cast<char>(i * 7 + 3));
    }
  }
  const struct {
    std::uint16_t id;
    const char* name;
  } languages[] = {{2052, "zh"}, {1033, "en"}};
  for (const auto& language : languages) {
    QTranslator qtTexts;
    const bool translated = app::LoadQtTranslations(qtTexts, language.id);
    if (translated) {
      QApplication::installTranslator(&qtTexts);
    }
    const bool shot = ShootLanguage(language.id, language.name, out, image);
    if (translated) {
      QApplication::removeTranslator(&qtTexts);
    }
    if (!shot) {
      return 1;
    }
  }
  return 0;
}
