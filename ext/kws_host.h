// What the password-manager fill-in logic needs from the rest of the agent: the running
// quick action, the window's modal flag and the fingerprint acquisition. The main window
// implements it by calling the subsystems that own these; tests pass a fake.
//
// Every method is called on the main window's thread.
#pragma once

#include "platform/win_types.h"

class IKwsHost {
 public:
  virtual ~IKwsHost() = default;

  // ---- The running quick action ----
  // True when the current action was started by a finger: its credential mask is exactly
  // 2 (fingerprint) and the field after it is 0.
  virtual bool IsFingerActionRunning() = 0;
  // Returns the current action context to idle.
  virtual void ResetActionToIdle() = 0;
  // Clears the action context's pending-lock mark.
  virtual void ClearPendingLock() = 0;

  // ---- The window and the machine ----
  // A Windows Biometric Framework reader is in use.
  virtual bool HasWBFReader() = 0;
  virtual bool ModalMode() = 0;
  virtual void SetModalMode(bool on) = 0;

  // ---- The fingerprint acquisition ----
  virtual bool HasAcquisition() = 0;
  // Stops the acquisition; it stays created.
  virtual void StopAcquisition() = 0;
  // VDFPSetDeviceLED on the acquisition handle (null when none exists) with `led`.
  virtual void SetReaderLed(DWORD led) = 0;
  // Creates the acquisition when none exists (as the fingerprint handler does) and starts
  // it. False when the creation failed; nothing is started then.
  virtual bool StartAcquisition() = 0;
};
