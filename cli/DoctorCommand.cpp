#include "cli/Commands.h"

#include <CLI/CLI.hpp>
#include <ostream>

#include "cli/Messages.h"

namespace cli {

void PrintFindings(std::ostream& out, const std::vector<update::Finding>& findings,
                   std::uint16_t languageId) {
  for (const update::Finding& finding : findings) {
    const update::FindingWords words = update::WordsOf(finding, languageId);
    out << (finding.Passed()   ? Tr("passed: ")
            : finding.IsNote() ? Tr("note: ")
                               : Tr("problem: "))
        << words.text << '\n';
    if (!finding.Passed() && !finding.IsNote()) {
      out << "  " << Tr("what to do: ") << words.advice << '\n';
    }
  }
}

Json FindingsJson(const std::vector<update::Finding>& findings, std::uint16_t languageId) {
  Json list = Json::array();
  for (const update::Finding& finding : findings) {
    const update::FindingWords words = update::WordsOf(finding, languageId);
    list.push_back({{"kind", update::KindName(finding.kind)},
                    {"passed", finding.Passed()},
                    {"subject", finding.subject.empty() ? Json() : Json(finding.subject)},
                    {"text", words.text},
                    {"advice", finding.Passed() ? Json() : Json(words.advice)}});
  }
  return list;
}

CLI::App* CDoctorCommand::Register(CLI::App& parent) {
  return parent.add_subcommand(
      "doctor", Tr("Tell whether a controller can be used, and if not why and what to do"));
}

CommandResult CDoctorCommand::Run(CSession& session) {
  auto opened = session.OpenPlatform();
  if (auto* failure = std::get_if<CommandResult>(&opened)) {
    return *failure;
  }
  auto& platform = *std::get<std::shared_ptr<hid::IHidPlatform>>(opened);
  const std::vector<update::Finding> findings =
      update::DiagnosePlatform(platform, session.DebugSink());
  const bool usable = update::HasUsableController(findings);
  if (!session.Options().json) {
    PrintFindings(session.Human(), findings, session.LanguageId());
  }
  CommandResult result;
  if (!usable) {
    result = Failure(ExitCode::kNoDevice, Tr("no controller can be used: see the problems above"));
  }
  result.document =
      Json{{"usable", usable}, {"findings", FindingsJson(findings, session.LanguageId())}};
  return result;
}

}  // namespace cli
