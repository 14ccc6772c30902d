#include "tests/win/DialogHarness.h"

#include <commctrl.h>
#include <commdlg.h>
#include <dlgs.h>

#include <future>
#include <vector>

namespace testing_support {
namespace {

// The hook has no context of its own; it runs on the dialog's thread, which keeps here
// the event it signals.
thread_local HANDLE t_Activity = nullptr;

LRESULT CALLBACK OnMessageTaken(int code, WPARAM wParam, LPARAM lParam) {
  if (code >= 0 && t_Activity != nullptr) {
    ::SetEvent(t_Activity);
  }
  return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

std::vector<HWND> Children(HWND parent) {
  std::vector<HWND> children;
  ::EnumChildWindows(
      parent,
      [](HWND child, LPARAM list) {
        reinterpret_cast<std::vector<HWND>*>(list)->push_back(child);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&children));
  return children;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  ::GetClassNameW(window, name, 64);
  return name;
}

}  // namespace

CDialogHarness::CDialogHarness(std::shared_ptr<hid::IHidPlatform> platform,
                               win::DialogOptions options)
    : m_Activity(::CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
  std::promise<void> created;
  std::future<void> ready = created.get_future();
  m_Thread = std::thread([this, platform, options, &created]() mutable {
    m_Dialog = std::make_unique<win::CUpdateDlg>(std::move(platform), std::move(options));
    m_ThreadId = ::GetCurrentThreadId();
    t_Activity = m_Activity;
    const HHOOK hook = ::SetWindowsHookExW(WH_GETMESSAGE, &OnMessageTaken, nullptr, m_ThreadId);
    created.set_value();
    m_Result = m_Dialog->DoModal();
    m_Ended = true;
    ::UnhookWindowsHookEx(hook);
    ::SetEvent(m_Activity);
  });
  ready.wait();
  WaitUntil([this] { return Dialog() != nullptr && ::IsWindowVisible(Dialog()); });
}

CDialogHarness::~CDialogHarness() {
  for (int attempt = 0; attempt < 5 && !m_Ended; ++attempt) {
    if (const HWND popup = OpenPopup()) {
      Press(popup, IDCANCEL);
    }
    if (const HWND dialog = Dialog()) {
      ::PostMessageW(dialog, WM_CLOSE, 0, 0);
    }
    WaitForEnd(std::chrono::seconds(5));
  }
  m_Thread.join();
  m_Dialog.reset();
  ::CloseHandle(m_Activity);
}

bool CDialogHarness::WaitUntil(const std::function<bool()>& condition,
                               std::chrono::milliseconds bound) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  for (;;) {
    // The message that woke us has been handled once the thread answers this.
    if (const HWND dialog = Dialog()) {
      ::SendMessageTimeoutW(dialog, WM_NULL, 0, 0, SMTO_NORMAL, 1000, nullptr);
    }
    if (condition()) {
      return true;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      return false;
    }
    ::WaitForSingleObject(m_Activity, static_cast<DWORD>(left.count()));
  }
}

bool CDialogHarness::WaitForEnd(std::chrono::milliseconds bound) {
  return WaitUntil([this] { return m_Ended.load(); }, bound);
}

std::optional<INT_PTR> CDialogHarness::Result() const {
  return m_Ended ? std::optional<INT_PTR>(m_Result.load()) : std::nullopt;
}

HWND CDialogHarness::OpenPopup() const {
  struct Search {
    HWND owner;
    HWND found;
  } search{Dialog(), nullptr};
  if (search.owner == nullptr) {
    return nullptr;
  }
  ::EnumThreadWindows(
      m_ThreadId,
      [](HWND window, LPARAM context) {
        auto* s = reinterpret_cast<Search*>(context);
        if (::GetWindow(window, GW_OWNER) == s->owner && ::IsWindowVisible(window) &&
            ::IsWindowEnabled(window)) {
          s->found = window;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND CDialogHarness::WaitForPopup(std::chrono::milliseconds bound) {
  HWND popup = nullptr;
  WaitUntil([&] { return (popup = OpenPopup()) != nullptr; }, bound);
  return popup;
}

std::wstring CDialogHarness::TextOf(HWND window) {
  std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(
      ::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

std::wstring CDialogHarness::BoxText(HWND box) {
  // The text is the box's one static control that says anything (the icon's is empty).
  std::wstring text;
  for (const HWND child : Children(box)) {
    if (ClassOf(child) == L"Static") {
      text += TextOf(child);
    }
  }
  return text;
}

bool CDialogHarness::IsFileDialog(HWND popup) {
  return ::GetDlgItem(popup, cmb1) != nullptr;  // the file type list
}

std::wstring CDialogHarness::FileTypes(HWND fileDialog) {
  const HWND types = ::GetDlgItem(fileDialog, cmb1);
  std::wstring all;
  const auto count = ::SendMessageW(types, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    std::wstring entry(static_cast<std::size_t>(::SendMessageW(types, CB_GETLBTEXTLEN, i, 0)) + 1,
                       L'\0');
    entry.resize(static_cast<std::size_t>(
        ::SendMessageW(types, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(entry.data()))));
    all += entry + L"\n";
  }
  return all;
}

std::wstring CDialogHarness::FolderOf(HWND fileDialog) {
  wchar_t folder[MAX_PATH] = {};
  ::SendMessageW(fileDialog, CDM_GETFOLDERPATH, MAX_PATH, reinterpret_cast<LPARAM>(folder));
  return folder;
}

void CDialogHarness::ChooseFile(HWND fileDialog, const std::wstring& path) {
  // The name field: the edit control inside the name combo box (cmb13), or edt1.
  for (const HWND child : Children(fileDialog)) {
    const int id = ::GetDlgCtrlID(child);
    if ((id == cmb13 || id == edt1) && ClassOf(child) == L"Edit") {
      ::SendMessageW(child, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
    }
  }
  Press(fileDialog, IDOK);
}

void CDialogHarness::Press(HWND popup, int id) {
  ::PostMessageW(popup, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(::GetDlgItem(popup, id)));
}

int CDialogHarness::Progress() const {
  return static_cast<int>(::SendMessageW(Item(win::kIdProgressBar), PBM_GETPOS, 0, 0));
}

}  // namespace testing_support
