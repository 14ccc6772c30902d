// Writes PNG pictures of the window in each language and each main state, drawn
// offscreen: no device, ready (a controller in application mode), updating, done.
//   window_screenshots OUTPUT_DIR
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <cstdio>

#include "app/UpdateDlg.h"
#include "tests/support/FakeHidPlatform.h"
#include "tests/support/Replies.h"

namespace {

using testing_support::AppInfo;
using testing_support::AppReply;
using testing_support::CFakeHidPlatform;

enum class Scene { kNoDevice, kReady, kUpdating, kDone };

bool Shoot(Scene scene, std::uint16_t language, const QString& file) {
  auto device = std::make_shared<CFakeHidPlatform>();
  if (scene != Scene::kNoDevice) {
    device->interfaces = {{"/dev/hidraw0", hid::kVendorId, hid::kAppProductId}};
    device->QueueReport(AppReply(0x0101, AppInfo(0x600A, 214)));
  }
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
  // The caption is drawn by the window manager, which an offscreen grab does not have.
  return dialog.grab().save(file, "PNG");
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: window_screenshots OUTPUT_DIR\n");
    return 2;
  }
  const QDir out(QString::fromLocal8Bit(argv[1]));
  if (!out.mkpath(QStringLiteral("."))) {
    std::fprintf(stderr, "window_screenshots: cannot create %s\n", argv[1]);
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
        std::fprintf(stderr, "window_screenshots: cannot write %s\n", qPrintable(file));
        return 1;
      }
      std::printf("%s\n", qPrintable(file));
    }
  }
  return 0;
}
