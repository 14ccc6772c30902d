// Writes PNG pictures of the window in each language and each main state, drawn
// offscreen: no device, ready (the simulated controller in application mode), updating
// and done. An offscreen window has no frame, so a plain caption with the icon, the
// title and the close box is drawn above it.
//   update-window-screenshots OUTPUT_DIR
#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QPixmap>
#include <cstdio>

#include "app/UpdateDlg.h"
#include "platform/DeviceAccess.h"
#include "sim/SimPlatform.h"

namespace {

enum class Scene { kNoDevice, kReady, kUpdating, kDone };

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

bool Shoot(Scene scene, std::uint16_t language, const QString& file) {
  sim::SimConfig config = platform::SimulatedControllerConfig();
  config.presentAtStart = scene != Scene::kNoDevice;
  auto device = std::make_shared<sim::CSimPlatform>(std::make_shared<sim::CSimController>(config));
  app::CUpdateDlg dialog(device, app::DialogOptions{language, {}, {}});
  dialog.show();
  // The states of a run, through the operations the run itself uses.
  if (scene == Scene::kUpdating) {
    dialog.SetProgress(42);
  } else if (scene == Scene::kDone) {
    dialog.SetProgress(0);
    dialog.ShowCompletionLabel(true);
    dialog.EnableUpdateButton(false);
  }
  return WithCaption(dialog, dialog.grab()).save(file, "PNG");
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
  const struct {
    Scene scene;
    const char* name;
  } scenes[] = {{Scene::kNoDevice, "no-device"},
                {Scene::kReady, "ready"},
                {Scene::kUpdating, "updating"},
                {Scene::kDone, "done"}};
  const struct {
    std::uint16_t id;
    const char* name;
  } languages[] = {{2052, "zh"}, {1033, "en"}};
  for (const auto& language : languages) {
    for (const auto& scene : scenes) {
      const QString file =
          out.filePath(QStringLiteral("window-%1-%2.png").arg(language.name, scene.name));
      if (!Shoot(scene.scene, language.id, file)) {
        std::fprintf(stderr, "update-window-screenshots: cannot write %s\n", qPrintable(file));
        return 1;
      }
      std::printf("%s\n", qPrintable(file));
    }
  }
  return 0;
}
