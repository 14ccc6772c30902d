// update-start-measure: how long a program of ours takes from its start to a line of
// output that says it is ready (the device identified), and how much memory it needed,
// measured on the whole process.
//
//   update-start-measure [--runs N] [--timeout-ms N] --until TEXT [--stop [--settle-ms N]]
//                        -- PROGRAM ARGS...
//
// Each run starts PROGRAM with its standard output and error on one pipe, notes when a
// line containing TEXT appears, then (with --stop) lets it run N ms more (a window
// settling on the screen) and ends it with SIGTERM, or else waits for it to exit. The peak resident
// memory comes from the kernel's account of the child (wait4). Prints one line per run and the
// medians; exits non-zero when a run never printed TEXT.
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  int runs = 5;
  std::chrono::milliseconds timeout{10000};
  std::string until;
  bool stop = false;
  std::chrono::milliseconds settle{0};  // with --stop: how long it runs on after TEXT
  std::vector<std::string> command;
};

struct RunResult {
  std::optional<double> readyMs;  // nullopt: TEXT never came
  double exitMs = 0;
  long peakKiB = 0;
  int status = 0;
  std::string tail;  // the last of its output, to show when TEXT never came
};

int Usage(const char* why) {
  std::fprintf(stderr,
               "update-start-measure: %s\n"
               "usage: update-start-measure [--runs N] [--timeout-ms N] --until TEXT "
               "[--stop [--settle-ms N]] -- PROGRAM ARGS...\n",
               why);
  return 2;
}

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::optional<RunResult> MeasureOnce(const Options& options) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) {
    return std::nullopt;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  std::vector<char*> argv;
  for (const std::string& word : options.command) {
    argv.push_back(const_cast<char*>(word.c_str()));
  }
  argv.push_back(nullptr);

  const Clock::time_point start = Clock::now();
  pid_t pid = -1;
  const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  if (spawned != 0) {
    close(pipeFds[0]);
    return std::nullopt;
  }

  RunResult result;
  std::string& pending = result.tail;
  std::optional<Clock::time_point> endAt;  // with --stop: when it is told to end
  bool signalled = false;
  // Reads until the program closes its output, so that it never blocks on a full pipe.
  for (;;) {
    const Clock::time_point now = Clock::now();
    if (!signalled && endAt && now >= *endAt) {
      kill(pid, SIGTERM);
      signalled = true;
    }
    if (!signalled && now - start >= options.timeout) {
      kill(pid, SIGKILL);  // the time is up
      signalled = true;
    }
    Clock::time_point next = signalled ? now + std::chrono::seconds(1) : start + options.timeout;
    if (!signalled && endAt) {
      next = std::min(next, *endAt);
    }
    const auto waitMs = std::chrono::ceil<std::chrono::milliseconds>(next - now).count();
    pollfd fd{pipeFds[0], POLLIN, 0};
    const int ready = poll(&fd, 1, static_cast<int>(std::max<std::int64_t>(0, waitMs)));
    if (ready < 0 && errno == EINTR) {
      continue;
    }
    if (ready < 0 || (ready == 0 && signalled)) {
      break;  // told to end, and still holding its output open after a second
    }
    if (ready == 0) {
      continue;
    }
    char chunk[4096];
    const ssize_t got = read(pipeFds[0], chunk, sizeof chunk);
    if (got <= 0) {
      break;
    }
    pending.append(chunk, static_cast<std::size_t>(got));
    if (!result.readyMs && pending.find(options.until) != std::string::npos) {
      result.readyMs = MsSince(start);
      if (options.stop) {
        endAt = Clock::now() + options.settle;
      }
    }
    // Keep a tail: enough for TEXT split across two reads, and to show why it never came.
    constexpr std::size_t kTail = 2048;
    if (pending.size() > kTail + options.until.size()) {
      pending.erase(0, pending.size() - kTail - options.until.size());
    }
  }
  close(pipeFds[0]);
  // Its output has ended: it is exiting, or it closed its output and runs on. Give it
  // a second to be gone before it is killed.
  rusage usage{};
  const Clock::time_point giveUp = Clock::now() + std::chrono::seconds(1);
  while (wait4(pid, &result.status, WNOHANG, &usage) == 0) {
    if (Clock::now() >= giveUp) {
      kill(pid, SIGKILL);
      wait4(pid, &result.status, 0, &usage);
      break;
    }
    poll(nullptr, 0, 1);
  }
  result.exitMs = MsSince(start);
  result.peakKiB = usage.ru_maxrss;
  return result;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  int i = 1;
  for (; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--") {
      ++i;
      break;
    }
    if (option == "--stop") {
      options.stop = true;
      continue;
    }
    if (i + 1 >= argc) {
      return Usage(("missing value for " + option).c_str());
    }
    const std::string value = argv[++i];
    if (option == "--until") {
      options.until = value;
    } else if (option == "--runs") {
      options.runs = std::max(1, std::atoi(value.c_str()));
    } else if (option == "--settle-ms") {
      options.settle = std::chrono::milliseconds(std::max(0, std::atoi(value.c_str())));
    } else if (option == "--timeout-ms") {
      options.timeout = std::chrono::milliseconds(std::max(1, std::atoi(value.c_str())));
    } else {
      return Usage(("unknown option " + option).c_str());
    }
  }
  for (; i < argc; ++i) {
    options.command.emplace_back(argv[i]);
  }
  if (options.until.empty() || options.command.empty()) {
    return Usage("--until TEXT and a program are required");
  }

  std::vector<double> ready;
  std::vector<double> exits;
  long peak = 0;
  for (int run = 1; run <= options.runs; ++run) {
    const auto result = MeasureOnce(options);
    if (!result) {
      std::fprintf(stderr, "update-start-measure: cannot start %s\n", options.command[0].c_str());
      return 1;
    }
    if (!result->readyMs) {
      std::printf("run %d: \"%s\" never appeared (wait status %d); its last output:\n%s\n", run,
                  options.until.c_str(), result->status, result->tail.c_str());
      return 1;
    }
    std::printf("run %d: ready %.1f ms, ended %.1f ms, peak %.1f MiB\n", run, *result->readyMs,
                result->exitMs, static_cast<double>(result->peakKiB) / 1024.0);
    ready.push_back(*result->readyMs);
    exits.push_back(result->exitMs);
    peak = std::max(peak, result->peakKiB);
  }
  std::printf("median: ready %.1f ms, ended %.1f ms; peak %.1f MiB\n", Median(ready), Median(exits),
              static_cast<double>(peak) / 1024.0);
  return 0;
}
