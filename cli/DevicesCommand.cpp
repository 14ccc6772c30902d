#include "cli/DevicesCommand.h"

#include <CLI/CLI.hpp>
#include <ostream>

#include "base/LittleEndian.h"
#include "cli/DeviceChoice.h"
#include "cli/DoctorCommand.h"
#include "cli/ImageCommands.h"
#include "cli/Messages.h"
#include "hid/Hid.h"
#include "protocol/DeviceCommands.h"

namespace cli {
namespace {

struct DeviceReport {
  hid::InterfaceInfo info;
  std::optional<std::uint16_t> type;
  std::optional<std::uint32_t> versionWord;  // application mode
  std::optional<base::Error> openError;
  bool answered = false;
};

// Opens one controller on its own (alone: the others hidden) and sends the one query
// the window's identification sends in its mode.
DeviceReport Identify(std::shared_ptr<hid::IHidPlatform> alone, const hid::InterfaceInfo& info,
                      const base::DebugSink& debug) {
  DeviceReport report{info, {}, {}, {}, false};
  hid::CHid link(std::move(alone), debug);
  if (link.FindDevice() == 0) {
    report.openError = base::Error{base::ErrorKind::kNotFound, Tr("it went away")};
    return report;
  }
  if (link.OpenDevice() == 0) {
    report.openError = link.LastOpenError();
    if (!report.openError) {
      report.openError = base::Error{base::ErrorKind::kIo, Tr("it could not be opened")};
    }
    return report;
  }
  protocol::CDeviceCommands commands(link);
  if (info.productId == hid::kAppProductId) {
    std::uint8_t reply[protocol::kAppInfoReplySize] = {};
    if (commands.QueryAppInfo(reply, protocol::kAppInfoReplySize) != 0) {
      report.answered = true;
      report.type = base::LoadU16(reply);
      report.versionWord = base::LoadU32(reply + 4) & 0x7FFFFFFFu;
    }
  } else {
    std::uint8_t reply[protocol::kBootTypeReplySize] = {};
    if (commands.QueryBootType(reply, protocol::kBootTypeReplySize) != 0) {
      report.answered = true;
      report.type = base::LoadU16(reply);
    }
  }
  return report;
}

const char* ModeName(const hid::InterfaceInfo& info) {
  return info.productId == hid::kAppProductId ? "application" : "boot";
}

// Under the empty list: why no controller is there, and what to do.
void TellWhyNone(CSession& session, hid::IHidPlatform& platform, CommandResult& result) {
  const auto findings = update::DiagnosePlatform(platform, session.DebugSink());
  if (!session.Options().json) {
    PrintFindings(session.Human(), findings, session.LanguageId());
  }
  (*result.document)["findings"] = FindingsJson(findings, session.LanguageId());
}

}  // namespace

CLI::App* CDevicesCommand::Register(CLI::App& parent) {
  return parent.add_subcommand("devices",
                               Tr("List the controllers present: path, mode, type and firmware"));
}

CommandResult CDevicesCommand::Run(CSession& session) {
  auto opened = session.OpenPlatform();
  if (auto* failure = std::get_if<CommandResult>(&opened)) {
    return *failure;
  }
  const auto platform = std::get<std::shared_ptr<hid::IHidPlatform>>(opened);

  auto choice = ChooseControllers(*platform, session.Options().device, HowMany::kEvery);
  // --device naming none of them fails as flash does, after the list of those present.
  std::optional<CommandResult> notPresent;
  if (auto* failure = std::get_if<CommandResult>(&choice);
      failure != nullptr && session.Options().device && failure->code == ExitCode::kNoDevice) {
    notPresent = *failure;
    choice = ChooseControllers(*platform, std::nullopt, HowMany::kEvery);
  }
  if (auto* failure = std::get_if<CommandResult>(&choice)) {
    failure->document = Json{{"devices", Json::array()}};
    if (!notPresent && failure->code == ExitCode::kNoDevice) {
      TellWhyNone(session, *platform, *failure);
    }
    return notPresent ? *notPresent : *failure;
  }
  const ControllerChoice& controllers = std::get<ControllerChoice>(choice);

  CommandResult result;
  Json list = Json::array();
  std::ostream& out = session.Human();
  for (const hid::InterfaceInfo& info : controllers.chosen) {
    // Every other controller is hidden, also those --device leaves out: the link takes
    // the first it finds.
    const DeviceReport report =
        Identify(controllers.Alone(platform, info.path), info, session.DebugSink());

    Json entry = {{"path", info.path},
                  {"mode", ModeName(info)},
                  {"type", report.type ? Json(FormatTypeCode(*report.type)) : Json()}};
    std::string line =
        info.path + "  " +
        (info.productId == hid::kAppProductId ? Tr("application mode") : Tr("boot mode"));
    if (report.type) {
      line += "  " + Fmt(Tr("type {0}"), {FormatTypeCode(*report.type)});
    }
    if (info.productId == hid::kAppProductId) {
      if (report.versionWord) {
        const auto version = static_cast<std::uint16_t>(*report.versionWord);
        const auto beta = static_cast<std::uint16_t>(*report.versionWord >> 16);
        entry["version"] = FormatVersion(version, 0);
        entry["beta"] = beta;
        line += "  " + Fmt(Tr("firmware {0}"), {FormatVersion(version, beta)});
      } else {
        entry["version"] = nullptr;
        entry["beta"] = nullptr;
      }
    }
    std::optional<std::string> problem;
    if (report.openError) {
      const CommandResult failure = OpenFailure(info.path, *report.openError);
      problem = failure.message;
      if (result.code == ExitCode::kSuccess) {
        result.code = failure.code;
        result.message = failure.message;
      }
    } else if (!report.answered) {
      problem = Tr("it did not answer: unplug and replug it");
    } else if (report.type != firmware::kTypeCodeKind5 && report.type != firmware::kTypeCodeKind6) {
      problem = Tr("this type is not supported");
    }
    entry["problem"] = problem ? Json(*problem) : Json();
    if (problem) {
      line += "  (" + *problem + ")";
    }
    list.push_back(std::move(entry));
    if (!session.Options().json) {
      out << line << '\n';
    }
  }

  result.document = Json{{"devices", std::move(list)}};
  if (notPresent) {
    result.code = notPresent->code;
    result.message = notPresent->message;
  }
  return result;
}

}  // namespace cli
