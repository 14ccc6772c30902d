#include "cli/FlashCommand.h"

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "base/FilePath.h"
#include "cli/DeviceChoice.h"
#include "cli/FlashAll.h"
#include "cli/ImageCommands.h"
#include "cli/Messages.h"
#include "cli/RunWords.h"
#include "cli/TerminalUi.h"
#include "firmware/FirmwareHeader.h"
#include "firmware/ImageFile.h"
#include "firmware/VersionPrompt.h"
#include "hid/Hid.h"
#include "update/UpdateController.h"

namespace cli {
namespace {

using Clock = std::chrono::steady_clock;
using update::RunFailure;
using update::RunOutcome;
using update::RunStep;

std::string Seconds(std::chrono::milliseconds wait) {
  char text[16];
  std::snprintf(text, sizeof text, "%g s", static_cast<double>(wait.count()) / 1000.0);
  return text;
}

std::string Hex16(std::uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04X", value);
  return text;
}

// One flashing road: the link, what it shows, the controller and the events between.
class CFlashRun {
 public:
  CFlashRun(CSession& session, std::shared_ptr<hid::IHidPlatform> platform, std::string path,
            std::string imagePath, firmware::ImageInfo image, IRoadUi& ui)
      : m_Session(session),
        m_Platform(std::move(platform)),
        m_Path(std::move(path)),
        m_ImagePath(std::move(imagePath)),
        m_Image(image),
        m_Link(m_Platform, session.DebugSink()),
        m_Ui(ui),
        m_Controller(m_Link, m_Ui, [&session, this] {
          update::ControllerOptions options;
          options.texts = [&session](text::TextId id) { return session.Text(id); };
          options.debug = session.DebugSink();
          options.onRunFinished = [this](const RunOutcome&) { m_RunEnded.Signal(); };
          return options;
        }()) {
    std::error_code ec;
    const auto absolute = std::filesystem::absolute(base::PathFromUtf8(m_ImagePath), ec);
    m_Ui.SetImagePath(ec ? m_ImagePath : base::Utf8FromPath(absolute));
    m_Ui.OnImageAsked([this] { AnnounceBootModeStart(); });
    m_Controller.SetRunProgressObserver([this](const RunOutcome& now) { m_Ui.OnRunProgress(now); });
  }

  CommandResult Execute();

 private:
  enum class Wake { kNotices, kInterrupt, kRunEnded, kTimeout };

  Waitable InterruptFd() const {
    CWakeFd* interrupt = m_Session.Context().interrupt;
    return interrupt != nullptr ? interrupt->Fd() : kNoWaitable;
  }
  Wake WaitForEvent(std::optional<Clock::time_point> deadline);
  // Hands pending notices to the controller; true when one was an arrival.
  bool HandleNotices();

  // A controller found waiting in boot mode is flashed directly: said when its run asks
  // for the image, once identification has told its type.
  void AnnounceBootModeStart();
  // The way back for a controller this run leaves waiting in boot mode, after "; ": run
  // again. A simulated controller ends with this program and the next run starts it
  // afresh in application mode: there is nothing to come back to.
  std::string StaysInBootMode(std::string advice) const;
  CommandResult UnusableDevice();
  CommandResult SwitchToBootMode();
  CommandResult FollowRun();
  CommandResult FromOutcome(const RunOutcome& outcome);
  void WaitForApplicationMode();
  CommandResult Finish(CommandResult result);

  CSession& m_Session;
  const std::shared_ptr<hid::IHidPlatform> m_Platform;
  const std::string m_Path;
  const std::string m_ImagePath;
  const firmware::ImageInfo m_Image;
  hid::CHid m_Link;
  IRoadUi& m_Ui;
  CWakeFd m_RunEnded;
  update::CUpdateController m_Controller;  // after everything its worker touches

