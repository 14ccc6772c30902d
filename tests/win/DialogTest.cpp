// The Windows dialog under test, driven from the test's thread with Win32 messages:
// template 102 as laid out by the system, the start states, both languages, how every
// road started by a click ends, and closing during a run.
// The options of update.exe too.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>

#include "app/DialogTemplate.h"
#include "hid/windows/Win32Errors.h"
#include "platform/DeviceAccess.h"
#include "sim/SimPlatform.h"
#include "tests/support/Images.h"
#include "tests/support/RoadEndings.h"
#include "tests/support/TempDir.h"
#include "tests/win/DialogHarness.h"
#include "win/FileDialog.h"
#include "win/UpdateApp.h"

namespace {

using hid::windows::WideFromUtf8;
using testing_support::CDialogHarness;
using update::RunFailure;

const std::wstring kTitle = L"Corvane Update v2.15";

struct SimRig {
  explicit SimRig(sim::SimConfig config = platform::SimulatedControllerConfig())
      : device(std::make_shared<sim::CSimPlatform>(std::make_shared<sim::CSimController>(config))) {
  }

  std::wstring WriteImage(const std::vector<std::uint8_t>& bytes) {
    return hid::windows::WideFromUtf8(dir.WriteFile("image.dat", bytes));
  }

  std::unique_ptr<CDialogHarness> Start(std::uint16_t language = text::kLangEnglishUs,
                                        update::Waits waits = {}) {
    return std::make_unique<CDialogHarness>(device, win::DialogOptions{language, {}, {}, waits});
  }

  testing_support::CTempDir dir;
  std::shared_ptr<sim::CSimPlatform> device;
};

sim::SimConfig Config(bool present, bool bootMode, std::chrono::microseconds latency = {}) {
  sim::SimConfig config = platform::SimulatedControllerConfig();
  config.presentAtStart = present;
  config.startInBootMode = bootMode;
  config.replyLatency = latency;
  return config;
}

// The box or file dialog open over the dialog other than `previous` (which may still be
// closing), once there is one; or null.
HWND NextPopup(
    CDialogHarness& dialog, HWND previous, const std::function<void()>& meanwhile = [] {}) {
  HWND popup = nullptr;
  const bool opened = dialog.WaitUntil([&] {
    meanwhile();
    return (popup = dialog.OpenPopup()) != nullptr && popup != previous;
  });
  return opened ? popup : nullptr;
}

// Clicks the update button, chooses the image in the file dialog and confirms the
// version prompt (or leaves it open); the prompt's text.
// folder gets the folder the file dialog opened in.
std::wstring StartUpdate(CDialogHarness& dialog, const std::wstring& image, bool confirm = true,
                         std::wstring* folder = nullptr) {
  dialog.Click(win::kIdUpdateButton);
  const HWND files = dialog.WaitForPopup();
  if (files == nullptr || !CDialogHarness::IsFileDialog(files)) {
    return L"no file dialog";
  }
  if (folder != nullptr) {
    *folder = CDialogHarness::FolderOf(files);
  }
  CDialogHarness::ChooseFile(files, image);
  const HWND prompt = NextPopup(dialog, files);
  if (prompt == nullptr) {
    return L"no prompt";
  }
  const std::wstring text = CDialogHarness::BoxText(prompt);
  if (!confirm) {
    return text;
  }
  CDialogHarness::Press(prompt, IDOK);
  // The press is posted: the prompt is gone only once the dialog's thread took it, and
  // until then it would pass for the next box.
  if (!dialog.WaitUntil([&] { return !::IsWindow(prompt); })) {
    return L"the prompt stayed open";
  }
  return text;
}

TEST(WindowsDialog, LaysOutTemplate102AsTheSystemMapsIt) {
  // With a controller: without one the completion label moves to say why.
  SimRig rig(Config(true, false));
  const auto dialog = rig.Start();
  const HWND window = dialog->Dialog();

  const LONG_PTR style = ::GetWindowLongPtrW(window, GWL_STYLE);
  EXPECT_EQ(style & (WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME),
            WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME);
  EXPECT_EQ(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0);
  EXPECT_NE(::GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_APPWINDOW, 0);
  EXPECT_NE(::SendMessageW(window, WM_GETICON, ICON_BIG, 0), 0);

  RECT client{};
  ::GetClientRect(window, &client);
  RECT size{0, 0, app::kDialogWidthUnits, app::kDialogHeightUnits};
  ::MapDialogRect(window, &size);
  EXPECT_EQ(client.right, size.right);
  EXPECT_EQ(client.bottom, size.bottom);

  // The controls in tab order, each where the system maps its template rectangle.
  HWND control = ::GetWindow(window, GW_CHILD);
  for (const app::ControlTemplate& expected : app::kDialog102) {
    ASSERT_NE(control, nullptr);
    SCOPED_TRACE(expected.id);
    EXPECT_EQ(static_cast<short>(::GetDlgCtrlID(control)), expected.id);
    // The dialog manager maps a control's position and its size each on their own.
    RECT units{expected.units.x, expected.units.y, expected.units.width, expected.units.height};
    ::MapDialogRect(window, &units);
    RECT placed{};
    ::GetWindowRect(control, &placed);
    ::MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&placed), 2);
    EXPECT_EQ(placed.left, units.left);
    EXPECT_EQ(placed.top, units.top);
    EXPECT_EQ(placed.right - placed.left, units.right);
    EXPECT_EQ(placed.bottom - placed.top, units.bottom);

