#include "cli/ImageCommands.h"

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <vector>

#include "firmware/FirmwareHeader.h"
#include "firmware/VersionPrompt.h"

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
    return "not a device type code: no controller takes it";
  }
  return IsSupportedType(type) ? "a supported controller type"
                               : "no supported controller has this type";
}

std::optional<std::uint32_t> PayloadWordSum(const std::string& path,
                                            const firmware::ImageInfo& info) {
  if (!info.HoldsPayload()) {
    return std::nullopt;
  }
  auto sum = firmware::SumImageRegion(path, firmware::kHeaderSize, info.header.payloadLength);
  return sum ? std::optional<std::uint32_t>(sum->sum) : std::nullopt;
}

void PrintImage(std::ostream& out, const std::string& path, const firmware::ImageInfo& info,
                const std::optional<std::uint32_t>& wordSum) {
  const firmware::FirmwareHeader& header = info.header;
  out << path << '\n';
  out << "  version       " << firmware::FormatHundredths(header.version) << '\n';
  out << "  beta          " << header.beta << (header.beta == 0 ? " (release)" : "") << '\n';
  out << "  type          " << FormatTypeCode(header.firmwareType) << " ("
      << TypeRemark(header.firmwareType) << ")\n";
  out << "  payload       " << header.payloadLength << " bytes\n";
  out << "  file          " << info.fileSize << " bytes, "
      << (info.HoldsPayload() ? "holds the whole payload" : "ends before the payload does") << '\n';
  if (wordSum) {
    out << "  word sum      " << Hex32(*wordSum) << " (the payload's " << header.payloadLength / 4
        << " whole 32-bit words)\n";
  } else {
    out << "  word sum      none: the file does not hold the payload\n";
  }
  out << "  reserved      " << Hex32(header.reservedA) << ", " << HexBytes(header.reservedB)
      << '\n';
}

}  // namespace

std::optional<std::uint16_t> ParseTypeCode(const std::string& text) {
  if (text.empty()) {
    return std::nullopt;
  }
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::string digits = hex ? text.substr(2) : text;
  if (digits.empty() || digits.size() > 5) {
    return std::nullopt;
  }
  std::uint32_t value = 0;
  for (const char c : digits) {
    int digit = -1;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (hex && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (hex && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    }
    if (digit < 0) {
      return std::nullopt;
    }
    value = value * (hex ? 16 : 10) + static_cast<std::uint32_t>(digit);
  }
  if (value > 0xFFFF) {
    return std::nullopt;
  }
  return static_cast<std::uint16_t>(value);
}

std::optional<std::uint16_t> ParseVersion(const std::string& text) {
  const auto point = text.find('.');
  if (point == std::string::npos || point == 0 || point > 3 || text.size() != point + 3) {
    return std::nullopt;
  }
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (i == point) {
      continue;
    }
    if (text[i] < '0' || text[i] > '9') {
      return std::nullopt;
    }
    value = value * 10 + static_cast<std::uint32_t>(text[i] - '0');
  }
  if (value > 0xFFFF) {
    return std::nullopt;
  }
  return static_cast<std::uint16_t>(value);
}

std::string FormatTypeCode(std::uint32_t type) {
  char text[16];
  std::snprintf(text, sizeof text, type > 0xFFFF ? "0x%08X" : "0x%04X", type);
  return text;
}

std::string FormatVersion(std::uint16_t hundredths, std::uint16_t beta) {
  std::string text = firmware::FormatHundredths(hundredths);
  if (beta != 0) {
    text += " beta" + std::to_string(beta);
  }
  return text;
}

Json DescribeImageJson(const std::string& path, const firmware::ImageInfo& info,
                       const std::optional<std::uint32_t>& payloadWordSum) {
  const firmware::FirmwareHeader& header = info.header;
  return Json{{"path", path},
              {"fileSize", info.fileSize},
              {"version", firmware::FormatHundredths(header.version)},
              {"versionHundredths", header.version},
              {"beta", header.beta},
              {"type", FormatTypeCode(header.firmwareType)},
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
      "inspect", "Show an image's header, its payload's word sum, and whether it is whole");
  app->add_option("IMAGE", m_ImagePath, "The .dat firmware image")->required();
  return app;
}

