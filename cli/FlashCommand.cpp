#include "cli/Commands.h"

#include <CLI/CLI.hpp>

#include "cli/DeviceChoice.h"
#include "cli/FlashAll.h"
#include "cli/Messages.h"
#include "cli/RoadUi.h"
#include "cli/TerminalUi.h"
#include "update/ImageCheck.h"
#include "update/Words.h"

namespace cli {

CLI::App* CFlashCommand::Register(CLI::App& parent) {
  CLI::App* app = parent.add_subcommand(
      "flash", Tr("Write IMAGE into the controller: boot mode, erase, write, verify"));
  app->add_option("IMAGE", m_ImagePath, Tr("The .dat firmware image"))->required();
  app->add_flag("-y,--yes", m_Flags.yes, Tr("Answer yes to the version question"));
  app->add_flag("--allow-older", m_Flags.allowOlder,
                Tr("With --yes: also write an image older than the controller's firmware"));
  app->add_flag("--allow-reinstall", m_Flags.allowReinstall,
                Tr("With --yes: also write the version the controller has already"));
  app->add_flag("--all", m_All, Tr("Update every controller present, all at once"));
  return app;
}

CommandResult CFlashCommand::Run(CSession& session) {
  // The image is read before any controller is touched: a file that cannot be used must
  // not leave one waiting in boot mode. Its type is checked once a controller is known.
  const update::ImageCheck image =
      update::CheckImageFile(m_ImagePath, std::nullopt, std::nullopt,
                             [&session](text::TextId id) { return session.Text(id); });
  if (const auto refused = RefuseUnwritable(m_ImagePath, image.info);
      refused && (image.problem == firmware::ImageProblem::kPayloadPastEnd ||
                  image.problem == firmware::ImageProblem::kNoPayload)) {
    return Failure(ExitCode::kImageRefused,
                   Fmt(Tr("image refused: {0}; the controller was not touched"), {*refused}));
  }
  if (!image.Acceptable()) {
    const std::string words = update::WordsOf(image.problem).In(session.LanguageId());
    return Failure(
        ExitCode::kImageRefused,
        Fmt(Tr("image refused: {0}: {1}; the controller was not touched"),
            {m_ImagePath, words + (image.detail.empty() ? "" : " (" + image.detail + ")")}));
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
    return FlashAll(session, std::move(platform), m_ImagePath, image.info, m_Flags);
  }

  // Which controller: the only one, or the one --device names. The others are hidden
  // from the road, which is pinned to the chosen one in any case.
  const auto choice = ChooseControllers(*platform, session.Options().device, HowMany::kOnlyOne);
  if (const auto* failure = std::get_if<CommandResult>(&choice)) {
    return *failure;
  }
  const std::string chosen = std::get<ControllerChoice>(choice).chosen.front().path;
  platform = std::get<ControllerChoice>(choice).Alone(std::move(platform), chosen);

  CTerminalUi ui(TerminalFor(session, m_Flags.yes));
  return RunFlashRoad(session, platform, chosen, m_ImagePath, image.info, ui, m_Flags);
}

}  // namespace cli
