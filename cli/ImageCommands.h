// `image inspect IMAGE` and `image pack ... PAYLOAD -o OUT`: reading and making .dat
// firmware images without a controller.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/Error.h"
#include "cli/Command.h"
#include "firmware/ImageFile.h"
#include "firmware/ImageText.h"

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

// Why flash refuses an image whose header it could read before a controller is touched:
// the payload the header announces is not all in the file, or there is none. nullopt
// for an image it writes.
std::optional<std::string> RefuseUnwritable(const std::string& path,
                                            const firmware::ImageInfo& info);

// The JSON shape of an image, shared by inspect and pack.
Json DescribeImageJson(const std::string& path, const firmware::ImageInfo& info,
                       const std::optional<std::uint32_t>& payloadWordSum);

}  // namespace cli
