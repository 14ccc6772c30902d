#include "cli/Session.h"

#include <ostream>

#include "cli/Messages.h"
#include "hid/TracePlatform.h"
#include "text/UiLanguage.h"

namespace cli {
namespace {

std::uint16_t LanguageFromEnvironment(const CliContext& context) {
  if (!context.environment) {
    return text::kLangEnglishUs;
  }
  return text::LanguageIdFromEnvironment(context.environment);
}

std::uint16_t ChooseLanguage(const GlobalOptions& options, const CliContext& context) {
  if (options.lang) {
    if (const auto id = text::LanguageIdFromOption(*options.lang)) {
      return *id;
    }
  }
  return LanguageFromEnvironment(context);
}

}  // namespace

base::Result<std::shared_ptr<hid::IHidPlatform>> CreateRequestedPlatform(
    const PlatformRequest& request) {
  sim::SimConfig simulated = platform::SimulatedControllerConfig();
  simulated.updatedVersion = request.simulatedNewVersion.value_or(simulated.updatedVersion);
  simulated.updatedBeta = request.simulatedNewBeta.value_or(simulated.updatedBeta);
  return platform::CreateHidPlatform(request.access, {simulated, request.debug});
}

std::string JsonText(const Json& value, int indent) {
  return value.dump(indent, ' ', false, Json::error_handler_t::replace);
}

CommandResult Failure(ExitCode code, std::string message) {
  return CommandResult{code, std::move(message), std::nullopt};
}

Json ResultJson(const CommandResult& result) {
  const bool success = result.code == ExitCode::kSuccess;
  return Json{
      {"result", success ? "completed" : "failed"},
      {"exitCode", static_cast<int>(result.code)},
      {"error",
       success ? Json() : Json{{"kind", ToName(result.code)}, {"message", result.message}}}};
}

CSession::CSession(CliContext& context, GlobalOptions options)
    : m_Context(context),
      m_Options(std::move(options)),
      m_LanguageId(ChooseLanguage(m_Options, context)) {}

std::ostream& CSession::Human() const {
  return m_Options.json ? *m_Context.err : *m_Context.out;
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

std::variant<std::shared_ptr<hid::IHidPlatform>, CommandResult> CSession::OpenPlatform(
    PlatformRequest request) {
  auto access = platform::ChooseDeviceAccess(
      m_Options.simulate, m_Options.emulator,
      m_Context.environment ? m_Context.environment(platform::kEmulatorVariable) : std::nullopt);
  if (!access) {
    return Failure(ExitCode::kUsage, access.error().message);
  }
  request.access = access.value();
  request.debug = DebugSink();
  auto opened = m_Context.platformFactory ? m_Context.platformFactory(request)
                                          : CreateRequestedPlatform(request);
  if (!opened) {
    const base::Error& error = opened.error();
    if (request.access.kind == platform::DeviceAccessKind::kEmulator) {
      // Nobody listening is the usual reason; a busy emulator says so itself.
      return Failure(ExitCode::kNoDevice,
                     error.kind == base::ErrorKind::kNotFound
                         ? Fmt(Tr("cannot reach the emulator: {0}: start the emulator first, or "
                                  "check --emulator and UPDATE_EMULATOR"),
                               {error.message})
                         : Fmt(Tr("cannot reach the emulator: {0}"), {error.message}));
    }
    return Failure(error.kind == base::ErrorKind::kPermissionDenied ? ExitCode::kPermission
                                                                    : ExitCode::kFailure,
                   error.message);
  }
  std::shared_ptr<hid::IHidPlatform> chosen = std::move(opened.value());
  if (m_Options.trace) {
    auto log = hid::CTraceLog::Create(*m_Options.trace);
    if (!log) {
      return Failure(ExitCode::kFailure,
                     Fmt(Tr("cannot write the trace file: {0}"), {log.error().message}));
    }
    chosen = std::make_shared<hid::CTracePlatform>(std::move(chosen), std::move(log.value()));
  }
  return chosen;
}

std::string PermissionHint() {
#if defined(_WIN32)
  return Tr(
      "close the other programs that use the controller (a game launcher, a configuration "
      "tool), then unplug and replug it");
#else
  return Tr(
      "install the udev rule: sudo cp packaging/70-corvane-update.rules /etc/udev/rules.d/ "
      "&& sudo udevadm control --reload-rules && sudo udevadm trigger, then unplug and "
      "replug the controller");
#endif
}

CommandResult OpenFailure(const std::string& path, const base::Error& error) {
  switch (error.kind) {
    case base::ErrorKind::kPermissionDenied:
      return Failure(ExitCode::kPermission,
                     Fmt(Tr("found the controller at {0} but may not open it ({1}): {2}"),
                         {path, error.message, PermissionHint()}));
    case base::ErrorKind::kNotFound:
    case base::ErrorKind::kDisconnected:
      return Failure(ExitCode::kNoDevice,
                     Fmt(Tr("the controller at {0} went away before it could be opened ({1}): "
                            "plug it in and run again"),
                         {path, error.message}));
    default:
      return Failure(ExitCode::kDeviceNotAnswering,
                     Fmt(Tr("cannot open the controller at {0} ({1}): unplug and replug it, then "
                            "run again"),
                         {path, error.message}));
  }
}

}  // namespace cli
