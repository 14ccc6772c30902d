// `update-cli image inspect` on any file: the command line reads the header, sums the
// payload and prints both, for people and as JSON. The input is the file's bytes; its
// last byte chooses the output form.
#include <sstream>

#include "cli/CliMain.h"
#include "cli/ExitCode.h"
#include "firmware/FirmwareHeader.h"
#include "fuzz/FuzzSupport.h"

namespace {

std::uint32_t Le32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
         (static_cast<std::uint32_t>(bytes[2]) << 16) |
         (static_cast<std::uint32_t>(bytes[3]) << 24);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const fuzzing::CScratchFile scratch;
  scratch.Write({data, size});
  const bool json = size > 0 && (data[size - 1] & 1) != 0;

  std::ostringstream out;
  std::ostringstream err;
  cli::CliContext context;
  context.out = &out;
  context.err = &err;
  std::vector<const char*> argv = {"update-cli", "image", "inspect", scratch.Path().c_str()};
  if (json) {
    argv.push_back("--json");
  }
  const int code = cli::RunMain(static_cast<int>(argv.size()), argv.data(), context);

  // An image passes when its header is whole, its type field a 16-bit code and the file
  // holds the payload it announces; anything else is refused, never another failure.
  const bool whole = size >= firmware::kHeaderSize;
  const bool passes = whole && Le32(data + 12) <= 0xFFFF &&
                      size - firmware::kHeaderSize >= std::uint64_t{Le32(data + 8)};
  fuzzing::Expect(
      code == static_cast<int>(passes ? cli::ExitCode::kSuccess : cli::ExitCode::kImageRefused),
      "inspect succeeds exactly for a usable image and refuses the rest");
  if (json && whole) {
    const std::string document = out.str();
    fuzzing::Expect(!document.empty() && document.front() == '{' &&
                        document.find_last_not_of('\n') == document.rfind('}'),
                    "the JSON document is one object");
  }
  return 0;
}
