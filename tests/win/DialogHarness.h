// Runs the Windows dialog on a thread of its own, as the program runs it on its main
// thread, and drives it from the test's thread with Win32 messages: clicks are BM_CLICK,
// answers WM_COMMAND to the box or file dialog that is open, closing WM_CLOSE.
//
// Waits are bounded and never sleep: a hook on the dialog's thread signals an event each
// time that thread takes a message from its queue (also inside a box or the file
// dialog), and the test looks again once the thread has handled it.
#pragma once

#include <windows.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "win/UpdateDlg.h"

namespace testing_support {

class CDialogHarness {
 public:
  CDialogHarness(std::shared_ptr<hid::IHidPlatform> platform, win::DialogOptions options);
  // Closes a dialog that still runs and waits for its thread.
  ~CDialogHarness();
  CDialogHarness(const CDialogHarness&) = delete;
  CDialogHarness& operator=(const CDialogHarness&) = delete;

  win::CUpdateDlg& Dlg() { return *m_Dialog; }
  HWND Dialog() const { return m_Dialog->Window(); }
  HWND Item(int id) const { return ::GetDlgItem(Dialog(), id); }

  // True once condition holds; false when it still does not after bound.
  bool WaitUntil(const std::function<bool()>& condition,
                 std::chrono::milliseconds bound = std::chrono::seconds(20));
  // The modal run has returned; its result.
  bool WaitForEnd(std::chrono::milliseconds bound = std::chrono::seconds(20));
  std::optional<INT_PTR> Result() const;

  // The box or file dialog open over the dialog, or null; a waiting form.
  HWND OpenPopup() const;
  HWND WaitForPopup(std::chrono::milliseconds bound = std::chrono::seconds(20));
  // The box's own text; the entries of a file dialog's type list, one per line.
  static std::wstring BoxText(HWND box);
  static bool IsFileDialog(HWND popup);
  static std::wstring FileTypes(HWND fileDialog);
  // The folder a file dialog shows.
  static std::wstring FolderOf(HWND fileDialog);
  // Types path into the file dialog's name field and presses Open.
  static void ChooseFile(HWND fileDialog, const std::wstring& path);
  // Presses a button of a popup (IDOK, IDCANCEL) by its command.
  static void Press(HWND popup, int id);

  static std::wstring TextOf(HWND window);
  int Progress() const;
  void Click(int id) const { ::PostMessageW(Item(id), BM_CLICK, 0, 0); }

 private:
  void Run(std::shared_ptr<hid::IHidPlatform> platform, win::DialogOptions options);

  HANDLE m_Activity = nullptr;  // auto-reset, signalled by the dialog thread's hook
  DWORD m_ThreadId = 0;
  std::unique_ptr<win::CUpdateDlg> m_Dialog;
  std::atomic<bool> m_Ended{false};
  std::atomic<INT_PTR> m_Result{0};
  std::thread m_Thread;
};

}  // namespace testing_support