    wchar_t kind[64] = {};
    ::GetClassNameW(control, kind, 64);
    const LONG_PTR controlStyle = ::GetWindowLongPtrW(control, GWL_STYLE);
    EXPECT_EQ((controlStyle & WS_TABSTOP) != 0, expected.tabStop);
    switch (expected.kind) {
      case app::ControlKind::kProgressBar:
        EXPECT_EQ(_wcsicmp(kind, PROGRESS_CLASSW), 0);
        break;
      case app::ControlKind::kPushButton:
        EXPECT_STREQ(kind, L"Button");
        EXPECT_EQ(controlStyle & BS_TYPEMASK, BS_PUSHBUTTON);
        break;
      case app::ControlKind::kStaticCentred:
      case app::ControlKind::kStaticWrapped:
        EXPECT_STREQ(kind, L"Static");
        EXPECT_NE(controlStyle & WS_GROUP, 0);
        EXPECT_EQ(controlStyle & SS_TYPEMASK,
                  expected.kind == app::ControlKind::kStaticCentred ? SS_CENTER : SS_LEFT);
        break;
    }
    control = ::GetWindow(control, GW_HWNDNEXT);
  }
  EXPECT_EQ(control, nullptr);
  EXPECT_EQ(dialog->Item(win::kIdNoticeLabel), nullptr);
}

