// `doctor`: why a controller can or cannot be used. The platform surveys what it sees of
// the controller's maker and the core judges it (update/Diagnosis.h): one line per check,
// passed or the finding with what to do. Nothing is sent to any device. Exit code 0 when
// a controller is ready to use, 3 when none is.
#pragma once

#include <iosfwd>
#include <vector>

#include "cli/Command.h"
#include "update/Diagnosis.h"

namespace cli {

class CDoctorCommand final : public ICommand {
 public:
  CLI::App* Register(CLI::App& parent) override;
  CommandResult Run(CSession& session) override;
};

// The findings as doctor prints them, for people and for --json; devices shows them too
// when it finds no controller.
void PrintFindings(std::ostream& out, const std::vector<update::Finding>& findings,
                   std::uint16_t languageId);
Json FindingsJson(const std::vector<update::Finding>& findings, std::uint16_t languageId);

}  // namespace cli
