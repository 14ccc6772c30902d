#include "win/FileDialog.h"

#include <windows.h>
// After windows.h, which they need.
#include <commdlg.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <algorithm>

#include "base/WideText.h"

namespace win {
namespace {

using base::Utf8FromWide;
using base::WideFromUtf8;

// "label|pattern||" as the file dialog wants it: label, NUL, pattern, NUL, NUL.
std::wstring FileDialogFilter(const std::string& filter) {
  std::wstring result;
  if (const auto entry = update::FirstFilterEntry(filter)) {
    result = WideFromUtf8(entry->label);
    result += L'\0';
    result += WideFromUtf8(entry->pattern);
    result += L'\0';
    result += L'\0';
  }
  return result;
}

}  // namespace

std::wstring DownloadsFolder() {
  PWSTR path = nullptr;
  std::wstring folder;
  if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_Downloads, KF_FLAG_DEFAULT, nullptr, &path))) {
    folder = path;
  }
  ::CoTaskMemFree(path);  // also when the call failed
  return folder;
}

std::optional<std::string> AskForFile(HWND owner, const update::OpenFileRequest& request) {
  const std::wstring filter = FileDialogFilter(request.filter);
  // Where the last image was chosen, else the user's downloads: never the program's folder.
  const std::wstring directory =
      request.initialDirectory.empty() ? DownloadsFolder() : WideFromUtf8(request.initialDirectory);
  // A default extension of wildcards ("*.*") names none to add.
  std::wstring extension = WideFromUtf8(request.defaultExtension);
  if (extension.find_first_of(L"*?") != std::wstring::npos) {
    extension.clear();
  }
  std::wstring file = WideFromUtf8(request.initialFileName);
  file.resize(std::max<std::size_t>(file.size() + 1, 32768), L'\0');

  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = owner;
  dialog.lpstrFilter = filter.empty() ? nullptr : filter.c_str();
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = file.data();
  dialog.nMaxFile = static_cast<DWORD>(file.size());
  dialog.lpstrInitialDir = directory.empty() ? nullptr : directory.c_str();
  dialog.lpstrDefExt = extension.empty() ? nullptr : extension.c_str();
  // The file need not exist: opening it tells. The current directory stays.
  dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_ENABLESIZING;
  if (!::GetOpenFileNameW(&dialog)) {
    return std::nullopt;
  }
  return Utf8FromWide(file.c_str());
}

}  // namespace win
