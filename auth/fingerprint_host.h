// What the fingerprint logic needs from the main window and from the subsystems beside it
// (quick actions, keyboard state, tray, password manager, task queue). The main window
// implements it by calling the real pieces; tests pass a fake.
#pragma once

#include <functional>

#include "platform/win_types.h"

class IFingerprintHost {
 public:
  virtual ~IFingerprintHost() = default;

  // No quick action runs, or the running one began more than 60 seconds ago.
  virtual bool CanStartAction() = 0;
  // Runs the quick action for a completed capture (CVdAgentMain::OnFingerprintReady).
  virtual HRESULT OnFingerprintReady(DWORD capture) = 0;
  // CVdAgentMain::OnFingerprintReaderConnected / OnFingerprintReaderDisconnected.
  virtual void OnReaderConnected() = 0;
  virtual void OnReaderDisconnected() = 0;
  // The keyboard handler's modifier capture: begin (once, with its time-out) and end.
  virtual void StartCapture() = 0;
  virtual void CompleteCapture() = 0;
  // CVdAgentMain::ShowFeedback(kind, sound event, detail).
  virtual void ShowFeedback(DWORD kind, DWORD sound, LPARAM detail) = 0;
  // Flashes the tray icon for a finger touch.
  virtual void FlashTrayIcon() = 0;
  // The type of the quick action the running action selected (1: the password manager);
  // 0 when none.
  virtual DWORD SelectedQuickAction() = 0;
  // Sends a command to the password manager's fill-in component.
  virtual void KwsCommand(DWORD command) = 0;
  // The fill-in component's last feedback state (1: "Act.Trained").
  virtual DWORD KwsFeedbackState() = 0;
  // Queues work for the window's thread (any thread may call).
  virtual void Post(std::function<void()> task) = 0;
};