  bool m_Interrupted = false;
  bool m_StartedInBootMode = false;
  std::optional<std::uint32_t> m_PreviousVersion;
  std::optional<std::uint16_t> m_DeviceType;
  std::optional<RunOutcome> m_Outcome;
  std::optional<std::uint32_t> m_NewVersion;
};

CFlashRun::Wake CFlashRun::WaitForEvent(std::optional<Clock::time_point> deadline) {
  for (;;) {
    if (!m_Interrupted && m_Session.Context().interrupt != nullptr &&
        m_Session.Context().interrupt->IsSignalled()) {
      return Wake::kInterrupt;
    }
    if (m_RunEnded.IsSignalled()) {
      return Wake::kRunEnded;
    }
    const Waitable waitables[] = {NoticeWaitable(*m_Platform), m_RunEnded.Fd(),
                                  m_Interrupted ? kNoWaitable : InterruptFd()};
    std::optional<std::chrono::milliseconds> timeout;
    if (deadline) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
      if (left.count() <= 0) {
        return Wake::kTimeout;
      }
      timeout = left;
    }
    const int ready = WaitForAny(waitables, timeout);
    if (ready == kWaitFailed) {
      return Wake::kTimeout;
    }
    if (ready == 0) {
      return Wake::kNotices;
    }
    // Otherwise go round: the checks at the top name what woke us.
  }
}

bool CFlashRun::HandleNotices() {
  bool arrival = false;
  for (const std::uint32_t code : m_Platform->TakeNotices()) {
    char line[48];
    std::snprintf(line, sizeof line, "device notice 0x%04X", code);
    m_Session.Debug(line);
    arrival = arrival || code == hid::kNoticeArrival;
    (void)m_Controller.OnDeviceChange(code);
  }
  return arrival;
}

void CFlashRun::AnnounceBootModeStart() {
  if (m_StartedInBootMode || m_PreviousVersion) {
    return;
  }
  m_StartedInBootMode = true;
  m_DeviceType = firmware::ExpectedFirmwareType(m_Controller.GetDeviceKind());
  m_Ui.OnControllerFound(*m_DeviceType, std::nullopt);
  m_Ui.Line(Fmt(Tr("Found {0} waiting in boot mode (type {1}): flashing it directly; its current "
                   "firmware is not known."),
                {m_Path, Hex16(*m_DeviceType)}));
}

CommandResult CFlashRun::Execute() {
  m_Controller.StartUp();
  const hid::MatchedDeviceIds ids = m_Controller.GetMatchedDeviceIds();
  if (m_Controller.RunsStarted() > 0) {
    return FollowRun();
  }
  const std::uint16_t kind = m_Controller.GetDeviceKind();
  if (ids.ProductId != hid::kAppProductId || kind == update::kDeviceKindUnknown) {
    return Finish(UnusableDevice());
  }
  return SwitchToBootMode();
}

std::string CFlashRun::StaysInBootMode(std::string advice) const {
  if (m_Session.Options().simulate) {
    return Tr("the simulated controller ends with this program; the next run starts it afresh");
  }
  return advice;
}

CommandResult CFlashRun::UnusableDevice() {
  const hid::MatchedDeviceIds ids = m_Controller.GetMatchedDeviceIds();
  if (ids.VendorId != hid::kVendorId) {
    return Failure(ExitCode::kNoDevice, Tr("the controller went away: plug it in and run again"));
  }
  if (auto error = m_Link.LastOpenError()) {
    return OpenFailure(m_Path, *error);
  }
  if (ids.ProductId == hid::kAppProductId &&
      m_Controller.GetCurrentFirmwareInfo() != firmware::kFirmwareInfoUnread) {
    return Failure(
        ExitCode::kNoDevice,
        Fmt(Tr("the controller at {0} reports a type this tool has no images for"), {m_Path}));
  }
  return Failure(ExitCode::kDeviceNotAnswering,
                 Fmt(Tr("the controller at {0} did not answer when asked what it is: unplug and "
                        "replug it, then run the same command again"),
                     {m_Path}));
}

CommandResult CFlashRun::SwitchToBootMode() {
  const std::uint32_t info = m_Controller.GetCurrentFirmwareInfo();
  m_PreviousVersion = info;
  m_DeviceType = firmware::ExpectedFirmwareType(m_Controller.GetDeviceKind());
  m_Ui.OnControllerFound(*m_DeviceType, info);
  m_Ui.Line(Fmt(
      Tr("Found {0}: type {1}, firmware {2} (application mode)."),
      {m_Path, Hex16(*m_DeviceType),
       FormatVersion(static_cast<std::uint16_t>(info), static_cast<std::uint16_t>(info >> 16))}));

  // Asked here, before the controller is switched: an image it cannot take, or a "no",
  // must not leave it waiting in boot mode. The run then writes what was confirmed.
  RunOutcome why;
  std::optional<update::CheckedImage> checked =
      m_Controller.SelectFirmwareImage(*m_DeviceType, &why);
  if (!checked) {
    if (why.failure == RunFailure::kDeclined) {
      if (m_Session.Context().interrupt != nullptr &&
          m_Session.Context().interrupt->IsSignalled()) {
        return Finish(
            Failure(ExitCode::kInterrupted, Tr("interrupted: the controller was not touched")));
      }
      return Finish(Failure(ExitCode::kDeclined,
                            Tr("declined: the controller was not touched (--yes answers the "
                               "question for scripts)")));
    }
    if (why.imageProblem == firmware::ImageProblem::kTypeMismatch ||
        why.imageProblem == firmware::ImageProblem::kTypeOutOfRange) {
      return Finish(Failure(
          ExitCode::kImageRefused,
          Fmt(Tr("image refused: {0} is built for type {1}, the controller is type {2}: use an "
                 "image for {2}; the controller was not touched"),
              {m_ImagePath, FormatTypeCode(m_Image.header.firmwareType), Hex16(*m_DeviceType)})));
    }
    return Finish(
        Failure(ExitCode::kImageRefused,
                Fmt(Tr("image refused: {0}; the controller was not touched"), {DescribeRun(why)})));
  }
  m_Controller.SetCheckedImage(std::move(checked));

  m_Ui.Line(Tr("Switching to boot mode..."));
  m_Controller.OnUpdateClicked();
  const auto deadline = Clock::now() + m_Session.Context().waits.bootMode;
  while (m_Controller.RunsStarted() == 0) {
    switch (WaitForEvent(deadline)) {
      case Wake::kTimeout:
        return Finish(Failure(
            ExitCode::kBootModeTimeout,
            Fmt(Tr("the controller did not come back in boot mode within {0}: {1}"),
                {Seconds(m_Session.Context().waits.bootMode),
                 StaysInBootMode(Tr("unplug and replug it, then run the same command again (a "
                                    "controller waiting in boot mode is flashed directly)"))})));
      case Wake::kInterrupt:
        m_Interrupted = true;
        return Finish(Failure(
            ExitCode::kInterrupted,
            Fmt(Tr("interrupted while waiting for the controller to come back in boot mode: {0}"),
                {StaysInBootMode(
                    Tr("it may now wait there; run the same command again to update it"))})));
      case Wake::kRunEnded:
        break;
      case Wake::kNotices: {
        const bool arrival = HandleNotices();
        const hid::MatchedDeviceIds ids = m_Controller.GetMatchedDeviceIds();
        if (arrival && m_Controller.RunsStarted() == 0 && ids.ProductId == hid::kBootProductId) {
          // Back in boot mode, but identification did not start a run.
          if (auto error = m_Link.LastOpenError()) {
            return Finish(OpenFailure(m_Path, *error));
          }
          return Finish(Failure(
              ExitCode::kDeviceNotAnswering,
              Fmt(Tr("the controller came back in boot mode but did not answer: {0}"),
                  {StaysInBootMode(Tr("unplug and replug it, then run the same command again"))})));
        }
        break;
      }
    }
  }
  return FollowRun();
}

CommandResult CFlashRun::FollowRun() {
  for (;;) {
    const Wake wake = WaitForEvent(std::nullopt);
    if (wake == Wake::kNotices) {
      (void)HandleNotices();
    } else if (wake == Wake::kInterrupt) {
      m_Interrupted = true;
      m_Controller.RequestStop();
      m_Ui.Line(m_Session.Interruption() == InterruptCause::kCtrlC
                    ? Tr("Stopping at the next block boundary (Ctrl-C again quits at once)...")
                    : Tr("Asked to end: stopping at the next block boundary..."));
    } else if (wake == Wake::kRunEnded) {
      break;
    }
  }
  // The run has told us how it ended; it counts as over a moment later.
  m_RunEnded.Clear();
  m_Outcome = m_Controller.WaitForRunEnd(std::chrono::seconds(10));
  m_Ui.Finish();
  if (!m_Outcome) {
    return Finish(Failure(ExitCode::kFailure, Tr("the flashing run did not end")));
  }
  if (!m_Outcome->Completed()) {
    return Finish(FromOutcome(*m_Outcome));
  }
  WaitForApplicationMode();
  return Finish(CommandResult{});
}

void CFlashRun::WaitForApplicationMode() {
  const auto returned = [this] { return m_Controller.VersionAfterUpdate().has_value(); };
  const auto wait = m_Session.Context().waits.application;
  if (!returned()) {
    m_Ui.Line(Tr("Waiting for the controller to restart in application mode..."));
  }
  const auto deadline = Clock::now() + wait;
  bool interrupted = false;
  while (!returned()) {
    const Wake wake = WaitForEvent(deadline);
    if (wake == Wake::kNotices) {
      (void)HandleNotices();
    } else if (wake == Wake::kTimeout) {
      break;
    } else if (wake == Wake::kInterrupt) {
      m_Interrupted = interrupted = true;
      break;
    }
  }
  if (interrupted) {
    m_Ui.Result(m_Session.Interruption() == InterruptCause::kCtrlC
                    ? Tr("Not waiting for the controller to restart (Ctrl-C); the update itself "
                         "was verified.")
                    : Tr("Not waiting for the controller to restart (asked to end); the update "
                         "itself was verified."));
  } else if (returned()) {
    m_NewVersion = m_Controller.VersionAfterUpdate();
    m_Ui.Result(Fmt(Tr("The controller is back in application mode with firmware {0}."),
                    {FormatVersion(static_cast<std::uint16_t>(*m_NewVersion),
                                   static_cast<std::uint16_t>(*m_NewVersion >> 16))}));
  } else {
    m_Ui.Result(Fmt(Tr("The controller did not come back in application mode within {0}; the "
                       "update itself was verified. Unplug and replug it if it does not restart "
                       "by itself."),
                    {Seconds(wait)}));
  }
}

CommandResult CFlashRun::FromOutcome(const RunOutcome& outcome) {
  switch (outcome.failure) {
    case RunFailure::kNone:
      return CommandResult{};
    case RunFailure::kImageRefused:
      if (outcome.imageProblem == firmware::ImageProblem::kTypeMismatch ||
          outcome.imageProblem == firmware::ImageProblem::kTypeOutOfRange) {
        return Failure(
            ExitCode::kImageRefused,
            Fmt(Tr("image refused: {0} is built for type {1}, the controller is type {2}; {3}"),
                {m_ImagePath, FormatTypeCode(m_Image.header.firmwareType),
                 Hex16(m_DeviceType.value_or(0)),
                 StaysInBootMode(Fmt(Tr("the controller stays in boot mode: run the same "
                                        "command again with an image for {0}"),
                                     {Hex16(m_DeviceType.value_or(0))}))}));
      }
      return Failure(
          ExitCode::kImageRefused,
          Fmt(Tr("image refused: {0}; {1}"),
              {DescribeRun(outcome),
               StaysInBootMode(Tr("the controller stays in boot mode: run the same command again "
                                  "with a whole image"))}));
    case RunFailure::kEmptyPayload:
    case RunFailure::kRegionOutOfRange:
    case RunFailure::kImageUnreadable:
      return Failure(
          ExitCode::kImageRefused,
          Fmt(Tr("image refused: {0}; {1}"),
              {DescribeRun(outcome),
               StaysInBootMode(Tr("the controller stays in boot mode: run the same command again "
                                  "with a usable image"))}));
    case RunFailure::kDeclined:
      if (m_Interrupted) {
        return Failure(ExitCode::kInterrupted,
                       Fmt(Tr("interrupted before anything was written; {0}"),
                           {StaysInBootMode(Tr("the controller stays in boot mode: run the same "
                                               "command again to update it"))}));
      }
      return Failure(ExitCode::kDeclined,
                     Fmt(Tr("declined: nothing was written; {0}"),
                         {StaysInBootMode(Tr("the controller stays in boot mode: run the same "
                                             "command again to update it"))}));
    case RunFailure::kNoImageChosen:
      return Failure(ExitCode::kFailure, Tr("no image was handed to the run"));
    case RunFailure::kDeviceNotOpen:
      if (outcome.error && outcome.error->kind == base::ErrorKind::kPermissionDenied) {
        return OpenFailure(m_Path, *outcome.error);
      }
      return Failure(
          ExitCode::kDeviceNotAnswering,
          Fmt(Tr("the controller could not be opened for writing ({0}): {1}"),
              {outcome.error ? outcome.error->message : Tr("no reason given"),
               StaysInBootMode(Tr("unplug and replug it, then run the same command again"))}));
    case RunFailure::kDeviceCommand:
      return Failure(ExitCode::kDeviceNotAnswering,
                     Fmt(Tr("the controller stopped answering: {0}; {1}"),
                         {DescribeRun(outcome),
                          StaysInBootMode(Tr("it stays in boot mode: unplug and replug it, then "
                                             "run the same command again"))}));
    case RunFailure::kCrcMismatch: {
      char values[96];
      std::snprintf(values, sizeof values, "0x%04X", outcome.imageCrc);
      const std::string imageCrc = values;
      std::snprintf(values, sizeof values, "0x%04X", outcome.deviceCrc);
      return Failure(
          ExitCode::kVerifyFailed,
          Fmt(Tr("verification failed: the CRC-16 of the first {0} bytes written differs (image "
                 "{1}, controller {2}); {3}"),
              {std::to_string(std::min(update::kVerifiedLength, outcome.regionLength)), imageCrc,
               values,
               StaysInBootMode(Tr("the controller stays in boot mode and a new run writes it "
                                  "anew: run the same command again"))}));
    }
    case RunFailure::kStopped: {
      const std::string where =
          outcome.step == RunStep::kStreaming
              ? Fmt(Tr("after block {0} of {1}"),
                    {std::to_string(outcome.block), std::to_string(outcome.blockCount)})
              : Fmt(Tr("while {0}"), {DescribeStep(outcome.step)});
      return Failure(ExitCode::kInterrupted,
                     Fmt(Tr("interrupted {0}; {1}"),
                         {where, StaysInBootMode(Tr("the controller stays in boot mode: run the "
                                                    "same command again to finish the update"))}));
    }
  }
  return Failure(ExitCode::kFailure, DescribeRun(outcome));
}

CommandResult CFlashRun::Finish(CommandResult result) {
  m_Ui.Finish();
  const auto version = [](const std::optional<std::uint32_t>& word) {
    if (!word || *word == firmware::kFirmwareInfoUnread) {
      return Json();
    }
    return Json(
        FormatVersion(static_cast<std::uint16_t>(*word), static_cast<std::uint16_t>(*word >> 16)));
  };
  Json run;
  if (m_Outcome) {
    run = {
        {"step", update::ToString(m_Outcome->step)},
        {"failure", m_Outcome->Completed() ? Json() : Json(update::ToString(m_Outcome->failure))},
        {"regionStart", m_Outcome->regionStart},
        {"regionLength", m_Outcome->regionLength},
        {"blockCount", m_Outcome->blockCount},
        {"blocksConfirmed", m_Outcome->block}};
    if (m_Outcome->Completed() || m_Outcome->failure == RunFailure::kCrcMismatch) {
      run["imageCrc"] = Hex16(m_Outcome->imageCrc);
      run["deviceCrc"] = Hex16(m_Outcome->deviceCrc);
    }
    run["completeConfirmed"] = m_Outcome->completeConfirmed;
  }
  const bool completed = m_Outcome && m_Outcome->Completed();
  const bool success = result.code == ExitCode::kSuccess;
  result.document =
      Json{{"result", success ? "completed" : "failed"},
           {"exitCode", static_cast<int>(result.code)},
           {"error",
            success ? Json() : Json{{"kind", ToName(result.code)}, {"message", result.message}}},
           {"device",
            {{"path", m_Path},
             {"type", m_DeviceType ? Json(Hex16(*m_DeviceType)) : Json()},
             {"startMode", m_StartedInBootMode ? "boot" : "application"},
             {"previousVersion", version(m_PreviousVersion)}}},
           {"image",
            {{"path", m_ImagePath},
             {"type", FormatTypeCode(m_Image.header.firmwareType)},
             {"version", FormatVersion(m_Image.header.version, 0)},
             {"beta", m_Image.header.beta}}},
           {"run", std::move(run)},
           {"newVersion", version(m_NewVersion)},
           {"returnedToApplication", completed ? Json(m_NewVersion.has_value()) : Json()}};
  return result;
}

}  // namespace