CommandResult CImageInspectCommand::Run(CSession& session) {
  const firmware::ImageRead read = firmware::ReadImageInfo(m_ImagePath);
  if (read.problem != firmware::ImageProblem::kNone) {
    std::string message = "cannot inspect " + m_ImagePath + ": " + firmware::Describe(read.problem);
    if (!read.detail.empty()) {
      message += " (" + read.detail + ")";
    }
    return Failure(ExitCode::kImageRefused, message);
  }
  const std::optional<std::uint32_t> sum = PayloadWordSum(m_ImagePath, read.info);
  CommandResult result;
  result.document = DescribeImageJson(m_ImagePath, read.info, sum);
  if (!session.Options().json) {
    PrintImage(session.Human(), m_ImagePath, read.info, sum);
  }
  // An image that no controller would take is reported as such, after its fields.
  if (!read.info.HoldsPayload()) {
    result.code = ExitCode::kImageRefused;
    result.message = m_ImagePath + " ends at byte " + std::to_string(read.info.fileSize) +
                     ", before the " + std::to_string(read.info.header.payloadLength) +
                     "-byte payload its header announces: it would be refused";
  } else if (read.info.header.firmwareType > 0xFFFF) {
    result.code = ExitCode::kImageRefused;
    result.message = m_ImagePath + ": the type field " +
                     FormatTypeCode(read.info.header.firmwareType) +
                     " is not a device type code: it would be refused";
  }
  return result;
}

// --- image pack ------------------------------------------------------------------

CLI::App* CImagePackCommand::Register(CLI::App& parent) {
  CLI::App* app =
      parent.add_subcommand("pack", "Write a .dat image: a 28-byte header, then the payload");
  app->add_option("--type", m_Type, "Device type code the image is built for (0x600A, 0x6011)")
      ->required()
      ->type_name("CODE");
  app->add_option("--version", m_Version, "Firmware version, two decimals (2.15)")
      ->required()
      ->type_name("X.YY");
  app->add_option("--beta", m_Beta, "Beta number; 0 for a release")
      ->type_name("N")
      ->check(CLI::Range(0, 65535))
      ->default_val(0);
  app->add_option("PAYLOAD", m_PayloadPath, "The bytes the controller's bootloader receives")
      ->required()
      ->check(CLI::ExistingFile);
  app->add_option("-o,--output", m_OutputPath, "The image file to write")
      ->required()
      ->type_name("OUT");
  return app;
}

CommandResult CImagePackCommand::Run(CSession& session) {
  const auto type = ParseTypeCode(m_Type);
  if (!type) {
    return Failure(ExitCode::kUsage,
                   "--type " + m_Type + ": give a 16-bit type code, as 0x600A or 24586");
  }
  const auto version = ParseVersion(m_Version);
  if (!version) {
    return Failure(ExitCode::kUsage,
                   "--version " + m_Version + ": give the version as X.YY, from 0.00 to 655.35");
  }

  std::ifstream input(m_PayloadPath, std::ios::binary);
  std::vector<std::uint8_t> payload((std::istreambuf_iterator<char>(input)),
                                    std::istreambuf_iterator<char>());
  if (!input.good() && !input.eof()) {
    return Failure(ExitCode::kFailure, "cannot read the payload " + m_PayloadPath);
  }
  if (payload.size() > 0xFFFFFFFFull) {
    return Failure(ExitCode::kUsage, "the payload " + m_PayloadPath +
                                         " is larger than an image can announce (4 GiB)");
  }

  firmware::FirmwareHeader header;
  header.version = *version;
  header.beta = static_cast<std::uint16_t>(m_Beta);
  header.firmwareType = *type;
  header.payloadLength = static_cast<std::uint32_t>(payload.size());
  const auto head = firmware::SerializeFirmwareHeader(header);

  // Written beside the target and renamed over it, so that a failed write never
  // leaves a half image where a whole one is expected.
  const std::string temporary = m_OutputPath + ".part";
  {
    std::ofstream output(temporary, std::ios::binary | std::ios::trunc);
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
                     "cannot write " + m_OutputPath + ": " + std::strerror(error));
    }
  }
  std::error_code ec;
  std::filesystem::rename(temporary, m_OutputPath, ec);
  if (ec) {
    std::filesystem::remove(temporary, ec);
    return Failure(ExitCode::kFailure, "cannot write " + m_OutputPath + ": " + ec.message());
  }

  firmware::ImageInfo info{header, firmware::kHeaderSize + payload.size()};
  CommandResult result;
  result.document = DescribeImageJson(m_OutputPath, info, PayloadWordSum(m_OutputPath, info));
  if (!session.Options().json) {
    session.Human() << "Wrote " << m_OutputPath << ": type " << FormatTypeCode(header.firmwareType)
                    << ", version " << FormatVersion(header.version, header.beta) << ", payload "
                    << payload.size() << " bytes\n";
  }
  return result;
}

}  // namespace cli
