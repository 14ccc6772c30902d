// The six operations through which the update logic changes what the user sees. The
// windows implement all of them; a front end with no window to change (the command
// line, a listing) keeps the defaults: nothing to show, and every question answered no.
//
// Two kinds. The box and the file dialog wait for the user: they are called only on the
// owner's UI thread (by the asking before a run, and at a run's end), never by the run.
// The other four never wait for a person and may be called from the run's worker while
// the UI thread goes on: a front end hands them to its UI thread (a queued call, a posted
// message) without blocking the worker.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace update {

enum class MessageButtons { kOk, kOkCancel };
enum class MessageResult { kOk, kCancel };

struct OpenFileRequest {
  // A '|'-separated filter: label|pattern|...|| ("File type(*.dat)|*.dat||").
  std::string filter;
  std::string defaultExtension;
  std::string initialFileName;
  std::string initialDirectory;
};

class IUserInterface {
 public:
  virtual ~IUserInterface() = default;

  // UI thread only; waits for the user. A modal box without icon, owned by the main
  // window. In the OK-and-Cancel form, Escape and the close box count as Cancel.
  virtual MessageResult ShowMessageBox(const std::string& /*text*/, const std::string& /*caption*/,
                                       MessageButtons buttons) {
    return buttons == MessageButtons::kOk ? MessageResult::kOk : MessageResult::kCancel;
  }
  // Any thread; never waits for a person. Below 0 shows as 0, above 100 as 100.
  virtual void SetProgress(std::int32_t /*position*/) {}
  virtual void EnableUpdateButton(bool /*enabled*/) {}
  virtual void ShowCompletionLabel(bool /*visible*/) {}
  virtual void SetWindowTitle(const std::string& /*title*/) {}
  // UI thread only; waits for the user. The full path of the chosen file, or nullopt
  // when the dialog was cancelled. The file need not exist; the caller finds that out
  // when it opens it.
  virtual std::optional<std::string> ShowOpenFileDialog(const OpenFileRequest& /*request*/) {
    return std::nullopt;
  }
};

struct FilterEntry {
  std::string label;
  std::string pattern;
};

// Splits a '|'-separated filter into its entries; a trailing "||" ends the list.
std::optional<FilterEntry> FirstFilterEntry(const std::string& filter);

}  // namespace update
