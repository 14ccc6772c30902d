#include "cli/FlashCommand.h"

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "cli/DeviceChoice.h"
#include "cli/FlashAll.h"
#include "cli/ImageCommands.h"
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

constexpr const char* kRunAgain = "run the same command again";

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
    const auto absolute = std::filesystem::absolute(m_ImagePath, ec);
    m_Ui.SetImagePath(ec ? m_ImagePath : absolute.string());
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
  m_Ui.Line("Found " + m_Path + " waiting in boot mode (type " + Hex16(*m_DeviceType) +
            "): flashing it directly; its current firmware is not known.");
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

CommandResult CFlashRun::UnusableDevice() {
  const hid::MatchedDeviceIds ids = m_Controller.GetMatchedDeviceIds();
  if (ids.VendorId != hid::kVendorId) {
    return Failure(ExitCode::kNoDevice, "the controller went away: plug it in and run again");
  }
  if (auto error = m_Link.LastOpenError()) {
    return OpenFailure(m_Path, *error);
  }
  if (ids.ProductId == hid::kAppProductId &&
      m_Controller.GetCurrentFirmwareInfo() != firmware::kFirmwareInfoUnread) {
    return Failure(ExitCode::kNoDevice,
                   "the controller at " + m_Path + " reports a type this tool has no images for");
  }
  return Failure(ExitCode::kDeviceNotAnswering,
                 "the controller at " + m_Path +
                     " did not answer when asked what it is: unplug and replug it, then " +
                     kRunAgain);
}

CommandResult CFlashRun::SwitchToBootMode() {
  const std::uint32_t info = m_Controller.GetCurrentFirmwareInfo();
  m_PreviousVersion = info;
  m_DeviceType = firmware::ExpectedFirmwareType(m_Controller.GetDeviceKind());
  m_Ui.OnControllerFound(*m_DeviceType, info);
  m_Ui.Line(
      "Found " + m_Path + ": type " + Hex16(*m_DeviceType) + ", firmware " +
      FormatVersion(static_cast<std::uint16_t>(info), static_cast<std::uint16_t>(info >> 16)) +
      " (application mode).");

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
            Failure(ExitCode::kInterrupted, "interrupted: the controller was not touched"));
      }
      return Finish(Failure(ExitCode::kDeclined,
                            "declined: the controller was not touched (--yes answers the question "
                            "for scripts)"));
    }
    if (why.imageProblem == firmware::ImageProblem::kTypeMismatch ||
        why.imageProblem == firmware::ImageProblem::kTypeOutOfRange) {
      return Finish(
          Failure(ExitCode::kImageRefused, "image refused: " + m_ImagePath + " is built for type " +
                                               FormatTypeCode(m_Image.header.firmwareType) +
                                               ", the controller is type " + Hex16(*m_DeviceType) +
                                               ": use an image for " + Hex16(*m_DeviceType) +
                                               "; the controller was not touched"));
    }
    return Finish(Failure(ExitCode::kImageRefused, "image refused: " + update::Describe(why) +
                                                       "; the controller was not touched"));
  }
  m_Controller.SetCheckedImage(std::move(checked));

  m_Ui.Line("Switching to boot mode...");
  m_Controller.OnUpdateClicked();
  const auto deadline = Clock::now() + m_Session.Context().waits.bootMode;
  while (m_Controller.RunsStarted() == 0) {
    switch (WaitForEvent(deadline)) {
      case Wake::kTimeout:
        return Finish(Failure(ExitCode::kBootModeTimeout,
                              "the controller did not come back in boot mode within " +
                                  Seconds(m_Session.Context().waits.bootMode) +
                                  ": unplug and replug it, then " + kRunAgain +
                                  " (a controller waiting in boot mode is flashed directly)"));
      case Wake::kInterrupt:
        m_Interrupted = true;
        return Finish(Failure(ExitCode::kInterrupted,
                              "interrupted while waiting for the controller to come back in boot "
                              "mode: it may now wait there; " +
                                  std::string(kRunAgain) + " to update it"));
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
          return Finish(Failure(ExitCode::kDeviceNotAnswering,
                                "the controller came back in boot mode but did not answer: unplug "
                                "and replug it, then " +
                                    std::string(kRunAgain)));
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
      m_Ui.Line("Stopping at the next block boundary (Ctrl-C again quits at once)...");
    } else if (wake == Wake::kRunEnded) {
      break;
    }
  }
  // The run has told us how it ended; it counts as over a moment later.
  m_RunEnded.Clear();
  m_Outcome = m_Controller.WaitForRunEnd(std::chrono::seconds(10));
  m_Ui.Finish();
  if (!m_Outcome) {
    return Finish(Failure(ExitCode::kFailure, "the flashing run did not end"));
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
    m_Ui.Line("Waiting for the controller to restart in application mode...");
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
    m_Ui.Line(
        "Not waiting for the controller to restart (Ctrl-C); the update itself was "
        "verified.");
  } else if (returned()) {
    m_NewVersion = m_Controller.VersionAfterUpdate();
    m_Ui.Line("The controller is back in application mode with firmware " +
              FormatVersion(static_cast<std::uint16_t>(*m_NewVersion),
                            static_cast<std::uint16_t>(*m_NewVersion >> 16)) +
              ".");
  } else {
    m_Ui.Line("The controller did not come back in application mode within " + Seconds(wait) +
              "; the update itself was verified. Unplug and replug it if it does not restart "
              "by itself.");
  }
}

