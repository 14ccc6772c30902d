// The second controller of the fault soak: the hands that plug it in and pull it out
// during a run, and what the wire of each controller may show with it about.
#pragma once

#include <string>
#include <vector>

#include "sim/SimController.h"
#include "tests/reliability/SoakPlan.h"

namespace soak {

// Every call on the soak's thread (the file dialog and the question are open there).
class CIntruderHands {
 public:
  explicit CIntruderHands(sim::CSimController& controller) : m_Controller(controller) {}

  // A run begins: its steps, the later ones timed from now.
  void Begin(const std::vector<IntruderStep>& steps);
  // The run has reached `moment`: the steps drawn for it, in order (kLater: those whose
  // time has come).
  void At(Moment moment);
  // The run is over: the steps left are dropped, and the controller is pulled out, so
  // that the next road begins without it.
  void Leave();
  int Arrivals() const { return m_Arrivals; }

 private:
  void Take(const IntruderStep& step);

  sim::CSimController& m_Controller;
  std::vector<IntruderStep> m_Pending;
  std::chrono::steady_clock::time_point m_Began{};
  int m_Arrivals = 0;
};

// The second controller is never the road's: it may be asked what it is (0x0101, 0x0008),
// nothing else. What it was sent besides, one line each.
std::vector<std::string> CheckIntruderWire(const std::vector<sim::SimFrameRecord>& received);

// The soak's controller gets an erase only in a stay (from its arrival to its leaving) in
// which it was identified in boot mode and then asked its type once more by the run,
// right before the run's region query; a block only after an erase in the same stay.
// What broke, one line each.
std::vector<std::string> CheckPinnedWire(const std::vector<sim::SimFrameRecord>& received);

}  // namespace soak
