// The commands of update-cli, each one object (ICommand, cli/Command.h): its name, help and
// options, registered with the parser by CliMain, and what it does.
//
//   devices   every controller present, with its mode and what it says about itself (type
//             and firmware in application mode, type in boot mode), each asked exactly as
//             the window's start-up identification asks it; the findings when there is none
//   doctor    why a controller can or cannot be used (update/Diagnosis.h): one line per
//             check, passed or the finding with what to do; nothing is sent to any device;
//             exit code 0 when a controller is ready to use, 3 when none is
//   flash     the road a user takes through the window, driven from the terminal: the road
//             in the core does everything the device sees; this reads the image, picks the
//             controller, asks the question, shows the progress and says how it ended
//   image inspect / image pack
//             reading and making .dat firmware images without a controller
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "cli/Command.h"
#include "cli/RoadUi.h"
#include "firmware/ImageFile.h"
#include "firmware/ImageText.h"
#include "update/Diagnosis.h"

namespace cli {

class CDevicesCommand final : public ICommand {
 public:
  CLI::App* Register(CLI::App& parent) override;
  CommandResult Run(CSession& session) override;
};

class CDoctorCommand final : public ICommand {
 public:
  CLI::App* Register(CLI::App& parent) override;
  CommandResult Run(CSession& session) override;
};

class CFlashCommand final : public ICommand {
 public:
  CLI::App* Register(CLI::App& parent) override;
  CommandResult Run(CSession& session) override;

 private:
  std::string m_ImagePath;
  FlashFlags m_Flags;
  bool m_All = false;
};

class CImageInspectCommand final : public ICommand {
 public:
  CLI::App* Register(CLI::App& parent) override;
  CommandResult Run(CSession& session) override;

 private:
  std::string m_ImagePath;
};

class CImagePackCommand final : public ICommand {
 public:
  CLI::App* Register(CLI::App& parent) override;
  CommandResult Run(CSession& session) override;

 private:
  std::string m_Type;
  std::string m_Version;
  std::string m_Beta = "0";
  std::string m_PayloadPath;
  std::string m_OutputPath;
};

// The findings as doctor prints them, for people and for --json; devices shows them too
// when it finds no controller.
void PrintFindings(std::ostream& out, const std::vector<update::Finding>& findings,
                   std::uint16_t languageId);
Json FindingsJson(const std::vector<update::Finding>& findings, std::uint16_t languageId);

// Why flash refuses an image whose header it could read before a controller is touched:
// the payload the header announces is not all in the file, or there is none. nullopt
// for an image it writes.
std::optional<std::string> RefuseUnwritable(const std::string& path,
                                            const firmware::ImageInfo& info);
// The JSON shape of an image, shared by inspect and pack.
Json DescribeImageJson(const std::string& path, const firmware::ImageInfo& info,
                       const std::optional<std::uint32_t>& payloadWordSum);

}  // namespace cli
