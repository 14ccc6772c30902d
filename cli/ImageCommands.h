// `image inspect IMAGE` and `image pack ... PAYLOAD -o OUT`: reading and making .dat
// firmware images without a controller.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/Error.h"
#include "cli/Command.h"
#include "firmware/ImageFile.h"

namespace cli {

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

// "0x600A" or "24586": a 16-bit device type code.
std::optional<std::uint16_t> ParseTypeCode(const std::string& text);
// "0" to "65535": a beta number.
std::optional<std::uint16_t> ParseBeta(const std::string& text);
// "2.15" (one to three digits, a point, exactly two digits) in hundredths: 215.
std::optional<std::uint16_t> ParseVersion(const std::string& text);
// "0x600A".
std::string FormatTypeCode(std::uint32_t type);
// "2.15", or "2.15 beta3".
std::string FormatVersion(std::uint16_t hundredths, std::uint16_t beta);

// Why flash refuses an image whose header it could read before a controller is touched:
// the payload the header announces is not all in the file, or there is none. nullopt
// for an image it writes.
std::optional<std::string> RefuseUnwritable(const std::string& path,
                                            const firmware::ImageInfo& info);

// The JSON shape of an image, shared by inspect and pack.
Json DescribeImageJson(const std::string& path, const firmware::ImageInfo& info,
                       const std::optional<std::uint32_t>& payloadWordSum);

}  // namespace cli
