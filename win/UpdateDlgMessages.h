// The messages the dialog posts to itself from other threads (the run's worker, the
// notice wait), shared by its message handler and its user-interface calls.
#pragma once

#include <windows.h>

namespace win {

// What the worker and the notice wait post to the dialog; applied on its thread. The
// three values travel in the message; anything larger waits in the dialog's queue of
// posted work, which the message only announces, so that no message owns memory.
enum : UINT {
  kMsgSetProgress = WM_APP + 1,  // wParam: the position
  kMsgEnableButton,              // wParam: enabled
  kMsgShowCompletion,            // wParam: visible
  kMsgPostedWork,                // the queue of posted work has something
  kMsgNotices,                   // the platform's notice event is signalled
};

}  // namespace win
