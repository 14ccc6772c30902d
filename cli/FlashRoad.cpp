// One controller's road from the terminal: the road in the core does everything the
// controller sees; this asks the version question before the switch, feeds the road in a
// blocking loop, and says how it ended, in words, an exit code and the JSON document.
#include <cstdio>
#include <filesystem>

#include "cli/Commands.h"
#include "cli/Messages.h"
#include "cli/RoadUi.h"
#include "firmware/FirmwareHeader.h"
#include "update/Road.h"
#include "update/RoadLoop.h"
#include "update/RoadWords.h"
#include "update/Words.h"

namespace cli {
namespace {

using update::RoadStage;
using update::RunFailure;
using update::RunOutcome;

std::string Seconds(std::chrono::milliseconds wait) {
  char text[16];
  std::snprintf(text, sizeof text, "%g s", static_cast<double>(wait.count()) / 1000.0);
  return text;
}

class CFlashRoad {
 public:
  CFlashRoad(CSession& session, std::shared_ptr<hid::IHidPlatform> platform, std::string path,
             std::string imagePath, const firmware::ImageInfo& image, IRoadUi& ui,
             const FlashFlags& flags)
      : m_Session(session),
        m_Path(std::move(path)),
        m_ImagePath(std::move(imagePath)),
        m_Image(image),
        m_Ui(ui),
        m_Flags(flags),
        m_Loop(*platform, Interrupt()),
        m_Road(platform, m_Ui, [&] {
          update::RoadOptions options;
          options.languageId = session.LanguageId();
          options.debug = session.DebugSink();
          options.asksFirst = true;
          options.waits = session.Context().waits;
          options.onRunFinished = m_Loop.RunFinished();
          options.onRunProgress = [&ui](const RunOutcome& now) { ui.OnRunProgress(now); };
          return options;
        }()) {}

  CommandResult Execute();

 private:
  base::Waitable Interrupt() const {
    base::CWakeFd* interrupt = m_Session.Context().interrupt;
    return interrupt != nullptr ? interrupt->Fd() : base::kNoWaitable;
  }
  bool Interrupted() const {
    return m_Session.Context().interrupt != nullptr && m_Session.Context().interrupt->IsSignalled();
  }
  std::string Describe(const RunOutcome& outcome) const {
    return update::Describe(outcome, m_Session.LanguageId());
  }
  // The way back for a controller this road leaves waiting in boot mode: run again. A
  // simulated controller ends with this program, and the next run starts it afresh.
  std::string StaysInBootMode(std::string advice) const {
    return m_Session.Options().simulate
               ? Tr("the simulated controller ends with this program; the next run starts it "
                    "afresh")
               : advice;
  }
  CommandResult Unusable(const update::RoadView& view) const;
  std::optional<CommandResult> Ask(const update::DeviceIdentity& device);
  CommandResult Follow();
  CommandResult FromEnd(const update::RoadEnd& end);
  CommandResult FromRun(const RunOutcome& outcome);
  CommandResult Finish(CommandResult result);

