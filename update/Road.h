// The road of an update, once for every front end: the controller found and identified,
// the image chosen and checked, the question asked, the switch to boot mode, the
// controller back in boot mode, the run, and the controller back in application mode.
// The window, the command line and the page each own one road; they feed it what
// happens (notices, clicks, timers, the end of a run) and render what it says.
//
// The road is pinned to the controller it identified, from that moment until it ends: no
// notice and no search replaces it (CHid::PinDevice), a run opens exactly that device and
// asks its type once more before it erases anything, and an image checked for it is
// dropped when the road ends or another controller's identity is seen. Where the
// platform tells no place (the web page), the only identity of a controller that restarts
// into its other mode is that mode: the road then takes the first controller that comes
// back in it and was not waiting in it already when ours left (those are another's), and
// its type decides whether it is ours (one of another type is passed over).
//
// Two orders of asking. A front end with dialogs (the windows) lets the road ask: when
// the controller is back in boot mode the road opens the file dialog, checks the image and
// asks the version question through IUserInterface, on the owner's thread. A front end
// that asks before the switch (the command line, the page; RoadOptions::asksFirst) checks
// the image with CheckImage, asks the question itself and hands the answer over with
// Confirm before it clicks; the road then never asks.
//
// Every wait has its bound (RoadOptions::waits): the road tells the owner when it wants
// OnTimer (armTimer, or NextDeadline for a blocking loop).
//
// Threads: every member on the owner's thread. The run's worker reports its progress
// through onRunProgress and the four user-interface calls that never wait, and its end
// through postToOwner (the owner's event loop then calls OnRunEnded) or onRunFinished
// (the owner calls OnRunEnded itself).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/DebugOutput.h"
#include "hid/Hid.h"
#include "update/ImageCheck.h"
#include "update/RunOutcome.h"
#include "update/UpdateController.h"
#include "update/UserInterface.h"

namespace update {

using Clock = std::chrono::steady_clock;

enum class RoadStage {
  kNoDevice,        // no usable controller (see RoadView::unusable)
  kReady,           // identified: the button switches it (application mode) or asks for
                    // its image (waiting in boot mode)
  kSwitching,       // the boot-mode command went out: awaiting the controller in boot mode
  kAsking,          // back in boot mode: its image is being chosen and confirmed
  kRunning,         // the run writes it
  kAwaitingReturn,  // written and verified: awaiting it in application mode
};

const char* ToString(RoadStage stage);

// The controller a road is pinned to.
struct DeviceIdentity {
  std::string path;
  std::string place;  // empty where the platform tells none
  std::uint16_t productId = 0;
  std::uint16_t type = 0;                // the type code it reported
  std::optional<std::uint32_t> version;  // its version word, read in application mode

  bool InBootMode() const { return productId == hid::kBootProductId; }
  // A type this tool has images for.
  bool Supported() const;
};

// Why no controller can be used.
enum class Unusable {
  kNone,
  kNothingFound,  // no controller present
  kNotOpened,     // present, but may not be opened: see RoadView::openError
  kNotAnswering,  // opened, but it did not tell its type
  kUnknownType,   // it answered with a type this tool has no images for
};

struct RoadView {
  RoadStage stage = RoadStage::kNoDevice;
  std::optional<DeviceIdentity> device;  // the pinned controller
  Unusable unusable = Unusable::kNothingFound;
  std::optional<base::Error> openError;
  std::string foundPath;  // with kNotOpened, kNotAnswering, kUnknownType: where
  // With kUnknownType: what it answered (its type, and its version in application mode).
  std::optional<DeviceIdentity> unsupported;
  bool imageReady = false;  // an image is confirmed for the controller
};

// How a road ended: completed (and then whether the controller came back in application
// mode, with which version), or why not.
struct RoadEnd {
  DeviceIdentity device;
  RunOutcome outcome;
  bool ran = false;  // a run went to the device (the outcome has its steps)
  std::optional<std::uint32_t> newVersion;
};

// How long the road waits for the controller to change mode. Real hosts take seconds to
// enumerate a device that restarted; ten seconds is the least that is safe.
struct Waits {
  std::chrono::milliseconds bootMode{15000};     // after the boot-mode command
  std::chrono::milliseconds application{15000};  // after the completing command
};

struct RoadOptions {
  protocol::CommandOptions commands;
  std::optional<std::uint16_t> languageId;  // the texts' language; nullopt: the user's
  base::DebugSink debug;
  bool asksFirst = false;  // see above
  Waits waits;
  // Runs work later on the owner's thread (a queued call, a posted message). Given, the
  // asking is posted rather than done inside an identification, and a run's end comes back
  // through it. Empty: the asking is done in place, and onRunFinished tells a run's end.
  std::function<void(std::function<void()>)> postToOwner;
  std::function<void(const RunOutcome&)> onRunFinished;  // on the worker's thread
  // Called OnTimer after this long; nullopt: no timer is needed now.
  std::function<void(std::optional<std::chrono::milliseconds>)> armTimer;
  // On the owner's thread: after every change of stage or controller; once per road end.
  std::function<void(const RoadView&)> onChanged;
  std::function<void(const RoadEnd&)> onEnded;
  // On the worker's thread: each step of a run and each block the device confirmed.
  std::function<void(const RunOutcome&)> onRunProgress;
};

class CRoad {
 public:
  CRoad(std::shared_ptr<hid::IHidPlatform> platform, IUserInterface& ui, RoadOptions options);
  // A run going on is asked to stop and its worker joined.
  ~CRoad();
  CRoad(const CRoad&) = delete;
  CRoad& operator=(const CRoad&) = delete;

