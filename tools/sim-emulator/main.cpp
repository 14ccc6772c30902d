// update-sim-emulator: serves the simulated controller on an emulator socket, so that
// `update` and `update-cli --emulator PATH` (and tests, benchmarks, demos) can run an
// update against it as if a controller were plugged in.
//
//   update-sim-emulator --socket PATH [--boot] [--type CODE] [--version HUNDREDTHS]
//                       [--region-start N] [--erase-ms N] [--latency-us N]
//                       [--reenumerate-ms N]
//
// It prints "listening PATH" on stdout once programs can connect, and runs until it
// gets SIGINT or SIGTERM. It serves one program at a time: one that connects while
// another is served is told that the emulator is busy (a line on stderr says so here),
// and the next is served once the first has left. A socket that another emulator serves
// is refused, not taken over.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "hid/emulator/server/EmulatorServer.h"
#include "sim/emulator/SimEmulatedDevice.h"

namespace {

std::optional<unsigned long> Number(const char* text) {
  char* end = nullptr;
  errno = 0;
  const unsigned long value = std::strtoul(text, &end, 0);
  if (errno != 0 || end == text || *end != '\0') {
    return std::nullopt;
  }
  return value;
}

constexpr const char* kUsage =
    "usage: update-sim-emulator --socket PATH [--boot] [--type CODE] [--version HUNDREDTHS]\n"
    "                           [--region-start N] [--erase-ms N] [--latency-us N]\n"
    "                           [--reenumerate-ms N]\n";

constexpr const char* kHelp =
    "Serves the simulated controller on an emulator socket, for update --emulator PATH and\n"
    "update-cli --emulator PATH (or UPDATE_EMULATOR=PATH), one program at a time.\n"
    "\n"
    "  --socket PATH         the Unix socket to listen on (required)\n"
    "  --boot                start in boot mode instead of application mode\n"
    "  --type CODE           the device type code (default 0x600A)\n"
    "  --version HUNDREDTHS  the firmware version in application mode (default 214)\n"
    "  --region-start N      where the writable region starts in the payload (default 0)\n"
    "  --erase-ms N          how long an erase takes\n"
    "  --latency-us N        how long each reply takes\n"
    "  --reenumerate-ms N    how long a restart into the other mode takes\n"
    "  -h, --help            print this help and exit\n"
    "\n"
    "Prints \"listening PATH\" once programs can connect; ends on SIGINT or SIGTERM.\n";

int Usage(const char* why) {
  std::fprintf(stderr, "update-sim-emulator: %s\n%s", why, kUsage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string socketPath;
  sim::SimConfig config;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--help" || option == "-h") {
      std::printf("%s\n%s", kUsage, kHelp);
      return 0;
    }
    if (option == "--boot") {
      config.startInBootMode = true;
      continue;
    }
    if (option.rfind("--", 0) != 0 || option == "--") {
      return Usage(("unknown option " + option).c_str());
    }
    if (i + 1 >= argc) {
      return Usage(("missing value for " + option).c_str());
    }
    const char* value = argv[++i];
    if (option == "--socket") {
      socketPath = value;
      continue;
    }
    const auto number = Number(value);
    if (!number) {
      return Usage(("not a number: " + std::string(value)).c_str());
    }
    if (option == "--type") {
      config.typeCode = static_cast<std::uint16_t>(*number);
    } else if (option == "--version") {
      config.version = static_cast<std::uint16_t>(*number);
    } else if (option == "--region-start") {
      config.regionStart = static_cast<std::uint32_t>(*number);
    } else if (option == "--erase-ms") {
      config.eraseTime = std::chrono::milliseconds(*number);
    } else if (option == "--latency-us") {
      config.replyLatency = std::chrono::microseconds(*number);
    } else if (option == "--reenumerate-ms") {
      config.reenumerateDelay = std::chrono::milliseconds(*number);
    } else {
      return Usage(("unknown option " + option).c_str());
    }
  }
  if (socketPath.empty()) {
    return Usage("--socket PATH is required");
  }

  // Wait for the signal in this thread; every thread started later inherits the mask.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  auto device =
      std::make_shared<sim::CSimEmulatedDevice>(std::make_shared<sim::CSimController>(config));
  hid::emulator::EmulatorServerOptions options;
  // Its notes (a program turned away, a malformed datagram) go to stderr.
  options.debug = [](std::string_view line) { std::fwrite(line.data(), 1, line.size(), stderr); };
  auto server = hid::emulator::CEmulatorServer::Listen(socketPath, device, options);
  if (!server) {
    std::fprintf(stderr, "update-sim-emulator: %s\n", server.error().message.c_str());
    return 1;
  }
  std::printf("listening %s\n", socketPath.c_str());
  std::fflush(stdout);

  int received = 0;
  sigwait(&signals, &received);
  return 0;
}
