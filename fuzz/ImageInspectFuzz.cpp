// `update-cli image inspect` on any file: the command reads the header, sums the
// payload and describes both, for people or as a JSON document. The input is the
// file's bytes; its last byte chooses the form. The command line is parsed once (the
// file's path never changes); each input runs the command itself.
#include <CLI/CLI.hpp>
#include <sstream>

#include "base/LittleEndian.h"
#include "cli/ExitCode.h"
#include "cli/Commands.h"
#include "cli/Session.h"
#include "firmware/FirmwareHeader.h"
#include "fuzz/FuzzSupport.h"

namespace {

struct CInspector {
  explicit CInspector(const std::string& path) {
    command.Register(app);
    const char* argv[] = {"image", "inspect", path.c_str()};
    app.parse(3, argv);
  }
  CLI::App app;
  cli::CImageInspectCommand command;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const fuzzing::CScratchFile scratch;
  static CInspector inspector(scratch.Path());
  scratch.Write({data, size});

  std::ostringstream out;
  std::ostringstream err;
  cli::CliContext context;
  context.out = &out;
  context.err = &err;
  cli::GlobalOptions options;
  options.json = size > 0 && (data[size - 1] & 1) != 0;
  cli::CSession session(context, options);
  const cli::CommandResult result = inspector.command.Run(session);

  // An image passes when its header is whole, its type field a 16-bit code and the file
  // holds the payload it announces, which is not empty; anything else is refused, never
  // another failure.
  const bool whole = size >= firmware::kHeaderSize;
  const bool passes = whole && base::LoadU32(data + 12) <= 0xFFFF && base::LoadU32(data + 8) != 0 &&
                      size - firmware::kHeaderSize >= std::uint64_t{base::LoadU32(data + 8)};
  fuzzing::Expect(result.code == (passes ? cli::ExitCode::kSuccess : cli::ExitCode::kImageRefused),
                  "inspect succeeds exactly for a usable image and refuses the rest");
  fuzzing::Expect(whole == result.document.has_value(),
                  "every whole header is described as a document");
  if (result.document) {
    const std::string document = cli::JsonText(*result.document, 2);
    fuzzing::Expect(!document.empty() && document.front() == '{' && document.back() == '}',
                    "the JSON document is one object");
  }
  fuzzing::Expect(options.json || !whole || !out.str().empty(),
                  "people get the description on the output");
  return 0;
}
