#include "cli/Session.h"

#include <ostream>

#include "text/UiLanguage.h"
#include "cli/TracePlatform.h"
#include "hid/emulator/EmulatorSelection.h"

namespace cli {
namespace {

std::uint16_t ChooseLanguage(const GlobalOptions& options, const CliContext& context) {
  if (options.lang) {
    // "zh" alone means the Chinese of the product's table; anything else is read as a
    // locale name, so --lang takes what LANG would.
    if (*options.lang == "zh") {
      return text::kLangChinesePrc;
    }
    return text::LanguageIdFromLocaleName(*options.lang);
  }
  if (!context.environment) {
    return text::kLangEnglishUs;
  }
  return text::LanguageIdFromEnvironment(context.environment);
}

}  // namespace

CommandResult Failure(ExitCode code, std::string message) {
  return CommandResult{code, std::move(message), std::nullopt};
}

CSession::CSession(CliContext& context, GlobalOptions options)
    : m_Context(context),
      m_Options(std::move(options)),
      m_LanguageId(ChooseLanguage(m_Options, context)) {}

std::ostream& CSession::Human() const {
  return m_Options.json ? *m_Context.err : *m_Context.out;
}

bool CSession::HumanIsTerminal() const {
  return m_Options.json ? m_Context.errIsTerminal : m_Context.outIsTerminal;
}

std::string CSession::Text(text::TextId id) const {
  return text::LoadLocalizedText(id, m_LanguageId);
}

base::DebugSink CSession::DebugSink() {
  if (!m_Options.verbose) {
    return {};
  }
  return [this](std::string_view line) { Debug(line); };
}

void CSession::Debug(std::string_view line) {
  if (!m_Options.verbose) {
    return;
  }
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
    line.remove_suffix(1);
  }
  std::lock_guard lock(m_OutputMutex);
  *m_Context.err << "debug: " << line << '\n' << std::flush;
}

std::optional<std::string> CSession::EmulatorPath() const {
  // The window chooses the same way, so that the two agree.
  return hid::emulator::SelectEmulatorPath(
      m_Options.emulator,
      m_Context.environment ? hid::emulator::EnvironmentReader(m_Context.environment)
                            : [](const char*) -> std::optional<std::string> { return {}; });
}

std::variant<std::shared_ptr<hid::IHidPlatform>, CommandResult> CSession::OpenPlatform(
    PlatformRequest request) {
  request.simulate = m_Options.simulate;
  request.emulatorPath = EmulatorPath();
  request.debug = DebugSink();
  auto platform =
      m_Context.platformFactory ? m_Context.platformFactory(request) : ChoosePlatform(request);
  if (!platform) {
    const base::Error& error = platform.error();
    if (request.emulatorPath && !request.simulate) {
      return Failure(ExitCode::kNoDevice,
                     "cannot reach the emulator: " + error.message +
                         ": start the emulator first, or check --emulator and UPDATE_EMULATOR");
    }
    return Failure(error.kind == base::ErrorKind::kPermissionDenied ? ExitCode::kPermission
                                                                    : ExitCode::kFailure,
                   error.message);
  }
  std::shared_ptr<hid::IHidPlatform> chosen = std::move(platform.value());
  if (m_Options.trace) {
    auto log = CTraceLog::Create(*m_Options.trace);
    if (!log) {
      return Failure(ExitCode::kFailure, "cannot write the trace file: " + log.error().message);
    }
    chosen = std::make_shared<CTracePlatform>(std::move(chosen), std::move(log.value()));
  }
  return chosen;
}

CommandResult OpenFailure(const std::string& path, const base::Error& error) {
  switch (error.kind) {
    case base::ErrorKind::kPermissionDenied:
      return Failure(ExitCode::kPermission, "found the controller at " + path +
                                                " but may not open it (" + error.message +
                                                "): " + kPermissionHint);
    case base::ErrorKind::kNotFound:
    case base::ErrorKind::kDisconnected:
      return Failure(ExitCode::kNoDevice, "the controller at " + path +
                                              " went away before it could be opened (" +
                                              error.message + "): plug it in and run again");
    default:
      return Failure(ExitCode::kDeviceNotAnswering, "cannot open the controller at " + path + " (" +
                                                        error.message +
                                                        "): unplug and replug it, then run again");
  }
}

}  // namespace cli