CommandResult CFlashRun::FromOutcome(const RunOutcome& outcome) {
  const std::string stays = "; the controller stays in boot mode: " + std::string(kRunAgain);
  switch (outcome.failure) {
    case RunFailure::kNone:
      return CommandResult{};
    case RunFailure::kImageRefused:
      if (outcome.imageProblem == firmware::ImageProblem::kTypeMismatch ||
          outcome.imageProblem == firmware::ImageProblem::kTypeOutOfRange) {
        return Failure(ExitCode::kImageRefused,
                       "image refused: " + m_ImagePath + " is built for type " +
                           FormatTypeCode(m_Image.header.firmwareType) +
                           ", the controller is type " + Hex16(m_DeviceType.value_or(0)) + stays +
                           " with an image for " + Hex16(m_DeviceType.value_or(0)));
      }
      return Failure(ExitCode::kImageRefused,
                     "image refused: " + update::Describe(outcome) + stays + " with a whole image");
    case RunFailure::kEmptyPayload:
    case RunFailure::kRegionOutOfRange:
    case RunFailure::kImageUnreadable:
      return Failure(ExitCode::kImageRefused, "image refused: " + update::Describe(outcome) +
                                                  stays + " with a usable image");
    case RunFailure::kDeclined:
      if (m_Interrupted) {
        return Failure(ExitCode::kInterrupted,
                       "interrupted before anything was written" + stays + " to update it");
      }
      return Failure(ExitCode::kDeclined,
                     "declined: nothing was written" + stays + " to update it");
    case RunFailure::kNoImageChosen:
      return Failure(ExitCode::kFailure, "no image was handed to the run");
    case RunFailure::kDeviceNotOpen:
      if (outcome.error && outcome.error->kind == base::ErrorKind::kPermissionDenied) {
        return OpenFailure(m_Path, *outcome.error);
      }
      return Failure(ExitCode::kDeviceNotAnswering,
                     "the controller could not be opened for writing (" +
                         (outcome.error ? outcome.error->message : std::string("no reason given")) +
                         "): unplug and replug it, then " + kRunAgain);
    case RunFailure::kDeviceCommand:
      return Failure(ExitCode::kDeviceNotAnswering,
                     "the controller stopped answering: " + update::Describe(outcome) +
                         "; it stays in boot mode: unplug and replug it, then " + kRunAgain);
    case RunFailure::kCrcMismatch: {
      char values[96];
      std::snprintf(values, sizeof values, "image 0x%04X, controller 0x%04X", outcome.imageCrc,
                    outcome.deviceCrc);
      return Failure(
          ExitCode::kVerifyFailed,
          "verification failed: the CRC-16 of the first " +
              std::to_string(std::min(update::kVerifiedLength, outcome.regionLength)) +
              " bytes written differs (" + values +
              "); the controller stays in boot mode and a new run writes it anew: " + kRunAgain);
    }
    case RunFailure::kStopped: {
      std::string where = "while " + std::string(update::ToString(outcome.step));
      if (outcome.step == RunStep::kStreaming) {
        where = "after block " + std::to_string(outcome.block) + " of " +
                std::to_string(outcome.blockCount);
      }
      return Failure(ExitCode::kInterrupted,
                     "interrupted " + where + "; the controller stays in boot mode: " + kRunAgain +
                         " to finish the update");
    }
  }
  return Failure(ExitCode::kFailure, update::Describe(outcome));
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
      "flash", "Write IMAGE into the controller: boot mode, erase, write, verify");
  app->add_option("IMAGE", m_ImagePath, "The .dat firmware image")->required();
  app->add_flag("-y,--yes", m_Yes, "Answer yes to the version question");
  app->add_flag("--all", m_All, "Update every controller present, all at once");
  return app;
}

CommandResult CFlashCommand::Run(CSession& session) {
  // The image is read before any controller is touched: a file that cannot be used
  // must not leave one waiting in boot mode.
  const firmware::ImageRead image = firmware::ReadImageInfo(m_ImagePath);
  if (image.problem != firmware::ImageProblem::kNone) {
    return Failure(ExitCode::kImageRefused,
                   "image refused: " + m_ImagePath + ": " + firmware::Describe(image.problem) +
                       (image.detail.empty() ? "" : " (" + image.detail + ")") +
                       "; the controller was not touched");
  }
  if (!image.info.HoldsPayload()) {
    return Failure(ExitCode::kImageRefused,
                   "image refused: " + m_ImagePath + " ends at byte " +
                       std::to_string(image.info.fileSize) + ", before the " +
                       std::to_string(image.info.header.payloadLength) +
                       "-byte payload its header announces; the controller was not touched");
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

  CTerminalUi ui(TerminalOptions{
      &session.Human(), session.HumanIsTerminal(), session.Context().inputFd, m_Yes,
      session.Context().interrupt != nullptr ? session.Context().interrupt->Fd() : kNoWaitable,
      &session.OutputMutex()});
  return RunFlashRoad(session, platform, chosen, m_ImagePath, image.info, ui);
}

}  // namespace cli