  // The start-up scan: searches once (registering for notices), identifies a controller it
  // finds, sets the button and the title. One found waiting in boot mode is asked for its
  // image at once, unless the owner asks first.
  void StartUp();
  // The notices the platform has queued, each as OnDeviceChange.
  void HandleNotices();
  // A device-change notice (0x0007, 0x8000, 0x8004; others are ignored).
  void OnDeviceChange(std::uint32_t eventType);
  // The update button: switches a controller in application mode to boot mode; asks for
  // the image of one that waits in boot mode (or runs the confirmed one).
  void OnUpdateClicked();
  // A bound has passed (armTimer, NextDeadline).
  void OnTimer();
  std::optional<Clock::time_point> NextDeadline() const { return m_Deadline; }
  // A run's end, on the owner's thread (see onRunFinished, postToOwner).
  void OnRunEnded();
  // For owners that give neither postToOwner nor onRunFinished (tests; the page, whose
  // run goes in place and has ended when the call that started it returns): waits until
  // the run's worker has ended, then does what OnRunEnded does. False on time-out or when
  // no run is going on.
  bool WaitForRunEnd(std::chrono::milliseconds timeout);
  // Stops a run at its next block boundary; the road then ends and looks for nothing more.
  void RequestStop();
  // Before the owner's window closes: while a run writes the controller, asks whether to
  // stop it (the controller then stays in boot mode). True when the window may close.
  bool MayClose();

  // The image decision for the controller as identified now; Confirm hands a checked and
  // confirmed image to the road for its controller's next run. False when the image is not
  // acceptable or the controller is no longer the one it was checked for.
  ImageCheck CheckImage(const std::string& path) const;
  bool Confirm(const ImageCheck& check);

  RoadView View() const;
  RoadStage Stage() const { return m_Stage; }
  const std::optional<RoadEnd>& LastEnd() const { return m_LastEnd; }
  // How the last run that went to the device ended (its road may not have ended yet).
  const std::optional<RunOutcome>& LastRun() const { return m_LastRun; }
  int RoadsEnded() const { return m_RoadsEnded; }
  int RunsStarted() const { return m_RunsStarted; }
  bool IsRunActive() const {
    return m_Stage == RoadStage::kAsking || m_Stage == RoadStage::kRunning;
  }

  // Replaces onRunProgress; before a run starts.
  void SetRunProgressObserver(std::function<void(const RunOutcome&)> observer) {
    m_Control.SetRunProgressObserver(std::move(observer));
  }

  std::string Text(text::TextId id) const;
  std::uint16_t LanguageId() const;
  hid::CHid& Link() { return m_Hid; }
  CUpdateController& Control() { return m_Control; }

 private:
  // Searching and identifying (Road.cpp).
  void NoticeUnpinned(std::uint32_t code);
  void NoticeReady(std::uint32_t code);
  bool SwitchAgain();
  void LookForBootMode();
  void LookForReturn();
  bool Identify(bool askNow);
  void Pin(const DeviceIdentity& device, bool modeChanged = false);
  void SetStage(RoadStage stage);
  void SetDeadline(std::optional<std::chrono::milliseconds> wait);
  void ShowGone();
  // Without a place: the controllers in a mode now; the one just identified is not ours.
  std::vector<std::string> PathsInMode(std::uint16_t productId) const;
  void NotOurs(std::uint16_t type);
  void Debug(const std::string& line) const;

  // Asking, running and ending (RoadRun.cpp).
  void BeginRun();
  void Ask();
  bool AskForImage(RunOutcome& outcome);
  void Launch();
  void WorkerEnded(const RunOutcome& outcome);
  void Changed();
  void EndRoad(const RunOutcome& outcome, bool ran, std::optional<std::uint32_t> newVersion = {});
  void LookAfterEnd(const RoadEnd& end);

  const std::shared_ptr<hid::IHidPlatform> m_Platform;
  IUserInterface& m_Ui;
  const RoadOptions m_Options;
  hid::CHid m_Hid;

  RoadStage m_Stage = RoadStage::kNoDevice;
  std::optional<DeviceIdentity> m_Device;
  Unusable m_Unusable = Unusable::kNothingFound;
  std::optional<base::Error> m_OpenError;
  std::string m_FoundPath;
  std::optional<DeviceIdentity> m_Unsupported;
  std::optional<CheckedImage> m_Image;  // confirmed for m_Device's next run
  std::string m_LastImageFolder;        // where the file dialog opens next
  std::optional<Clock::time_point> m_Deadline;
  bool m_StopRequested = false;
  bool m_LookAgain = false;                    // notices came while the road could not look
  std::optional<RunOutcome> m_RunOutcome;      // a completed run's, while its controller returns
  std::vector<std::string> m_AppModeAtLaunch;  // without a place: not ours when it returns
  std::mutex m_WorkerMutex;
  std::condition_variable m_WorkerEnded;
  std::optional<RunOutcome> m_WorkerOutcome;  // told by the worker, until OnRunEnded takes it
  std::optional<RoadEnd> m_LastEnd;
  std::optional<RunOutcome> m_LastRun;
  int m_RoadsEnded = 0;
  int m_RunsStarted = 0;

  CUpdateController m_Control;  // last: joins its run before the rest goes
};

}  // namespace update
