// Pictures of the Windows dialog for the documentation, in each language and each main
// state: no device, ready (the simulated controller in application mode), updating and
// done. Each picture is the real dialog, run modally as the program runs it; a second
// thread brings it into the state through the user-interface operations a run uses
// (posted to the dialog, as from a run's worker), lets it paint, and copies the window,
// frame and all, from the screen into a BMP. Then a whole update in Chinese as a user
// makes it, of an image in C:\用户\José\固件.dat: the file dialog on that folder, the
// version question, the success box and the dialog afterwards, each as it shows.
// scripts/screenshots --windows runs this under wine on a virtual display and turns the
// BMPs into PNGs.
//   update-dialog-screenshots OUTPUT_DIR
#include <windows.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "hid/windows/Win32Errors.h"
#include "platform/DeviceAccess.h"
#include "sim/SimPlatform.h"
#include "tests/support/Images.h"
#include "tests/win/DialogHarness.h"
#include "win/UpdateDlg.h"

namespace {

enum class Scene { kNoDevice, kReady, kUpdating, kDone };

// Copies width x height pixels from x, y of source into a 32-bit BMP.
bool SaveArea(HDC source, int x, int y, int width, int height, const std::wstring& file) {
  const HDC memory = ::CreateCompatibleDC(source);
  const HBITMAP bitmap = ::CreateCompatibleBitmap(source, width, height);
  const HGDIOBJ previous = ::SelectObject(memory, bitmap);
  const bool drawn = ::BitBlt(memory, 0, 0, width, height, source, x, y, SRCCOPY) != 0;
  ::SelectObject(memory, previous);

  BITMAPINFOHEADER info{};
  info.biSize = sizeof info;
  info.biWidth = width;
  info.biHeight = -height;  // top-down rows
  info.biPlanes = 1;
  info.biBitCount = 32;
  info.biCompression = BI_RGB;
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * 4);
  const int rows = ::GetDIBits(memory, bitmap, 0, height, pixels.data(),
                               reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
  ::DeleteObject(bitmap);
  ::DeleteDC(memory);
  if (!drawn || rows != height) {
    return false;
  }

  BITMAPFILEHEADER header{};
  header.bfType = 0x4D42;  // "BM"
  header.bfOffBits = sizeof header + sizeof info;
  header.bfSize = static_cast<DWORD>(header.bfOffBits + pixels.size());
  FILE* out = _wfopen(file.c_str(), L"wb");
  if (out == nullptr) {
    return false;
  }
  const bool written = std::fwrite(&header, sizeof header, 1, out) == 1 &&
                       std::fwrite(&info, sizeof info, 1, out) == 1 &&
                       std::fwrite(pixels.data(), pixels.size(), 1, out) == 1;
  return std::fclose(out) == 0 && written;
}

// Copies the window, frame and all, into a 32-bit BMP.
bool SaveWindow(HWND window, const std::wstring& file) {
  RECT frame{};
  ::GetWindowRect(window, &frame);
  // The window's own surface, frame included: what it painted, whatever covers it.
  const HDC surface = ::GetWindowDC(window);
  const bool saved =
      SaveArea(surface, 0, 0, frame.right - frame.left, frame.bottom - frame.top, file);
  ::ReleaseDC(window, surface);
  return saved;
}

// The window with the box open over it, as the screen shows them: the smallest area that
// holds both, after both have painted.
bool SaveBoxOverWindow(HWND window, HWND box, const std::wstring& file) {
  RECT area{};
  RECT boxFrame{};
  ::GetWindowRect(window, &area);
  ::GetWindowRect(box, &boxFrame);
  ::UnionRect(&area, &area, &boxFrame);
  for (const HWND each : {window, box}) {
    ::RedrawWindow(each, nullptr, nullptr,
                   RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
  }
  ::Sleep(500);  // as Shoot: until wine has handed the painting to the display
  const HDC screen = ::GetDC(nullptr);
  const bool saved =
      SaveArea(screen, area.left, area.top, area.right - area.left, area.bottom - area.top, file);
  ::ReleaseDC(nullptr, screen);
  return saved;
}

// Until the dialog's thread has handled everything posted to it so far.
void Flush(HWND window) {
  ::SendMessageW(window, WM_NULL, 0, 0);
}

// The two states a user must act on, reached as a user reaches them, with the dialog's
// tests' harness: a controller found waiting in boot mode and its file dialog cancelled
// ("waiting"); a controller pulled out while block 43 of 100 is written, and the box
// that says so over the dialog ("failed").
bool ShootEndings(std::uint16_t language, const std::wstring& prefix, const std::wstring& image) {
  using testing_support::CDialogHarness;
  const auto platformWith = [](const std::function<void(sim::SimConfig&)>& change) {
    sim::SimConfig config = platform::SimulatedControllerConfig();
    change(config);
    return std::make_shared<sim::CSimPlatform>(std::make_shared<sim::CSimController>(config));
  };
  {
    CDialogHarness dialog(platformWith([](sim::SimConfig& c) { c.startInBootMode = true; }),
                          win::DialogOptions{language, {}, {}, {}});
    const HWND files = dialog.WaitForPopup();
    if (files == nullptr) {
      return false;
    }
    CDialogHarness::Press(files, IDCANCEL);
    if (!dialog.WaitUntil([&] {
          return dialog.OpenPopup() == nullptr && dialog.Dlg().LastRunOutcome().has_value() &&
                 ::IsWindowEnabled(dialog.Item(win::kIdUpdateButton));
        }) ||
        !SaveBoxOverWindow(dialog.Dialog(), dialog.Dialog(), prefix + L"waiting.bmp")) {
      return false;
    }
  }
  CDialogHarness dialog(platformWith([](sim::SimConfig& c) {
                          c.faults = {sim::SimFault::Remove(sim::FaultTrigger::AtBlock(43))};
                        }),
                        win::DialogOptions{language, {}, {}, {}});
  dialog.Click(win::kIdUpdateButton);
  const HWND files = dialog.WaitForPopup();
  if (files == nullptr) {
    return false;
  }
  CDialogHarness::ChooseFile(files, image);
  HWND popup = nullptr;
  const auto next = [&](HWND previous) {
    return dialog.WaitUntil(
        [&] { return (popup = dialog.OpenPopup()) != nullptr && popup != previous; });
  };
  if (!next(files)) {
    return false;
  }
  const HWND question = popup;
  CDialogHarness::Press(question, IDOK);
  if (!next(question) || !SaveBoxOverWindow(dialog.Dialog(), popup, prefix + L"failed.bmp")) {
    return false;
  }
  CDialogHarness::Press(popup, IDOK);
  return true;
}

bool Shoot(Scene scene, std::uint16_t language, const std::wstring& file) {
  sim::SimConfig config = platform::SimulatedControllerConfig();
  config.presentAtStart = scene != Scene::kNoDevice;
  auto device = std::make_shared<sim::CSimPlatform>(std::make_shared<sim::CSimController>(config));
  win::CUpdateDlg dialog(device, win::DialogOptions{language, {}, {}, {}});

  bool saved = false;
  std::thread photographer([&] {
    // The dialog shows once its start-up is done; a bounded wait for that.
    HWND window = nullptr;
    for (int tries = 0; tries < 1000; ++tries) {
      window = dialog.Window();
      if (window != nullptr && ::IsWindowVisible(window)) {
        break;
      }
      ::Sleep(10);
    }
    if (window == nullptr) {
      return;
    }
    if (scene == Scene::kUpdating) {
      // The controller left application mode for its bootloader: the button is off.
      dialog.SetProgress(42);
      dialog.EnableUpdateButton(false);
    } else if (scene == Scene::kDone) {
      dialog.SetProgress(0);
      dialog.ShowCompletionLabel(true);
      dialog.EnableUpdateButton(false);
    }
    Flush(window);
    ::RedrawWindow(window, nullptr, nullptr,
                   RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Flush(window);
    // The display shows what the window painted once wine has handed it over; a picture
    // for the documentation can wait a moment for that.
    ::Sleep(500);
    saved = SaveWindow(window, file);
    ::PostMessageW(window, WM_CLOSE, 0, 0);
  });
  dialog.DoModal();
  photographer.join();
  return saved;
}

// Lets the display show what the window painted, then copies it.
bool ShowAndSave(HWND window, const std::wstring& file) {
  ::RedrawWindow(window, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
  ::Sleep(500);
  return SaveWindow(window, file);
}

bool ShootWholeUpdate(const std::wstring& out) {
  using testing_support::CDialogHarness;
  const std::wstring folder = L"C:\\用户\\José";
  ::CreateDirectoryW(L"C:\\用户", nullptr);
  ::CreateDirectoryW(folder.c_str(), nullptr);
  const auto image = testing_support::ImageBytes(testing_support::Pattern(46 * 400));
  FILE* file = _wfopen((folder + L"\\固件.dat").c_str(), L"wb");
  if (file == nullptr || std::fwrite(image.data(), image.size(), 1, file) != 1) {
    return false;
  }
  std::fclose(file);

  sim::SimConfig config = platform::SimulatedControllerConfig();
  config.replyLatency = std::chrono::microseconds(500);
  auto device = std::make_shared<sim::CSimPlatform>(std::make_shared<sim::CSimController>(config));
  CDialogHarness dialog(device, win::DialogOptions{2052, {}, {}, {}});
  const std::wstring prefix = out + L"\\windows-zh-chinese-folder-";

  dialog.Click(win::kIdUpdateButton);
  const HWND files = dialog.WaitForPopup();
  if (files == nullptr) {
    return false;
  }
  // Typed into the name field, a folder opens in the dialog.
  CDialogHarness::ChooseFile(files, folder);
  if (!dialog.WaitUntil([&] { return CDialogHarness::FolderOf(files) == folder; }) ||
      !ShowAndSave(files, prefix + L"1-file-dialog.bmp")) {
    return false;
  }
  CDialogHarness::ChooseFile(files, L"固件.dat");
  HWND question = nullptr;
  if (!dialog.WaitUntil(
          [&] { return (question = dialog.OpenPopup()) != nullptr && question != files; }) ||
      !ShowAndSave(question, prefix + L"2-question.bmp")) {
    return false;
  }
  CDialogHarness::Press(question, IDOK);
  HWND success = nullptr;
  if (!dialog.WaitUntil([&] {
        success = dialog.OpenPopup();
        return success != nullptr && success != question && ::IsWindow(success);
      }) ||
      !ShowAndSave(success, prefix + L"3-success.bmp")) {
    return false;
  }
  CDialogHarness::Press(success, IDOK);
  if (!dialog.WaitUntil([&] {
        return dialog.Dlg().Road().Control().GetCurrentFirmwareInfo() == 215 &&
               ::IsWindowEnabled(dialog.Item(win::kIdUpdateButton));
      })) {
    return false;
  }
  return ShowAndSave(dialog.Dialog(), prefix + L"4-updated.bmp");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: update-dialog-screenshots OUTPUT_DIR\n");
    return 2;
  }
  const std::wstring out = argv[1];
  ::CreateDirectoryW(out.c_str(), nullptr);
  // The image the "failed" run writes: 100 blocks for the simulated controller's type.
  const std::wstring sample = out + L"\\sample.dat";
  const auto bytes = testing_support::ImageBytes(testing_support::Pattern(46 * 100));
  FILE* written = _wfopen(sample.c_str(), L"wb");
  if (written == nullptr || std::fwrite(bytes.data(), bytes.size(), 1, written) != 1 ||
      std::fclose(written) != 0) {
    std::fprintf(stderr, "update-dialog-screenshots: cannot write the sample image\n");
    return 1;
  }
  const struct {
    Scene scene;
    const wchar_t* name;
  } scenes[] = {{Scene::kNoDevice, L"no-device"},
                {Scene::kReady, L"ready"},
                {Scene::kUpdating, L"updating"},
                {Scene::kDone, L"done"}};
  const struct {
    std::uint16_t id;
    const wchar_t* name;
  } languages[] = {{2052, L"zh"}, {1033, L"en"}};
  for (const auto& language : languages) {
    for (const auto& scene : scenes) {
      const std::wstring file = out + L"\\windows-" + language.name + L"-" + scene.name + L".bmp";
      if (!Shoot(scene.scene, language.id, file)) {
        std::fprintf(stderr, "update-dialog-screenshots: cannot write %s\n",
                     hid::windows::Utf8FromWide(file).c_str());
        return 1;
      }
    }
    if (!ShootEndings(language.id, out + L"\\windows-" + language.name + L"-", sample)) {
      std::fprintf(stderr, "update-dialog-screenshots: the failed or waiting dialog is missing\n");
      return 1;
    }
  }
  ::DeleteFileW(sample.c_str());
  if (!ShootWholeUpdate(out)) {
    std::fprintf(stderr, "update-dialog-screenshots: the update from the Chinese folder failed\n");
    return 1;
  }
  return 0;
}
