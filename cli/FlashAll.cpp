#include "cli/FlashAll.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <memory>
#include <vector>

#include "cli/Commands.h"
#include "cli/FlashBoard.h"
#include "cli/Messages.h"
#include "cli/RoadUi.h"
#include "cli/TerminalUi.h"
#include "firmware/FirmwareHeader.h"
#include "hid/Hid.h"
#include "hid/PlaceHub.h"
#include "update/RoadWords.h"
#include "update/RunThread.h"

namespace cli {
namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

// One controller's road and how it ended.
struct Road {
  hid::InterfaceInfo controller;  // as listed at the start
  std::string place;              // its place, or its path where the system tells none
  std::size_t row = 0;
  std::shared_ptr<hid::IHidPlatform> platform;
  std::unique_ptr<CBoardRoadUi> ui;
  CommandResult result;  // the road's thread writes it before it sets `ended`
  std::atomic<bool> ended{false};
  bool told = false;  // its end is on the board
  bool skipped = false;
  update::CRunThread thread;  // last: joined first
};

}  // namespace

TerminalOptions TerminalFor(CSession& session, bool assumeYes) {
  TerminalOptions terminal;
  terminal.out = &session.Progress();
  terminal.results = &session.Human();
  terminal.isTerminal = session.ProgressIsTerminal();
  terminal.columns = session.Context().errColumns;
  terminal.inputFd = session.Context().inputFd;
  terminal.inputIsTerminal = session.Context().inputIsTerminal;
  terminal.assumeYes = assumeYes;
  base::CWakeFd* interrupt = session.Context().interrupt;
  terminal.interruptFd = interrupt != nullptr ? interrupt->Fd() : base::kNoWaitable;
  terminal.outputMutex = &session.OutputMutex();
  return terminal;
}

namespace {

int Columns(CSession& session) {
  if (const auto& asked = session.Context().errColumns) {
    if (const int columns = asked(); columns > 0) {
      return columns;
    }
  }
  const auto& environment = session.Context().environment;
  const std::optional<std::string> text =
      environment ? environment("COLUMNS") : std::optional<std::string>();
  int columns = 0;
  if (text &&
      std::from_chars(text->data(), text->data() + text->size(), columns).ec == std::errc()) {
    return columns;
  }
  return 80;
}

// "sim-port-0  sim:0  type 0x600A  firmware 2.14": what the question lists.
std::string Describe(const Road& road, const std::optional<FoundController>& found) {
  std::string text = road.place + "  " + road.controller.path;
  if (found) {
    text += "  " + Fmt(Tr("type {0}"), {firmware::FormatTypeCode(found->type)});
    text += "  " + (found->versionWord
                        ? Fmt(Tr("firmware {0}"), {update::VersionText(*found->versionWord)})
                        : std::string(Tr("in boot mode, firmware not known")));
  }
  return text;
}

// The one question, once every road waits for it or has ended. False when nobody waits.
bool AskOnce(CTerminalUi& people, CFlashBoard& board,
             const std::vector<std::unique_ptr<Road>>& roads,
             const std::vector<std::size_t>& asking, const std::string& imagePath,
             const firmware::ImageInfo& image) {
  if (asking.empty()) {
    return false;
  }
  const std::string version = firmware::FormatVersion(image.header.version, image.header.beta);
  const std::string type = firmware::FormatTypeCode(image.header.firmwareType);
  people.Line(roads.size() == 1
                  ? Fmt(Tr("1 controller found; {0} holds firmware {1} for type {2}:"),
                        {imagePath, version, type})
                  : Fmt(Tr("{0} controllers found; {1} holds firmware {2} for type {3}:"),
                        {std::to_string(roads.size()), imagePath, version, type}));
  for (const auto& road : roads) {
    if (std::find(asking.begin(), asking.end(), road->row) != asking.end()) {
      people.Line("  " + Describe(*road, board.Found(road->row)));
    } else {
      people.Line("  " + Describe(*road, board.Found(road->row)) + "  " +
                  Fmt(Tr("not updated: {0}"), {road->result.message}));
    }
  }
  return people.Ask(asking.size() == 1
                        ? Fmt(Tr("Update this controller to firmware {0}?"), {version})
                        : Fmt(Tr("Update these {0} controllers to firmware {1}?"),
                              {std::to_string(asking.size()), version}));
}

// The board's last word on a road that ended.
std::string FinalText(const Road& road) {
  if (road.skipped) {
    return Fmt(Tr("Skipped: {0}"), {road.result.message});
  }
  if (road.result.code != ExitCode::kSuccess) {
    return Fmt(Tr("Failed: {0}"), {road.result.message});
  }
  const Json* document = road.result.document ? &*road.result.document : nullptr;
  if (document != nullptr && document->contains("newVersion") &&
      (*document)["newVersion"].is_string()) {
    return Fmt(Tr("Updated: firmware {0}"), {(*document)["newVersion"].get<std::string>()});
  }
  return Tr("Updated (not back in application mode yet)");
}

}  // namespace