  CSession& m_Session;
  const std::string m_Path;
  const std::string m_ImagePath;
  const firmware::ImageInfo m_Image;
  IRoadUi& m_Ui;
  const FlashFlags m_Flags;
  update::CRoadLoop m_Loop;
  update::CRoad m_Road;  // after the loop, whose wake its run signals
  std::optional<update::DeviceIdentity> m_Device;
  std::optional<std::uint32_t> m_NewVersion;
};

CommandResult CFlashRoad::Execute() {
  m_Road.StartUp();
  const update::RoadView view = m_Road.View();
  if (view.stage != RoadStage::kReady || !view.device) {
    return Finish(Unusable(view));
  }
  m_Device = view.device;
  m_Ui.OnControllerFound(m_Device->type, m_Device->version);
  if (m_Device->InBootMode()) {
    m_Ui.Line(Fmt(Tr("Found {0} waiting in boot mode (type {1}): flashing it directly; its "
                     "current firmware is not known."),
                  {m_Path, firmware::FormatTypeCode(m_Device->type)}));
  } else {
    m_Ui.Line(Fmt(Tr("Found {0}: type {1}, firmware {2} (application mode)."),
                  {m_Path, firmware::FormatTypeCode(m_Device->type),
                   update::VersionText(m_Device->version.value_or(0))}));
  }
  // Asked here, before the controller is switched: an image it cannot take, or a "no",
  // must not leave it waiting in boot mode. The road then writes what was confirmed.
  if (auto refused = Ask(*m_Device)) {
    return Finish(*refused);
  }
  if (!m_Device->InBootMode()) {
    m_Ui.Line(Tr("Switching to boot mode..."));
  }
  m_Road.OnUpdateClicked();
  return Finish(Follow());
}

CommandResult CFlashRoad::Unusable(const update::RoadView& view) const {
  const std::string& path = view.foundPath.empty() ? m_Path : view.foundPath;
  switch (view.unusable) {
    case update::Unusable::kNotOpened:
      if (view.openError) {
        return OpenFailure(path, *view.openError);
      }
      break;
    case update::Unusable::kUnknownType:
      return Failure(
          ExitCode::kNoDevice,
          Fmt(Tr("the controller at {0} reports a type this tool has no images for"), {path}));
    case update::Unusable::kNotAnswering:
      return Failure(ExitCode::kDeviceNotAnswering,
                     Fmt(Tr("the controller at {0} did not answer when asked what it is: unplug "
                            "and replug it, then run the same command again"),
                         {path}));
    case update::Unusable::kNone:
    case update::Unusable::kNothingFound:
      break;
  }
  return Failure(ExitCode::kNoDevice, Tr("the controller went away: plug it in and run again"));
}

std::optional<CommandResult> CFlashRoad::Ask(const update::DeviceIdentity& device) {
  const update::ImageCheck check = m_Road.CheckImage(m_ImagePath);
  if (check.IsTypeProblem()) {
    (void)m_Ui.ShowMessageBox("The firmware type is error!\n", m_Road.Text(text::kWindowTitle),
                              update::MessageButtons::kOk);
    return Failure(
        ExitCode::kImageRefused,
        Fmt(Tr("image refused: {0} is built for type {1}, the controller is type {2}: use an "
               "image for {2}; the controller was not touched"),
            {m_ImagePath, firmware::FormatTypeCode(m_Image.header.firmwareType),
             firmware::FormatTypeCode(device.type)}));
  }
  if (!check.Acceptable()) {
    RunOutcome why;
    why.failure = RunFailure::kImageRefused;
    why.imageProblem = check.problem;
    return Failure(ExitCode::kImageRefused,
                   Fmt(Tr("image refused: {0}; the controller was not touched"), {Describe(why)}));
  }
  // The user sees both versions and decides; --yes decides for a script only what it
  // says: an older image, or the same version again, needs a flag of its own.
  const std::string version =
      firmware::FormatVersion(check.info.header.version, check.info.header.beta);
  const std::string current = update::VersionText(device.version.value_or(0));
  std::string question = Trim(check.prompt);
  if (check.order == update::VersionOrder::kOlder) {
    if (m_Flags.yes && !m_Flags.allowOlder) {
      return Failure(ExitCode::kDeclined,
                     Fmt(Tr("declined: {0} holds firmware {1}, older than the controller's {2}: "
                            "--allow-older writes it all the same; the controller was not touched"),
                         {m_ImagePath, version, current}));
    }
    question.append(" ").append(Tr("(older than the controller's firmware)"));
  } else if (check.order == update::VersionOrder::kSame) {
    if (m_Flags.yes && !m_Flags.allowReinstall) {
      return Failure(ExitCode::kDeclined,
                     Fmt(Tr("declined: {0} holds firmware {1}, the version the controller has "
                            "already: --allow-reinstall writes it again; the controller was not "
                            "touched"),
                         {m_ImagePath, version}));
    }
    question.append(" ").append(Tr("(the same version)"));
  }
  if (m_Ui.ShowMessageBox(question, m_Road.Text(text::kWindowTitle),
                          update::MessageButtons::kOkCancel) != update::MessageResult::kOk) {
    if (Interrupted()) {
      return Failure(ExitCode::kInterrupted, Tr("interrupted: the controller was not touched"));
    }
    return Failure(ExitCode::kDeclined, Tr("declined: the controller was not touched (--yes "
                                           "answers the question for scripts)"));
  }
  if (!m_Road.Confirm(check)) {
    return Failure(ExitCode::kNoDevice, Tr("the controller went away: plug it in and run again"));
  }
  return std::nullopt;
}

CommandResult CFlashRoad::Follow() {
  bool toldWaiting = false;
  for (;;) {
    const auto wake = m_Loop.RunUntil(m_Road, [&] {
      // A road under way is switching, running or awaiting its controller's return, each
      // with its bound; one back at ready or without its controller is over.
      const RoadStage stage = m_Road.Stage();
      return m_Road.RoadsEnded() > 0 || stage == RoadStage::kReady ||
             stage == RoadStage::kNoDevice ||
             (!toldWaiting && stage == RoadStage::kAwaitingReturn);
    });
    if (wake == update::CRoadLoop::Wake::kFailed) {
      return Failure(ExitCode::kFailure, Tr("the flashing run did not end"));
    }
    if (wake == update::CRoadLoop::Wake::kInterrupted) {
      const bool ctrlC = m_Session.Interruption() == base::InterruptCause::kCtrlC;
      switch (m_Road.Stage()) {
        case RoadStage::kRunning:
          // The run stops at its next block boundary and ends the road.
          m_Road.RequestStop();
          m_Ui.Line(ctrlC ? Tr("Stopping at the next block boundary (Ctrl-C again quits at "
                               "once)...")
                          : Tr("Asked to end: stopping at the next block boundary..."));
          continue;
        case RoadStage::kAwaitingReturn:
          m_Ui.Finish();
          m_Ui.Result(ctrlC ? Tr("Not waiting for the controller to restart (Ctrl-C); the "
                                 "update itself was verified.")
                            : Tr("Not waiting for the controller to restart (asked to end); the "
                                 "update itself was verified."));
          return CommandResult{};
        default:
          return Failure(ExitCode::kInterrupted,
                         Fmt(Tr("interrupted while waiting for the controller to come back in "
                                "boot mode: {0}"),
                             {StaysInBootMode(Tr("it may now wait there; run the same command "
                                                 "again to update it"))}));
      }
    }
    if (m_Road.RoadsEnded() > 0) {
      break;
    }
    if (m_Road.Stage() != RoadStage::kAwaitingReturn) {
      return Failure(ExitCode::kFailure, Tr("the flashing run did not end"));
    }
    toldWaiting = true;
    m_Ui.Finish();
    m_Ui.Line(Tr("Waiting for the controller to restart in application mode..."));
  }
  m_Ui.Finish();
  return FromEnd(*m_Road.LastEnd());
}

CommandResult CFlashRoad::FromEnd(const update::RoadEnd& end) {
  const RunOutcome& outcome = end.outcome;
  if (outcome.Completed()) {
    m_NewVersion = end.newVersion;
    if (end.newVersion) {
      m_Ui.Result(Fmt(Tr("The controller is back in application mode with firmware {0}."),
                      {update::VersionText(*end.newVersion)}));
    } else {
      m_Ui.Result(Fmt(Tr("The controller did not come back in application mode within {0}; the "
                         "update itself was verified. Unplug and replug it if it does not "
                         "restart by itself."),
                      {Seconds(m_Session.Context().waits.application)}));
    }
    return CommandResult{};
  }
  switch (outcome.failure) {
    case RunFailure::kBootModeTimeout:
      return Failure(
          ExitCode::kBootModeTimeout,
          Fmt(Tr("the controller did not come back in boot mode within {0}: {1}"),
              {Seconds(m_Session.Context().waits.bootMode),
               StaysInBootMode(Tr("unplug and replug it, then run the same command again (a "
                                  "controller waiting in boot mode is flashed directly)"))}));
    case RunFailure::kNotIdentified:
      if (outcome.error && outcome.error->kind == base::ErrorKind::kPermissionDenied) {
        return OpenFailure(end.device.path, *outcome.error);
      }
      return Failure(
          ExitCode::kDeviceNotAnswering,
          Fmt(Tr("the controller came back in boot mode but did not answer: {0}"),
              {StaysInBootMode(Tr("unplug and replug it, then run the same command again"))}));
    case RunFailure::kTypeChanged:
      return Failure(ExitCode::kImageRefused,
                     Fmt(Tr("image refused: {0}; nothing was written"), {Describe(outcome)}));
    default:
      return FromRun(outcome);
  }
}

CommandResult CFlashRoad::FromRun(const RunOutcome& outcome) {
  const std::string stays = Tr("the controller stays in boot mode: run the same command again");
  switch (outcome.failure) {
    case RunFailure::kImageRefused:
    case RunFailure::kRegionOutOfRange:
    case RunFailure::kImageUnreadable:
      return Failure(ExitCode::kImageRefused,
                     Fmt(Tr("image refused: {0}; {1}"),
                         {Describe(outcome),
                          StaysInBootMode(Tr("the controller stays in boot mode: run the same "
                                             "command again with a usable image"))}));
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
                         {Describe(outcome),
                          StaysInBootMode(Tr("it stays in boot mode: unplug and replug it, then "
                                             "run the same command again"))}));
    case RunFailure::kCrcMismatch:
      return Failure(
          ExitCode::kVerifyFailed,
          Fmt(Tr("verification failed: the CRC-16 of the first {0} bytes written differs (image "
                 "{1}, controller {2}); {3}"),
              {std::to_string(std::min(update::kVerifiedLength, outcome.regionLength)),
               firmware::FormatTypeCode(outcome.imageCrc),
               firmware::FormatTypeCode(outcome.deviceCrc),
               StaysInBootMode(Tr("the controller stays in boot mode and a new run writes it "
                                  "anew: run the same command again"))}));
    case RunFailure::kStopped: {
      const std::string where =
          outcome.step == update::RunStep::kStreaming
              ? Fmt(Tr("after block {0} of {1}"),
                    {std::to_string(outcome.block), std::to_string(outcome.blockCount)})
              : Fmt(Tr("while {0}"), {update::WordsOf(outcome.step).In(m_Session.LanguageId())});
      return Failure(ExitCode::kInterrupted,
                     Fmt(Tr("interrupted {0}; {1}"),
                         {where, StaysInBootMode(Tr("the controller stays in boot mode: run the "
                                                    "same command again to finish the update"))}));
    }
    default:
      return Failure(ExitCode::kFailure, Describe(outcome) + "; " + StaysInBootMode(stays));
  }
}