// No device, one in application mode, one in boot mode: then the file dialog opens at
// once, and cancelling it ends the run with nothing chosen; the controller waits in boot
// mode with the button enabled, for a click that asks again. Each in another language:
// only Chinese (PRC) gets the Chinese texts.
TEST(WindowsDialog, StartsInTheStateOfTheDevicePresentInItsLanguage) {
  const struct {
    const char* name;
    bool present;
    bool bootMode;
    std::uint16_t language;
  } cases[] = {{"no device", false, false, text::kLangChinesePrc},
               {"application mode", true, false, text::kLangChineseTaiwan},
               {"boot mode", true, true, text::kLangEnglishUs}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimRig rig(Config(c.present, c.bootMode));
    const auto dialog = rig.Start(c.language);
    if (c.bootMode) {
      const HWND files = dialog->WaitForPopup();
      ASSERT_NE(files, nullptr);
      ASSERT_TRUE(CDialogHarness::IsFileDialog(files));
      EXPECT_EQ(CDialogHarness::FileTypes(files), L"File type(*.dat)\n");
      // Said before the file dialog opened: the controller waits in boot mode.
      EXPECT_EQ(CDialogHarness::TextOf(dialog->Item(win::kIdCompletionLabel)),
                WideFromUtf8(testing_support::kWaitingInBootMode.english));
      CDialogHarness::Press(files, IDCANCEL);
      ASSERT_TRUE(dialog->WaitUntil([&] { return dialog->Dlg().LastRunOutcome().has_value(); }));
      EXPECT_EQ(dialog->Dlg().LastRunOutcome()->failure, RunFailure::kNoImageChosen);
      EXPECT_EQ(dialog->Dlg().Road().Control().GetDeviceKind(), 5);
    }
    EXPECT_EQ(::IsWindowEnabled(dialog->Item(win::kIdUpdateButton)) != 0, c.present);
    EXPECT_EQ(dialog->Progress(), 0);
    PBRANGE range{};
    ::SendMessageW(dialog->Item(win::kIdProgressBar), PBM_GETRANGE, FALSE,
                   reinterpret_cast<LPARAM>(&range));
    EXPECT_EQ(range.iHigh, 100);
    // Without a controller the completion label says why, over the instructions; with one
    // waiting in boot mode (the file dialog was cancelled) it says so there.
    const bool said = !c.present || c.bootMode;
    EXPECT_EQ(::IsWindowVisible(dialog->Item(win::kIdCompletionLabel)) != 0, said);
    EXPECT_EQ(::IsWindowVisible(dialog->Item(win::kIdInstructionLabel)) != 0, !said);
    EXPECT_EQ(CDialogHarness::TextOf(dialog->Dialog()), kTitle);
    const bool chinese = c.language == text::kLangChinesePrc;
    EXPECT_EQ(CDialogHarness::TextOf(dialog->Item(win::kIdUpdateButton)),
              chinese ? L"USB 升级" : L"USB Update");
    EXPECT_EQ(CDialogHarness::TextOf(dialog->Item(win::kIdInstructionLabel)),
              chinese ? L"1. 将接收器通过USB口连接电脑。 \r\n\r\n2. 点击 USB "
                        L"升级按钮，选择固件文件(.dat)升级。"
                      : L"1. Connect the receiver to the PC via USB.\r\n\r\n2. Click \"USB "
                        L"Update\" button and select firmware file\r\n   (.dat).");
    EXPECT_EQ(
        CDialogHarness::TextOf(dialog->Item(win::kIdCompletionLabel))
            .substr(0, c.present ? std::wstring::npos : 10),
        !c.present ? L"没有连接任何来自手柄"
        : c.bootMode
            ? L"The controller is waiting in boot mode: click USB Update to choose the firmware"
        : chinese ? L"升级成功。"
                  : L"Firmware upgraded!");
  }
}

// Every way a road started by a click ends (tests/support/RoadEndings.h), in both
// languages: the box that says it, the bar back at 0 behind it after going up; then the
// label and the button; another controller plugged in meanwhile got nothing.
TEST(WindowsDialog, SaysHowARoadEnded) {
  using testing_support::ChosenImage;
  for (const testing_support::RoadEnding& ending : testing_support::RoadEndings()) {
    for (const std::uint16_t language : {text::kLangEnglishUs, text::kLangChinesePrc}) {
      SCOPED_TRACE(std::string(ending.name) + ", " + std::to_string(language));
      SimRig rig;
      rig.device = testing_support::EndingPlatform(ending);
      const std::wstring image = rig.WriteImage(testing_support::EndingImage(ending.image));
      const auto dialog = rig.Start(language, {std::chrono::seconds(1), std::chrono::seconds(5)});
      dialog->Click(win::kIdUpdateButton);
      int highest = 0;
      HWND box = NextPopup(*dialog, nullptr);
      if (ending.image != ChosenImage::kNone) {
        ASSERT_TRUE(box != nullptr && CDialogHarness::IsFileDialog(box));
        if (ending.intruder) {  // handled while the file dialog is open
          rig.device->Controller(0).PlugIn(sim::SimMode::kBoot);
          ASSERT_TRUE(dialog->WaitUntil([&] { return !rig.device->Notices().WaitFor({}); }));
        }
        CDialogHarness::ChooseFile(box, image);
        box = NextPopup(*dialog, box);
      }
      if (ending.image == ChosenImage::kWhole) {
        ASSERT_NE(box, nullptr);
        CDialogHarness::Press(box, IDOK);  // the version question
        box = NextPopup(*dialog, box, [&] { highest = std::max(highest, dialog->Progress()); });
        EXPECT_GT(highest, 0) << "the bar moved";
      }
      ASSERT_NE(box, nullptr);
      EXPECT_EQ(CDialogHarness::TextOf(box), kTitle);
      EXPECT_EQ(CDialogHarness::BoxText(box), WideFromUtf8(ending.box.In(language)));
      EXPECT_EQ(dialog->Progress(), 0);
      CDialogHarness::Press(box, IDOK);
      const HWND label = dialog->Item(win::kIdCompletionLabel);
      EXPECT_TRUE(dialog->WaitUntil([&] {
        return CDialogHarness::TextOf(label).starts_with(WideFromUtf8(ending.label.In(language))) &&
               ::IsWindowVisible(label) &&
               !::IsWindowVisible(dialog->Item(win::kIdInstructionLabel)) &&
               (::IsWindowEnabled(dialog->Item(win::kIdUpdateButton)) != 0) == ending.ButtonAfter();
      })) << hid::windows::Utf8FromWide(CDialogHarness::TextOf(label));
      EXPECT_TRUE(rig.device->Controller(0).Received().empty());
    }
  }
}

