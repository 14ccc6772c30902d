#include "cli/DevicesCommand.h"

#include <CLI/CLI.hpp>
#include <ostream>
#include <set>

#include "base/LittleEndian.h"
#include "cli/DeviceFilter.h"
#include "cli/ImageCommands.h"
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

// Opens one controller on its own (the others hidden) and sends the one query the
// window's identification sends in its mode.
DeviceReport Identify(const std::shared_ptr<hid::IHidPlatform>& platform,
                      const hid::InterfaceInfo& info, const std::set<std::string>& others,
                      const base::DebugSink& debug) {
  DeviceReport report{info, {}, {}, {}, false};
  auto alone = std::make_shared<CDeviceFilterPlatform>(platform, others);
  hid::CHid link(alone, debug);
  if (link.FindDevice() == 0) {
    report.openError = base::Error{base::ErrorKind::kNotFound, "it went away"};
    return report;
  }
  if (link.OpenDevice() == 0) {
    report.openError = link.LastOpenError();
    if (!report.openError) {
      report.openError = base::Error{base::ErrorKind::kIo, "it could not be opened"};
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

}  // namespace

CLI::App* CDevicesCommand::Register(CLI::App& parent) {
  return parent.add_subcommand("devices",
                               "List the controllers present: path, mode, type and firmware");
}

CommandResult CDevicesCommand::Run(CSession& session) {
  auto opened = session.OpenPlatform();
  if (auto* failure = std::get_if<CommandResult>(&opened)) {
    return *failure;
  }
  const auto platform = std::get<std::shared_ptr<hid::IHidPlatform>>(opened);

  const std::vector<hid::InterfaceInfo> present = ListControllers(*platform);
  std::vector<hid::InterfaceInfo> controllers = present;
  if (const auto& wanted = session.Options().device) {
    std::erase_if(controllers,
                  [&](const hid::InterfaceInfo& info) { return info.path != *wanted; });
  }

  CommandResult result;
  CJson list = CJson::MakeArray();
  std::ostream& out = session.Human();
  for (const hid::InterfaceInfo& info : controllers) {
    // Every other controller is hidden, also those --device leaves out: the link takes
    // the first it finds.
    std::set<std::string> others;
    for (const hid::InterfaceInfo& other : present) {
      if (other.path != info.path) {
        others.insert(other.path);
      }
    }
    const DeviceReport report = Identify(platform, info, others, session.DebugSink());

    CJson entry = CJson::MakeObject();
    entry.Set("path", info.path).Set("mode", ModeName(info));
    entry.Set("type", report.type ? CJson(FormatTypeCode(*report.type)) : CJson());
    std::string line = info.path + "  " + ModeName(info) + " mode";
    if (report.type) {
      line += "  type " + FormatTypeCode(*report.type);
    }
    if (info.productId == hid::kAppProductId) {
      if (report.versionWord) {
        const auto version = static_cast<std::uint16_t>(*report.versionWord);
        const auto beta = static_cast<std::uint16_t>(*report.versionWord >> 16);
        entry.Set("version", FormatVersion(version, 0)).Set("beta", static_cast<int>(beta));
        line += "  firmware " + FormatVersion(version, beta);
      } else {
        entry.Set("version", CJson()).Set("beta", CJson());
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
      problem = "it did not answer: unplug and replug it";
    } else if (report.type != firmware::kTypeCodeKind5 && report.type != firmware::kTypeCodeKind6) {
      problem = "this type is not supported";
    }
    entry.Set("problem", problem ? CJson(*problem) : CJson());
    if (problem) {
      line += "  (" + *problem + ")";
    }
    list.Push(std::move(entry));
    if (!session.Options().json) {
      out << line << '\n';
    }
  }

  result.document = CJson::MakeObject().Set("devices", std::move(list));
  if (controllers.empty()) {
    result.code = ExitCode::kNoDevice;
    result.message = session.Options().device
                         ? "no controller at " + *session.Options().device +
                               ": run `update-cli devices` to see the paths present"
                         : "no controller found: plug it in and run again (one waiting in boot "
                           "mode is found too)";
  }
  return result;
}

}  // namespace cli
