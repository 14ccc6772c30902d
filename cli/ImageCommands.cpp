#include "cli/Commands.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <vector>

#include "base/FilePath.h"
#include "cli/Messages.h"
#include "firmware/FirmwareHeader.h"
#include "firmware/VersionPrompt.h"
#include "update/Words.h"

namespace cli {
namespace {

bool IsSupportedType(std::uint32_t type) {
  return type == firmware::kTypeCodeKind5 || type == firmware::kTypeCodeKind6;
}

std::string Hex32(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

std::string HexBytes(const std::array<std::uint8_t, 12>& bytes) {
  std::string text;
  for (const std::uint8_t byte : bytes) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02x", byte);
    text += pair;
  }
  return text;
}

std::string TypeRemark(std::uint32_t type) {
  if (type > 0xFFFF) {
    return Tr("not a device type code: no controller takes it");
  }
  return IsSupportedType(type) ? Tr("a supported controller type")
                               : Tr("no supported controller has this type");
}

std::optional<std::uint32_t> PayloadWordSum(const std::string& path,
                                            const firmware::ImageInfo& info) {
  if (!info.HoldsPayload()) {
    return std::nullopt;
  }
  auto sum = firmware::SumImageRegion(path, firmware::kHeaderSize, info.header.payloadLength);
  return sum ? std::optional<std::uint32_t>(sum->sum) : std::nullopt;
}

// One field: its name padded to one column whatever the language's characters.
void PrintField(std::ostream& out, const char* name, const std::string& value) {
  const int pad = std::max(1, 14 - DisplayWidth(name));
  out << "  " << name << std::string(static_cast<std::size_t>(pad), ' ') << value << '\n';
}

void PrintImage(std::ostream& out, const std::string& path, const firmware::ImageInfo& info,
                const std::optional<std::uint32_t>& wordSum) {
  const firmware::FirmwareHeader& header = info.header;
  out << path << '\n';
  PrintField(out, Tr("version"), firmware::FormatHundredths(header.version));
  PrintField(out, Tr("beta"),
             header.beta == 0 ? Fmt(Tr("{0} (release)"), {std::to_string(header.beta)})
                              : std::to_string(header.beta));
  PrintField(
      out, Tr("type"),
      firmware::FormatTypeCode(header.firmwareType) + " (" + TypeRemark(header.firmwareType) + ")");
  PrintField(out, Tr("payload"), Fmt(Tr("{0} bytes"), {std::to_string(header.payloadLength)}));
  PrintField(out, Tr("file"),
             Fmt(info.HoldsPayload() ? Tr("{0} bytes, holds the whole payload")
                                     : Tr("{0} bytes, ends before the payload does"),
                 {std::to_string(info.fileSize)}));
  PrintField(out, Tr("word sum"),
             wordSum ? Fmt(Tr("{0} (the payload's {1} whole 32-bit words)"),
                           {Hex32(*wordSum), std::to_string(header.payloadLength / 4)})
                     : std::string(Tr("none: the file does not hold the payload")));
  PrintField(out, Tr("reserved"), Hex32(header.reservedA) + ", " + HexBytes(header.reservedB));
}

}  // namespace

std::optional<std::string> RefuseUnwritable(const std::string& path,
                                            const firmware::ImageInfo& info) {
  if (!info.HoldsPayload()) {
    return Fmt(Tr("{0} is not a firmware image: its header announces a {1}-byte payload, but the "
                  "file ends at byte {2}"),
               {path, std::to_string(info.header.payloadLength), std::to_string(info.fileSize)});
  }
  if (info.header.payloadLength == 0) {
    return Fmt(Tr("{0} holds no payload (its header announces 0 bytes): there is nothing to write"),
               {path});
  }
  return std::nullopt;
}

Json DescribeImageJson(const std::string& path, const firmware::ImageInfo& info,
                       const std::optional<std::uint32_t>& payloadWordSum) {
  const firmware::FirmwareHeader& header = info.header;
  return Json{{"path", path},
              {"fileSize", info.fileSize},
              {"version", firmware::FormatHundredths(header.version)},
              {"versionHundredths", header.version},
              {"beta", header.beta},
              {"type", firmware::FormatTypeCode(header.firmwareType)},
              {"typeSupported", IsSupportedType(header.firmwareType)},
              {"payloadLength", header.payloadLength},
              {"holdsPayload", info.HoldsPayload()},
              {"wordSum", payloadWordSum ? Json(Hex32(*payloadWordSum)) : Json()},
              {"reservedA", Hex32(header.reservedA)},
              {"reservedB", HexBytes(header.reservedB)}};
}

// --- image inspect ---------------------------------------------------------------

CLI::App* CImageInspectCommand::Register(CLI::App& parent) {
  CLI::App* app = parent.add_subcommand(
      "inspect", Tr("Show an image's header, its payload's word sum, and whether it is whole"));
  app->add_option("IMAGE", m_ImagePath, Tr("The .dat firmware image"))->required();
  return app;
}

CommandResult CImageInspectCommand::Run(CSession& session) {
  const firmware::ImageRead read = firmware::ReadImageInfo(m_ImagePath);
  if (read.problem != firmware::ImageProblem::kNone) {
    return Failure(ExitCode::kImageRefused,
                   Fmt(Tr("cannot inspect {0}: {1}"),
                       {m_ImagePath, update::WordsOf(read.problem).In(session.LanguageId()) +
                                         (read.detail.empty() ? "" : " (" + read.detail + ")")}));
  }
  const std::optional<std::uint32_t> sum = PayloadWordSum(m_ImagePath, read.info);
  CommandResult result;
  result.document = DescribeImageJson(m_ImagePath, read.info, sum);
  if (!session.Options().json) {
    PrintImage(session.Human(), m_ImagePath, read.info, sum);
  }
  // An image that flash would refuse is reported as such, after its fields.
  if (const auto refused = RefuseUnwritable(m_ImagePath, read.info)) {
    result.code = ExitCode::kImageRefused;
    result.message = Fmt(Tr("{0}: flash refuses it"), {*refused});
  } else if (read.info.header.firmwareType > 0xFFFF) {
    result.code = ExitCode::kImageRefused;
    result.message = Fmt(Tr("{0}: the type field {1} is not a device type code: flash refuses it"),
                         {m_ImagePath, firmware::FormatTypeCode(read.info.header.firmwareType)});
  }
  return result;
}

// --- image pack ------------------------------------------------------------------

CLI::App* CImagePackCommand::Register(CLI::App& parent) {
  CLI::App* app =
      parent.add_subcommand("pack", Tr("Write a .dat image: a 28-byte header, then the payload"));
  app->add_option("--type", m_Type, Tr("Device type code the image is built for (0x600A, 0x6011)"))
      ->required()
      ->type_name("CODE");
  app->add_option("--version", m_Version, Tr("Firmware version, two decimals (2.15)"))
      ->required()
      ->type_name("X.YY");
  app->add_option("--beta", m_Beta, Tr("Beta number; 0 for a release (the default)"))
      ->type_name("N");
  app->add_option("PAYLOAD", m_PayloadPath, Tr("The bytes the controller's bootloader receives"))
      ->required()
      ->type_name("FILE");
  app->add_option("-o,--output", m_OutputPath, Tr("The image file to write"))
      ->required()
      ->type_name("OUT");
  return app;
}

CommandResult CImagePackCommand::Run(CSession& session) {
  const auto type = firmware::ParseTypeCode(m_Type);
  if (!type) {
    return Failure(ExitCode::kUsage,
                   Fmt(Tr("--type {0}: give a 16-bit type code, as 0x600A or 24586"), {m_Type}));
  }
  const auto version = firmware::ParseVersion(m_Version);
  if (!version) {
    return Failure(
        ExitCode::kUsage,
        Fmt(Tr("--version {0}: give the version as X.YY, from 0.00 to 655.35"), {m_Version}));
  }
  const auto beta = firmware::ParseBeta(m_Beta);
  if (!beta) {
    return Failure(ExitCode::kUsage,
                   Fmt(Tr("--beta {0}: give a number from 0 to 65535"), {m_Beta}));
  }

  std::error_code ec;
  const std::filesystem::path payloadPath = base::PathFromUtf8(m_PayloadPath);
  if (!std::filesystem::is_regular_file(payloadPath, ec)) {
    return Failure(ExitCode::kUsage, Fmt(Tr("the payload {0}: {1}"),
                                         {m_PayloadPath, std::filesystem::exists(payloadPath, ec)
                                                             ? Tr("not a regular file")
                                                             : std::strerror(ENOENT)}));
  }
  std::ifstream input(payloadPath, std::ios::binary);
  if (!input.is_open()) {
    return Failure(ExitCode::kFailure, Fmt(Tr("cannot read the payload {0}: {1}"),
                                           {m_PayloadPath, std::strerror(errno)}));
  }
  std::vector<std::uint8_t> payload((std::istreambuf_iterator<char>(input)),
                                    std::istreambuf_iterator<char>());
  if (!input.good() && !input.eof()) {
    return Failure(ExitCode::kFailure, Fmt(Tr("cannot read the payload {0}"), {m_PayloadPath}));
  }
  if (payload.empty()) {
    return Failure(ExitCode::kImageRefused,
                   Fmt(Tr("the payload {0} is empty: an image without payload has nothing to "
                          "write, and flash refuses it"),
                       {m_PayloadPath}));
  }
  if (payload.size() > 0xFFFFFFFFull) {
    return Failure(
        ExitCode::kUsage,
        Fmt(Tr("the payload {0} is larger than an image can announce (4 GiB)"), {m_PayloadPath}));
  }
  // A folder, or a path whose folder is missing, is named before anything is written.
  const std::filesystem::path outputPath = base::PathFromUtf8(m_OutputPath);
  if (std::filesystem::is_directory(outputPath, ec)) {
    return Failure(ExitCode::kFailure,
                   Fmt(Tr("cannot write {0}: {1}"), {m_OutputPath, std::strerror(EISDIR)}));
  }

  firmware::FirmwareHeader header;
  header.version = *version;
  header.beta = *beta;
  header.firmwareType = *type;
  header.payloadLength = static_cast<std::uint32_t>(payload.size());
  const auto head = firmware::SerializeFirmwareHeader(header);

  // Written beside the target and renamed over it, so that a failed write never
  // leaves a half image where a whole one is expected.
  const std::filesystem::path temporary = base::PathFromUtf8(m_OutputPath + ".part");
  {
    std::ofstream output(temporary, std::ios::binary | std::ios::trunc);
    if (!output.is_open()) {
      // The reason is the open's: taken before anything else can change errno.
      return Failure(ExitCode::kFailure,
                     Fmt(Tr("cannot write {0}: {1}"), {m_OutputPath, std::strerror(errno)}));
    }
    output.write(reinterpret_cast<const char*>(head.data()),
                 static_cast<std::streamsize>(head.size()));
    output.write(reinterpret_cast<const char*>(payload.data()),
                 static_cast<std::streamsize>(payload.size()));
    output.close();
    if (!output) {
      const int error = errno;
      std::error_code ignored;
      std::filesystem::remove(temporary, ignored);
      return Failure(ExitCode::kFailure,
                     Fmt(Tr("cannot write {0}: {1}"), {m_OutputPath, std::strerror(error)}));
    }
  }
  std::filesystem::rename(temporary, outputPath, ec);
  if (ec) {
    std::filesystem::remove(temporary, ec);
    return Failure(ExitCode::kFailure,
                   Fmt(Tr("cannot write {0}: {1}"), {m_OutputPath, ec.message()}));
  }

  firmware::ImageInfo info{header, firmware::kHeaderSize + payload.size()};
  CommandResult result;
  result.document = DescribeImageJson(m_OutputPath, info, PayloadWordSum(m_OutputPath, info));
  if (!session.Options().json) {
    session.Human() << Fmt(Tr("Wrote {0}: type {1}, version {2}, payload {3} bytes"),
                           {m_OutputPath, firmware::FormatTypeCode(header.firmwareType),
                            firmware::FormatVersion(header.version, header.beta),
                            std::to_string(payload.size())})
                    << '\n';
  }
  return result;
}

}  // namespace cli
