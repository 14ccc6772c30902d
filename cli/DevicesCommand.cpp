#include "cli/Commands.h"

#include <CLI/CLI.hpp>
#include <ostream>

#include "cli/DeviceChoice.h"
#include "cli/Messages.h"
#include "hid/Hid.h"
#include "update/Road.h"

namespace cli {
namespace {

struct DeviceReport {
  std::optional<std::uint16_t> type;
  std::optional<std::uint32_t> versionWord;  // application mode
  std::optional<base::Error> openError;
  bool answered = false;
};

// The controller alone (the others hidden) asked the one question the window asks it at
// start, by a road that goes no further.
DeviceReport Identify(std::shared_ptr<hid::IHidPlatform> alone, CSession& session) {
  update::IUserInterface none;
  update::RoadOptions options;
  options.languageId = session.LanguageId();
  options.debug = session.DebugSink();
  options.asksFirst = true;
  update::CRoad road(std::move(alone), none, options);
  road.StartUp();
  const update::RoadView view = road.View();
  DeviceReport report;
  if (view.device) {
    report.answered = true;
    report.type = view.device->type;
    report.versionWord = view.device->version;
  } else if (view.unsupported) {
    report.answered = true;
    report.type = view.unsupported->type;
    report.versionWord = view.unsupported->version;
  } else if (view.unusable == update::Unusable::kNotOpened) {
    report.openError =
        view.openError.value_or(base::Error{base::ErrorKind::kIo, Tr("it could not be opened")});
  } else if (view.unusable == update::Unusable::kNothingFound) {
    report.openError = base::Error{base::ErrorKind::kNotFound, Tr("it went away")};
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
    const DeviceReport report = Identify(controllers.Alone(platform, info.path), session);

    Json entry = {{"path", info.path},
                  {"mode", ModeName(info)},
                  {"type", report.type ? Json(firmware::FormatTypeCode(*report.type)) : Json()}};
    std::string line =
        info.path + "  " +
        (info.productId == hid::kAppProductId ? Tr("application mode") : Tr("boot mode"));
    if (report.type) {
      line += "  " + Fmt(Tr("type {0}"), {firmware::FormatTypeCode(*report.type)});
    }
    if (info.productId == hid::kAppProductId) {
      if (report.versionWord) {
        const auto version = static_cast<std::uint16_t>(*report.versionWord);
        const auto beta = static_cast<std::uint16_t>(*report.versionWord >> 16);
        entry["version"] = firmware::FormatVersion(version, 0);
        entry["beta"] = beta;
        line += "  " + Fmt(Tr("firmware {0}"), {firmware::FormatVersion(version, beta)});
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
