// A blocking loop over one road, for an owner without an event loop (the command line):
// it waits for what the road is fed (the platform's notices, the end of a run, the
// road's own bounds) or for an interruption, and feeds it. Every wait ends: the road
// bounds each of its stages, and a wait that fails ends the loop.
#pragma once

#include <functional>

#include "base/Wake.h"
#include "hid/HidPlatform.h"
#include "update/Road.h"

namespace update {

class CRoadLoop {
 public:
  // interrupt: ready once the owner should stop (Ctrl-C); kNoWaitable for never.
  CRoadLoop(hid::IHidPlatform& platform, base::Waitable interrupt);

  // For RoadOptions::onRunFinished: wakes the loop.
  std::function<void(const RunOutcome&)> RunFinished();

  enum class Wake {
    kDone,         // done() holds
    kInterrupted,  // the interrupt is ready (and is watched no more from now on)
    kFailed,       // the system's wait failed
  };
  // Feeds the road until done() holds or the interrupt is ready.
  Wake RunUntil(CRoad& road, const std::function<bool()>& done);

 private:
  hid::IHidPlatform& m_Platform;
  base::Waitable m_Interrupt;
  base::CWakeFd m_RunEnded;
};

}  // namespace update
