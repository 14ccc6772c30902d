// image pack and image inspect: what pack writes is what inspect (and the flashing
// run) reads back, and the values pack refuses.
#include <gtest/gtest.h>

#include <fstream>
#include <utility>

#include "base/LittleEndian.h"
#include "cli/Commands.h"
#include "firmware/FirmwareHeader.h"
#include "firmware/ImageFile.h"
#include "tests/cli/CliHarness.h"

namespace {

using cli_test::Bytes;
using cli_test::CCliHarness;

struct Image : ::testing::Test {
  testing_support::CTempDir dir;
  CCliHarness cli;
  Bytes payload = cli_test::Pattern(1001);  // 250 whole words and one byte more
  std::string payloadPath = dir.WriteFile("payload.bin", payload);
  std::string out = (dir.Path() / "fw.dat").string();
};

TEST_F(Image, PackWritesHeaderAndPayloadThatInspectReadsBack) {
  const auto packed = cli.Run({"image", "pack", "--type", "0x6011", "--version", "3.07", "--beta",
                               "12", payloadPath, "-o", out});
  ASSERT_EQ(packed.code, 0) << packed.err;
  EXPECT_EQ(packed.out,
            "Wrote " + out + ": type 0x6011, version 3.07 beta12, payload 1001 bytes\n");

  // The bytes on disk: the header the firmware layer parses, then the payload as given.
  std::ifstream file(out, std::ios::binary);
  const Bytes bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  ASSERT_EQ(bytes.size(), 28u + payload.size());
  const auto header =
      firmware::ParseFirmwareHeader(std::span<const std::uint8_t, 28>(bytes.data(), 28));
  EXPECT_EQ(header.version, 307);
  EXPECT_EQ(header.beta, 12);
  EXPECT_EQ(header.firmwareType, 0x6011u);
  EXPECT_EQ(header.payloadLength, 1001u);
  EXPECT_EQ(Bytes(bytes.begin() + 28, bytes.end()), payload);

  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + 4 <= payload.size(); i += 4) {
    sum += base::LoadU32(&payload[i]);
  }
  char sumText[16];
  std::snprintf(sumText, sizeof sumText, "0x%08X", sum);

  // JSON escapes the backslashes of a Windows path.
  std::string jsonPath;
  for (const char c : out) {
    jsonPath += c == '\\' ? std::string("\\\\") : std::string(1, c);
  }
  const auto inspected = cli.Run({"image", "inspect", out, "--json"});
  ASSERT_EQ(inspected.code, 0) << inspected.err;
  EXPECT_EQ(inspected.out, "{\n  \"path\": \"" + jsonPath +
                               "\",\n  \"fileSize\": 1029,\n  \"version\": \"3.07\",\n"
                               "  \"versionHundredths\": 307,\n  \"beta\": 12,\n"
                               "  \"type\": \"0x6011\",\n  \"typeSupported\": true,\n"
                               "  \"payloadLength\": 1001,\n  \"holdsPayload\": true,\n"
                               "  \"wordSum\": \"" +
                               sumText +
                               "\",\n  \"reservedA\": \"0x00000000\",\n"
                               "  \"reservedB\": \"000000000000000000000000\"\n}\n");

  const auto shown = cli.Run({"image", "inspect", out});
  EXPECT_NE(shown.out.find("  word sum      " + std::string(sumText) +
                           " (the payload's 250 whole 32-bit words)\n"),
            std::string::npos)
      << shown.out;
}

TEST_F(Image, InspectRefusesWhatNoControllerWouldTake) {
  ASSERT_EQ(
      cli.Run({"image", "pack", "--type", "0x600A", "--version", "1.00", payloadPath, "-o", out})
          .code,
      0);
  std::filesystem::resize_file(out, 28 + 500);
  const auto cut = cli.Run({"image", "inspect", out});
  EXPECT_EQ(cut.code, 5);
  EXPECT_NE(cut.out.find("ends before the payload does"), std::string::npos);
  EXPECT_EQ(cut.err, "update-cli: " + out +
                         " is not a firmware image: its header announces a 1001-byte payload, but "
                         "the file ends at byte 528: flash refuses it\n");

  std::filesystem::resize_file(out, 20);
  const auto header = cli.Run({"image", "inspect", out, "--json"});
  EXPECT_EQ(header.code, 5);
  EXPECT_NE(header.out.find("\"kind\": \"image-refused\""), std::string::npos) << header.out;
  EXPECT_NE(header.err.find("shorter than its 28-byte header"), std::string::npos);
}

TEST(ImageValues, TypeCodesAndVersionsAreParsedStrictly) {
  EXPECT_EQ(firmware::ParseTypeCode("0x600A"), 0x600A);
  EXPECT_EQ(firmware::ParseTypeCode("0X6011"), 0x6011);
  EXPECT_EQ(firmware::ParseTypeCode("24586"), 0x600A);
  EXPECT_EQ(firmware::ParseTypeCode("65535"), 0xFFFF);
  for (const char* bad : {"", "0x", "0x10000", "65536", "600A", "-1", "0x60 0A", "010x"}) {
    EXPECT_EQ(firmware::ParseTypeCode(bad), std::nullopt) << bad;
  }
  EXPECT_EQ(firmware::ParseVersion("2.15"), 215);
  EXPECT_EQ(firmware::ParseVersion("0.00"), 0);
  EXPECT_EQ(firmware::ParseVersion("655.35"), 65535);
  for (const char* bad : {"2.5", "2", "2.150", ".15", "655.36", "1000.00", "a.bc", "2,15"}) {
    EXPECT_EQ(firmware::ParseVersion(bad), std::nullopt) << bad;
  }
}

TEST_F(Image, PackRefusesBadValuesAsUsage) {
  const auto type =
      cli.Run({"image", "pack", "--type", "0x1600A", "--version", "2.15", payloadPath, "-o", out});
  EXPECT_EQ(type.code, 2);
  EXPECT_EQ(type.err, "update-cli: --type 0x1600A: give a 16-bit type code, as 0x600A or 24586\n");
  EXPECT_FALSE(std::filesystem::exists(out));
}

// The documents' strings: UTF-8 (the Chinese texts, a file's name) as it is, not
// escaped, and a byte that is not UTF-8 replaced rather than thrown on.
TEST(Json, StringsKeepUtf8AndReplaceWhatIsNot) {
  EXPECT_EQ(cli::JsonText("固件 2.15"), "\"固件 2.15\"");
  EXPECT_EQ(cli::JsonText("bad\xFF.dat"), "\"bad\xEF\xBF\xBD.dat\"");
}

}  // namespace