CommandResult CFlashRoad::Finish(CommandResult result) {
  m_Ui.Finish();
  const auto version = [](const std::optional<std::uint32_t>& word) {
    return word ? Json(update::VersionText(*word)) : Json();
  };
  Json run;
  const std::optional<RunOutcome>& outcome = m_Road.LastRun();
  if (outcome) {
    run = {{"step", update::WordsOf(outcome->step).english},
           {"failure",
            outcome->Completed() ? Json() : Json(update::WordsOf(outcome->failure).english)},
           {"regionStart", outcome->regionStart},
           {"regionLength", outcome->regionLength},
           {"blockCount", outcome->blockCount},
           {"blocksConfirmed", outcome->block}};
    if (outcome->Completed() || outcome->failure == RunFailure::kCrcMismatch) {
      run["imageCrc"] = firmware::FormatTypeCode(outcome->imageCrc);
      run["deviceCrc"] = firmware::FormatTypeCode(outcome->deviceCrc);
    }
    run["completeConfirmed"] = outcome->completeConfirmed;
  }
  const bool completed = outcome && outcome->Completed();
  Json document = ResultJson(result);
  document["device"] = {
      {"path", m_Path},
      {"type", m_Device ? Json(firmware::FormatTypeCode(m_Device->type)) : Json()},
      {"startMode", m_Device && m_Device->InBootMode() ? "boot" : "application"},
      {"previousVersion", m_Device ? version(m_Device->version) : Json()}};
  document["image"] = ImageJson(m_ImagePath, m_Image);
  document["run"] = std::move(run);
  document["newVersion"] = version(m_NewVersion);
  document["returnedToApplication"] = completed ? Json(m_NewVersion.has_value()) : Json();
  result.document = std::move(document);
  return result;
}

}  // namespace

Json ImageJson(const std::string& imagePath, const firmware::ImageInfo& image) {
  return Json{{"path", imagePath},
              {"type", firmware::FormatTypeCode(image.header.firmwareType)},
              {"version", firmware::FormatVersion(image.header.version, 0)},
              {"beta", image.header.beta}};
}

CommandResult RunFlashRoad(CSession& session, std::shared_ptr<hid::IHidPlatform> platform,
                           const std::string& path, const std::string& imagePath,
                           const firmware::ImageInfo& image, IRoadUi& ui, const FlashFlags& flags) {
  CFlashRoad road(session, std::move(platform), path, imagePath, image, ui, flags);
  return road.Execute();
}

}  // namespace cli
