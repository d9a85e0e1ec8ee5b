// What the card logic needs from the main window and the subsystems beside it (quick
// actions, keyboard state, the task queue). The main window implements it by calling the
// real pieces; tests pass a fake.
#pragma once

#include <functional>
#include <string>

#include "auth/card_library.h"
#include "platform/win_types.h"

class ICardHost {
 public:
  virtual ~ICardHost() = default;

  // The window the library reports to (message 0x52C) and the PIN dialog's owner.
  virtual HWND Window() = 0;
  // No quick action runs, or the running one began more than 60 seconds ago.
  virtual bool CanStartAction() = 0;
  // The keyboard handler's modifier capture (once, with its time-out).
  virtual void StartCapture() = 0;
  // CVdAgentMain::OnCardReady: a card tap that stayed put, on a posted task.
  virtual void OnCardReady(const std::wstring& reader, const CCardRecord& record) = 0;
  // CVdAgentMain::OnCardRemoved: a card gone for good (or missing after logon).
  virtual void OnCardRemoved(const CCardRecord& record) = 0;
  // The window's task queue (core/post_task_handler.h).
  virtual void Post(std::function<void()> task) = 0;
  // Runs `task` once after `delayMs`; true from the task ends it. Returns its id.
  virtual UINT Schedule(UINT delayMs, std::function<bool(UINT)> task) = 0;
  virtual void CancelSchedule(UINT id) = 0;
};
