// The system's file-open dialog, and where it opens.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "update/UserInterface.h"

namespace win {

// The user's Downloads folder (FOLDERID_Downloads), where an image fetched from the web
// lands; empty when the shell does not say.
std::wstring DownloadsFolder();

// Asks for a file with the system's dialog, modal over owner: in the request's folder,
// else in the user's downloads, never in the program's own. The chosen path as UTF-8;
// nullopt when the dialog was cancelled.
std::optional<std::string> AskForFile(HWND owner, const update::OpenFileRequest& request);

}  // namespace win