CommandResult FlashAll(CSession& session, std::shared_ptr<hid::IHidPlatform> platform,
                       const std::string& imagePath, const firmware::ImageInfo& image,
                       const FlashFlags& flags) {
  if (session.Options().device) {
    return Failure(ExitCode::kUsage,
                   Tr("--all updates every controller and --device chooses one: give one of them"));
  }
  hid::CPlaceHub hub(std::move(platform));
  (void)hub.Start();
  const std::vector<hid::InterfaceInfo> controllers = hid::ControllersByPlace(hub.System());
  if (controllers.empty()) {
    return Failure(ExitCode::kNoDevice,
                   Tr("no controller found: plug them in and run again (those waiting in boot "
                      "mode are found too)"));
  }
  for (const hid::InterfaceInfo& info : controllers) {
    if (info.location.empty() && controllers.size() > 1) {
      return Failure(ExitCode::kFailure,
                     Fmt(Tr("the system tells no place for {0}, and --all follows each controller "
                            "through its restart by the place it is plugged in: update them one "
                            "at a time with --device PATH"),
                         {info.path}));
    }
  }

  base::CWakeFd wake;  // a road waits for the question, or has ended
  CQuestionGate gate([&wake] { wake.Signal(); });
  base::CWakeFd* interrupt = session.Context().interrupt;
  const base::Waitable interruptFd = interrupt != nullptr ? interrupt->Fd() : base::kNoWaitable;
  // Debug lines would break the lines drawn in place: with --verbose, plain lines.
  const bool drawInPlace = session.ProgressIsTerminal() && !session.Options().verbose;
  CFlashBoard board(session.Progress(), session.OutputMutex(), drawInPlace, Columns(session));
  CTerminalUi people(TerminalFor(session, flags.yes));

  std::vector<std::unique_ptr<Road>> roads;
  for (const hid::InterfaceInfo& info : controllers) {
    auto road = std::make_unique<Road>();
    road->controller = info;
    road->place = info.location.empty() ? info.path : info.location;
    road->row = board.AddRow(road->place);
    road->platform = hub.PlatformAt(info.location);
    road->ui = std::make_unique<CBoardRoadUi>(board, road->row, gate);
    roads.push_back(std::move(road));
  }
  for (auto& road : roads) {
    Road& mine = *road;
    const bool started = mine.thread.Start([&session, &mine, &imagePath, &image, &wake, &flags] {
      mine.result = RunFlashRoad(session, mine.platform, mine.controller.path, imagePath, image,
                                 *mine.ui, flags);
      mine.ended.store(true);
      wake.Signal();
    });
    if (!started) {
      mine.result =
          Failure(ExitCode::kFailure, Tr("the system gave no thread for this controller"));
      mine.ended.store(true);
    }
  }

  // The owner's loop: the system's notices sorted to the places, the one question, Ctrl-C,
  // the board drawn, until every road has ended.
  bool interrupted = false;
  bool asked = false;
  auto nextDraw = std::chrono::steady_clock::now();
  for (;;) {
    wake.Clear();  // before looking: a road that changes after this wakes the next wait
    const auto isEnded = [](const auto& road) { return road->ended.load(); };
    for (auto& road : roads) {
      if (road->ended.load() && !road->told) {
        road->told = true;
        const std::vector<std::size_t> waited = gate.Waiting();
        // Refused by its road before it was asked anything: the image was read whole
        // before any road began, so its type does not fit this controller. Not a failure.
        road->skipped = std::find(waited.begin(), waited.end(), road->row) == waited.end() &&
                        road->result.code == ExitCode::kImageRefused;
        board.SetFinal(road->row, FinalText(*road));
      }
    }
    if (std::all_of(roads.begin(), roads.end(), isEnded)) {
      break;
    }
    if (!asked) {
      const std::vector<std::size_t> asking = gate.Waiting();
      const auto endedCount = std::count_if(roads.begin(), roads.end(), isEnded);
      if (asking.size() + static_cast<std::size_t>(endedCount) == roads.size()) {
        asked = true;
        const bool answer = AskOnce(people, board, roads, asking, imagePath, image);
        interrupted = interrupted || (interrupt != nullptr && interrupt->IsSignalled());
        board.GoLive();
        gate.Answer(answer && !interrupted);
        continue;
      }
    }
    const base::Waitable waitables[] = {hid::NoticeWaitable(hub.System()), wake.Fd(),
                                        interrupted ? base::kNoWaitable : interruptFd};
    std::optional<std::chrono::milliseconds> timeout;
    if (drawInPlace && asked) {
      timeout =
          std::max(std::chrono::milliseconds(0), std::chrono::ceil<std::chrono::milliseconds>(
                                                     nextDraw - std::chrono::steady_clock::now()));
    }
    const int ready = base::WaitForAny(waitables, timeout);
    if (ready == 0) {
      hub.Pump();
    } else if (ready == 2) {
      // Each road stops its own run at the next block boundary; none is asked anything.
      interrupted = true;
      asked = true;
      gate.Answer(false);
    }
    if (std::chrono::steady_clock::now() >= nextDraw) {
      board.Redraw();
      nextDraw = std::chrono::steady_clock::now() + kRedrawInterval;
    }
  }
  for (auto& road : roads) {
    road->thread.Join();
  }
  board.GoLive();  // also when nobody was asked: the ends are told
  board.Close();

  // The summary, in the order of places; the code of the first failure.
  CommandResult result;
  int updated = 0;
  int failed = 0;
  int skipped = 0;
  const Road* firstFailure = nullptr;
  for (const auto& road : roads) {
    if (road->skipped) {
      ++skipped;
    } else if (road->result.code == ExitCode::kSuccess) {
      ++updated;
    } else {
      ++failed;
      firstFailure = firstFailure != nullptr ? firstFailure : road.get();
    }
  }
  people.Result(Fmt(Tr("{0} updated, {1} failed, {2} skipped."),
                    {std::to_string(updated), std::to_string(failed), std::to_string(skipped)}));
  for (const auto& road : roads) {
    if (road->skipped || road->result.code != ExitCode::kSuccess) {
      people.Result("  " +
                    Fmt(road->skipped ? Tr("skipped {0} ({1}): {2}") : Tr("failed {0} ({1}): {2}"),
                        {road->place, road->controller.path, road->result.message}));
    }
  }
  // Where a road ended before its controller was written whole, the controller waits in
  // boot mode; a completed one is on its way back.
  Json stillInBootMode = Json::array();
  std::string waiting;
  const std::vector<hid::InterfaceInfo> present = hid::ListControllers(hub.System());
  for (const auto& road : roads) {
    const bool inBootMode = std::any_of(present.begin(), present.end(), [&](const auto& info) {
      return info.location == road->controller.location && info.productId == hid::kBootProductId;
    });
    if (inBootMode && !road->skipped && road->result.code != ExitCode::kSuccess) {
      stillInBootMode.push_back(road->place);
      waiting += (waiting.empty() ? "" : ", ") + road->place;
    }
  }
  if (!waiting.empty()) {
    people.Result(
        Fmt(Tr("Still in boot mode: {0}: run the same command again to finish their update."),
            {waiting}));
  }

  if (firstFailure != nullptr) {
    result = Failure(firstFailure->result.code,
                     failed > 1 ? Fmt(Tr("{0}: {1} ({2} more failed: see above)"),
                                      {firstFailure->place, firstFailure->result.message,
                                       std::to_string(failed - 1)})
                                : firstFailure->place + ": " + firstFailure->result.message);
  } else if (updated == 0) {
    result = Failure(
        ExitCode::kImageRefused,
        Fmt(Tr("{0} fits none of the controllers: each was skipped (see above)"), {imagePath}));
  }

  Json list = Json::array();
  for (const auto& road : roads) {
    Json entry = {{"place", road->place}};
    const Json document = road->result.document ? *road->result.document : ResultJson(road->result);
    for (const auto& [key, value] : document.items()) {
      if (key != "image") {
        entry[key] = value;
      }
    }
    if (road->skipped) {
      entry["result"] = "skipped";
    }
    list.push_back(std::move(entry));
  }
  Json document = ResultJson(result);
  document["image"] = ImageJson(imagePath, image);
  document["summary"] = {{"updated", updated}, {"failed", failed}, {"skipped", skipped}};
  document["controllers"] = std::move(list);
  document["stillInBootMode"] = std::move(stillInBootMode);
  result.document = std::move(document);
  return result;
}

}  // namespace cli