CommandResult RunFlashRoad(CSession& session, std::shared_ptr<hid::IHidPlatform> platform,
                           const std::string& path, const std::string& imagePath,
                           const firmware::ImageInfo& image, IRoadUi& ui) {
  CFlashRun run(session, std::move(platform), path, imagePath, image, ui);
  return run.Execute();
}

CLI::App* CFlashCommand::Register(CLI::App& parent) {
  CLI::App* app = parent.add_subcommand(
      "flash", Tr("Write IMAGE into the controller: boot mode, erase, write, verify"));
  app->add_option("IMAGE", m_ImagePath, Tr("The .dat firmware image"))->required();
  app->add_flag("-y,--yes", m_Yes, Tr("Answer yes to the version question"));
  app->add_flag("--all", m_All, Tr("Update every controller present, all at once"));
  return app;
}

CommandResult CFlashCommand::Run(CSession& session) {
  // The image is read before any controller is touched: a file that cannot be used
  // must not leave one waiting in boot mode.
  const firmware::ImageRead image = firmware::ReadImageInfo(m_ImagePath);
  if (image.problem != firmware::ImageProblem::kNone) {
    return Failure(ExitCode::kImageRefused,
                   Fmt(Tr("image refused: {0}: {1}; the controller was not touched"),
                       {m_ImagePath, DescribeImageProblem(image.problem) +
                                         (image.detail.empty() ? "" : " (" + image.detail + ")")}));
  }
  if (const auto refused = RefuseUnwritable(m_ImagePath, image.info)) {
    return Failure(ExitCode::kImageRefused,
                   Fmt(Tr("image refused: {0}; the controller was not touched"), {*refused}));
  }

  PlatformRequest request;
  request.simulatedNewVersion = image.info.header.version;
  request.simulatedNewBeta = image.info.header.beta;
  auto opened = session.OpenPlatform(request);
  if (auto* failure = std::get_if<CommandResult>(&opened)) {
    return *failure;
  }
  std::shared_ptr<hid::IHidPlatform> platform =
      std::get<std::shared_ptr<hid::IHidPlatform>>(opened);
  if (m_All) {
    return FlashAll(session, std::move(platform), m_ImagePath, image.info, m_Yes);
  }

  // Which controller: the only one, or the one --device names. The others are hidden
  // from the link for the whole road, so that the one that comes back in boot mode
  // under a new path is still ours.
  const auto choice = ChooseControllers(*platform, session.Options().device, HowMany::kOnlyOne);
  if (const auto* failure = std::get_if<CommandResult>(&choice)) {
    return *failure;
  }
  const std::string chosen = std::get<ControllerChoice>(choice).chosen.front().path;
  platform = std::get<ControllerChoice>(choice).Alone(std::move(platform), chosen);

  CTerminalUi ui(TerminalFor(session, m_Yes));
  return RunFlashRoad(session, platform, chosen, m_ImagePath, image.info, ui);
}

}  // namespace cli
