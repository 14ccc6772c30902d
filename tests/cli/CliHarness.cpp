#include "tests/cli/CliHarness.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

#include <sstream>

#include "base/LittleEndian.h"
#include "cli/CliMain.h"
#include "tests/support/Images.h"

namespace cli_test {

std::vector<std::uint16_t> ReceivedCodes(const sim::CSimController& device) {
  std::vector<std::uint16_t> codes;
  for (const auto& frame : device.Received()) {
    // Application frames: 0x81, type 4, code; boot frames: 0x00, type 5, code.
    codes.push_back(base::LoadU16(&frame.bytes.at(2)));
  }
  return codes;
}

std::vector<std::uint16_t> RoadCodes(bool startInBootMode) {
  std::vector<std::uint16_t> codes;
  if (!startInBootMode) {
    codes = {0x0101, 0x000C};
  }
  // Identified in boot mode, then asked its type again by the run before anything else.
  codes.insert(codes.end(), {0x0008, 0x0008, 0x00C1, 0x0004});
  codes.insert(codes.end(), kBlocks, 0x0003);
  codes.insert(codes.end(), {0x00C2, 0x00C3, 0x0007, 0x0101});
  return codes;
}

std::string WriteImage(const testing_support::CTempDir& dir, const std::string& name,
                       const Bytes& payload, std::uint32_t type, std::uint16_t version) {
  Bytes bytes = testing_support::ImageBytes(payload, type);
  base::StoreU16(bytes.data(), version);  // the header's first field
  return dir.WriteFile(name, bytes);
}

base::Result<std::unique_ptr<hid::IHidHandle>> CWriteWatch::Open(const std::string& path,
                                                                 hid::Access access) {
  struct CHandle final : hid::CForwardingHandle {
    CHandle(std::unique_ptr<hid::IHidHandle> inner, std::string path, const OnWrite& onWrite)
        : CForwardingHandle(std::move(inner)), m_Path(std::move(path)), m_OnWrite(onWrite) {}
    base::Status WriteFrame(std::span<const std::uint8_t> frame) override {
      m_OnWrite(m_Path, frame);
      return CForwardingHandle::WriteFrame(frame);
    }
    const std::string m_Path;
    const OnWrite& m_OnWrite;  // the platform's, which outlives its handles
  };
  return OpenWrapped(path, access, [&](std::unique_ptr<hid::IHidHandle> handle) {
    return std::make_unique<CHandle>(std::move(handle), path, m_OnWrite);
  });
}

bool IsBlockWrite(std::span<const std::uint8_t> frame) {
  return frame.size() > 3 && frame[0] == 0x00 && frame[2] == 0x03 && frame[3] == 0x00;
}

sim::CSimController& CCliHarness::AddDevice(sim::SimConfig config) {
  devices.push_back(std::make_shared<sim::CSimController>(std::move(config)));
  return *devices.back();
}

CliRun CCliHarness::Run(std::vector<std::string> arguments) {
  int answers[2] = {-1, -1};
#if defined(_WIN32)
  if (::_pipe(answers, 4096, _O_BINARY) != 0) {
    return {};
  }
#else
  if (::pipe(answers) != 0) {
    return {};
  }
#endif
  // Short answers fit the pipe: written and closed before the run reads them.
  [[maybe_unused]] const auto written =
      ::write(answers[1], input.data(), static_cast<unsigned>(input.size()));
  ::close(answers[1]);

  std::ostringstream out;
  std::ostringstream err;
  cli::CliContext context;
  context.out = &out;
  context.err = &err;
  context.inputFd = answers[0];
  context.environment = [this](const char* name) -> std::optional<std::string> {
    const auto found = environment.find(name);
    return found != environment.end() ? std::optional<std::string>(found->second) : std::nullopt;
  };
  context.interrupt = &interrupt;
  context.waits = waits;
  context.platformFactory =
      [this](
          const cli::PlatformRequest& request) -> base::Result<std::shared_ptr<hid::IHidPlatform>> {
    std::shared_ptr<hid::IHidPlatform> chosen;
    if (ownPlatforms) {
      auto own = cli::CreateRequestedPlatform(request);
      if (!own) {
        return own;
      }
      chosen = std::move(own.value());
    } else {
      chosen = platform ? platform() : std::make_shared<sim::CSimPlatform>(devices);
    }
    return wrap ? wrap(chosen) : chosen;
  };

  arguments.insert(arguments.begin(), "update-cli");
  std::vector<const char*> argv;
  for (const auto& argument : arguments) {
    argv.push_back(argument.c_str());
  }
  CliRun run;
  run.code = cli::RunMain(static_cast<int>(argv.size()), argv.data(), context);
  ::close(answers[0]);
  run.out = out.str();
  run.err = err.str();
  return run;
}

}  // namespace cli_test