// The image lies where a Chinese user keeps it, C:\用户\José\固件.dat. The file dialog
// opens in the user's Downloads, the next time in the image's folder; the debugger hears
// every notice and how each run ended, each a whole line.
TEST(WindowsDialog, UpdatesTheSimulatedControllerFromClickToNewFirmware) {
  const std::filesystem::path image(L"C:\\用户\\José\\固件.dat");
  std::filesystem::create_directories(image.parent_path());
  const auto bytes = testing_support::ImageBytes(testing_support::Pattern(300 * 46));
  std::ofstream(image, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  SimRig rig(Config(true, false, std::chrono::microseconds(500)));
  std::mutex linesMutex;
  std::vector<std::string> lines;
  const auto record = [&](std::string_view line) {
    std::lock_guard lock(linesMutex);
    lines.emplace_back(line);
  };
  const auto dialog = std::make_unique<CDialogHarness>(
      rig.device, win::DialogOptions{text::kLangEnglishUs, record, {}, {}});
  ASSERT_TRUE(::IsWindowEnabled(dialog->Item(win::kIdUpdateButton)));

  std::wstring folder;
  EXPECT_EQ(StartUpdate(*dialog, image.wstring(), true, &folder),
            L"New firmware 2.15 and current is 2.14\n");
  EXPECT_FALSE(folder.empty());
  EXPECT_EQ(folder, win::DownloadsFolder());
  // The success box, and the controller back with its new firmware (SaysHowARoadEnded
  // looks at both).
  const HWND success = NextPopup(*dialog, nullptr);
  ASSERT_NE(success, nullptr);
  CDialogHarness::Press(success, IDOK);
  ASSERT_TRUE(dialog->WaitUntil([&] {
    return dialog->Dlg().Road().Control().GetCurrentFirmwareInfo() == 215 &&
           ::IsWindowEnabled(dialog->Item(win::kIdUpdateButton));
  }));

  dialog->Click(win::kIdUpdateButton);
  const HWND again = dialog->WaitForPopup();
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(CDialogHarness::FolderOf(again), image.parent_path().wstring());
  CDialogHarness::Press(again, IDCANCEL);
  ASSERT_TRUE(dialog->WaitUntil(
      [&] { return dialog->Dlg().LastRunOutcome()->failure == RunFailure::kNoImageChosen; }));
  std::lock_guard lock(linesMutex);
  for (const char* line :
       {"device notice 0x8004\n", "device notice 0x8000\n", "run ended: completed\n",
        "run ended: choosing the image: no image was chosen\n"}) {
    EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line;
  }
  for (const std::string& line : lines) {
    EXPECT_TRUE(!line.empty() && line.find('\n') == line.size() - 1) << line;
  }
  std::filesystem::remove(image);
}

// Closing while the version prompt is open cancels it; closing while blocks stream asks
// first: No goes on writing, Yes stops the run at the next block. Either way the road ends
// as stopped, and the dialog once the run has.
TEST(WindowsDialog, ClosingDuringARunAsksThenStops) {
  for (const bool whileStreaming : {false, true}) {
    SCOPED_TRACE(whileStreaming ? "while streaming" : "while the prompt is open");
    SimRig rig(Config(true, false, std::chrono::milliseconds(2)));
    const std::wstring image =
        rig.WriteImage(testing_support::ImageBytes(testing_support::Pattern(2000 * 46)));
    const auto dialog = rig.Start();
    EXPECT_EQ(StartUpdate(*dialog, image, whileStreaming),
              L"New firmware 2.15 and current is 2.14\n");
    if (whileStreaming) {
      ASSERT_TRUE(dialog->WaitUntil([&] { return dialog->Progress() > 0; }));
      for (const int answer : {IDCANCEL, IDOK}) {
        ::PostMessageW(dialog->Dialog(), WM_CLOSE, 0, 0);
        const HWND question = dialog->WaitForPopup();
        ASSERT_NE(question, nullptr);
        EXPECT_EQ(CDialogHarness::BoxText(question),
                  L"An update is running. Stop it? The controller will stay in boot mode.");
        const int before = dialog->Progress();
        CDialogHarness::Press(question, answer);
        if (answer == IDCANCEL) {
          // No: the question goes, the window stays and the bar goes on.
          ASSERT_TRUE(dialog->WaitUntil([&] { return dialog->OpenPopup() == nullptr; }));
          ASSERT_TRUE(dialog->WaitUntil([&] { return dialog->Progress() > before; }));
          EXPECT_NE(dialog->Dialog(), nullptr);
        }
      }
    } else {
      ::PostMessageW(dialog->Dialog(), WM_CLOSE, 0, 0);
    }
    ASSERT_TRUE(dialog->WaitForEnd());
    EXPECT_EQ(dialog->Result(), IDCANCEL);
    EXPECT_EQ(dialog->Dlg().LastRunOutcome()->failure, RunFailure::kStopped);
  }
}

TEST(WindowsDialogOptions, TakesTheOptionsOfTheLinuxWindowAndNamesThemOnAMistake) {
  const auto simulated =
      win::ParseCommandLine({"update", "--simulate=3", "--lang", "zh_CN", "-v"}, {});
  ASSERT_FALSE(simulated.message);
  EXPECT_EQ(simulated.options.access.kind, platform::DeviceAccessKind::kSimulated);
  EXPECT_EQ(simulated.options.access.simulatedControllers, 3);
  EXPECT_EQ(simulated.options.languageId, 2052);
  EXPECT_TRUE(simulated.options.verbose);
  EXPECT_EQ(win::ParseCommandLine({"update", "--language", "1033"}, {}).options.languageId, 1033);

  // "/?" is the help; the box lists each option on a line of its own with its words
  // under it, as the box's font lines up no columns.
  const auto help = win::ParseCommandLine({"update", "/?"}, {});
  ASSERT_TRUE(help.message);
  EXPECT_EQ(help.message, win::ParseCommandLine({"update", "--help"}, {}).message);
  EXPECT_NE(help.message->find("\n  --simulate\n      Use a simulated controller"),
            std::string::npos)
      << *help.message;

  const auto version = win::ParseCommandLine({"update", "-V"}, {});
  ASSERT_TRUE(version.message);
  EXPECT_EQ(version.message->rfind("update 2.15.0\nbuild ", 0), 0u) << *version.message;
  EXPECT_EQ(version.exitCode, 0);

  // Without a console the box is all the user sees: it says what was wrong and lists
  // every option.
  for (const std::vector<std::string>& wrong : {std::vector<std::string>{"update", "--bogus"},
                                                {"update", "--language", "chinese"},
                                                {"update", "--lang", "fr"}}) {
    const auto mistake = win::ParseCommandLine(wrong, {});
    ASSERT_TRUE(mistake.message);
    EXPECT_EQ(mistake.exitCode, 2);
    EXPECT_EQ(mistake.message->rfind("update: ", 0), 0u) << *mistake.message;
    EXPECT_NE(mistake.message->find(wrong[1]), std::string::npos) << *mistake.message;
    for (const char* option : {"--simulate", "--lang", "--verbose"}) {
      EXPECT_NE(mistake.message->find(option), std::string::npos) << option;
    }
  }
}

}  // namespace
