// A stand-in's modal loop on the simulated machine: while a closed component's window is up
// (a dialog, the mini dashboard), the calling thread keeps running its own messages, as it
// does inside a real dialog or a COM call. The virtual clock moves in steps no longer than
// the next due item, so the caller's timers and posted messages run in time order.
//
//   RunSimModalLoop(*sim::CurrentProcess(), 500);   // returns at +500 ms
//   RunSimModalLoopUntil(p, 500, [&] { return closed; });  // or once `closed` is set
//
// A WM_QUIT seen meanwhile ends the loop and is posted again for the caller's own loop. Open
// for no time, it returns without running anything.
#pragma once

#include <functional>

#include "platform/sim/machine.h"
#include "platform/sim/process.h"

namespace standins {

// `closed()` is checked before anything runs and after each message and each step of time, so
// a close from a timer or a message of the caller ends the loop at once.
inline void RunSimModalLoopUntil(sim::Process& p, ULONGLONG openMs,
                                 const std::function<bool()>& closed) {
  if (openMs == 0) return;
  platform::IUi& ui = p.Ui();
  sim::Clock& clock = p.GetMachine().GetClock();
  const ULONGLONG end = clock.NowMs() + openMs;
  for (;;) {
    if (closed && closed()) return;
    MSG msg{};
    while (ui.PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        ui.PostQuitMessage(static_cast<int>(msg.wParam));
        return;
      }
      ui.TranslateMessage(&msg);
      ui.DispatchMessageW(&msg);
      if (closed && closed()) return;
    }
    const ULONGLONG now = clock.NowMs();
    if (now >= end) return;
    ULONGLONG next = end;
    if (const auto due = clock.NextDue(); due && *due > now && *due < next) next = *due;
    p.Kernel().Sleep(static_cast<DWORD>(next - now));  // moves the virtual clock
  }
}

inline void RunSimModalLoop(sim::Process& p, ULONGLONG openMs) {
  RunSimModalLoopUntil(p, openMs, {});
}

}  // namespace standins
