// What every command gets: the process it runs in (streams, answers, environment,
// Ctrl-C), the global options, and the ways to reach a device and load texts. One
// session per invocation; nothing here is process-wide, so tests run many in one
// process.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "base/DebugOutput.h"
#include "base/Error.h"
#include "base/Wake.h"
#include "cli/ExitCode.h"
#include "hid/HidPlatform.h"
#include "platform/DeviceAccess.h"
#include "text/LocalizedText.h"
#include "update/Road.h"

namespace cli {

// The JSON documents of --json and the strings of the trace: objects keep their keys in
// the order they were set, so that output reads the same every time.
using Json = nlohmann::ordered_json;

// The text of a JSON value: compact with indent < 0, else pretty with that many spaces
// per level. UTF-8 passes through as it is; a byte that is not UTF-8 (a file name can
// hold any) becomes U+FFFD, so that the document stays JSON.
std::string JsonText(const Json& value, int indent = -1);

// How long update-cli waits for the controller to change mode: the road's bounds.
using Waits = update::Waits;

// What a command asks of the platform it opens. The way to the device is the options'
// (platform::ChooseDeviceAccess, the window's rules); OpenPlatform fills it in.
struct PlatformRequest {
  platform::DeviceAccess access;
  // The firmware a simulated controller reports after a completed update: the image's,
  // as a real controller reports the version of the firmware it now runs.
  std::optional<std::uint16_t> simulatedNewVersion;
  std::optional<std::uint16_t> simulatedNewBeta;
  base::DebugSink debug;
};

using PlatformFactory =
    std::function<base::Result<std::shared_ptr<hid::IHidPlatform>>(const PlatformRequest&)>;

// Where things go: results on out (stdout: a listing, an image's fields, the version a
// controller came back with; with --json only the JSON document, the results for people
// then on err); questions, progress and failures on err (stderr), which stays on the
// terminal when stdout goes to a file or a pipe.
struct CliContext {
  std::ostream* out = nullptr;
  std::ostream* err = nullptr;
  int inputFd = 0;               // where answers to questions come from
  bool inputIsTerminal = false;  // a terminal shows what is typed; other answers are echoed
  bool outIsTerminal = false;
  bool errIsTerminal = false;  // draw the progress bar on err, else plain lines
  // The width of the terminal err is on, asked at each redraw; empty: 80 columns.
  std::function<int()> errColumns;
  // The process environment (UPDATE_EMULATOR, LANG, ...); empty reads nothing.
  std::function<std::optional<std::string>(const char* name)> environment;
  base::CWakeFd* interrupt = nullptr;  // signalled on Ctrl-C; null: never
  // What signalled interrupt (Ctrl-C or a request to end); empty: Ctrl-C.
  std::function<base::InterruptCause()> interruptCause;
  // Called once the language is known, before anything is printed: main() sets the
  // process's messages to it (Messages.h). Empty: the messages stay as written.
  std::function<void(std::uint16_t languageId)> useMessageLanguage;
  PlatformFactory platformFactory;  // empty: platform::CreateHidPlatform
  Waits waits;
};

struct GlobalOptions {
  // --simulate[=N]: what followed its "=" ("1" for none); nullopt when not given.
  std::optional<std::string> simulate;
  std::optional<std::string> emulator;
  std::optional<std::string> device;
  bool json = false;
  bool verbose = false;
  std::optional<std::string> trace;
  std::optional<std::string> lang;
};

// How a command ended: its exit code, one line for people on failure (what failed and
// what to do), and with --json the document for stdout.
struct CommandResult {
  ExitCode code = ExitCode::kSuccess;
  std::string message;
  std::optional<Json> document;
};

CommandResult Failure(ExitCode code, std::string message);

// The head of a command's JSON document: result, exitCode and error.
Json ResultJson(const CommandResult& result);

// The platform a request names, built as update-cli builds it when the context names no
// factory of its own.
base::Result<std::shared_ptr<hid::IHidPlatform>> CreateRequestedPlatform(
    const PlatformRequest& request);

class CSession {
 public:
  CSession(CliContext& context, GlobalOptions options);

  const GlobalOptions& Options() const { return m_Options; }
  CliContext& Context() { return m_Context; }

  // Where results for people go: stdout, or stderr when stdout carries JSON.
  std::ostream& Human() const;
  // Where questions and progress go, whatever stdout is: stderr.
  std::ostream& Progress() const { return *m_Context.err; }
  bool ProgressIsTerminal() const { return m_Context.errIsTerminal; }
  base::InterruptCause Interruption() const {
    return m_Context.interruptCause ? m_Context.interruptCause() : base::InterruptCause::kCtrlC;
  }

  // The language of the product's texts and of the messages: --lang (LanguageIdFromOption),
  // else the environment's locale.
  std::uint16_t LanguageId() const { return m_LanguageId; }
  std::string Text(text::TextId id) const;

  // Held for every write to stdout and stderr that may come from two threads.
  std::mutex& OutputMutex() { return m_OutputMutex; }

  // --verbose: debug lines on stderr; otherwise they go nowhere.
  base::DebugSink DebugSink();
  void Debug(std::string_view line);

  // The platform the options ask for (--simulate, --emulator, UPDATE_EMULATOR, else the
  // system's), traced with --trace. A failure is the command's result: an empty
  // --emulator, the emulator not running, the trace file not writable, ...
  std::variant<std::shared_ptr<hid::IHidPlatform>, CommandResult> OpenPlatform(
      PlatformRequest request = {});

 private:
  CliContext& m_Context;
  const GlobalOptions m_Options;
  std::uint16_t m_LanguageId;
  std::mutex m_OutputMutex;
};

// The fix for a controller the system will not let us open: on Linux the udev rule, on
// Windows, which refuses to open the controller while another program holds it for
// itself, closing that program.
std::string PermissionHint();

// A controller that could not be opened: permission (with PermissionHint()), gone, other.
CommandResult OpenFailure(const std::string& path, const base::Error& error);

}  // namespace cli
