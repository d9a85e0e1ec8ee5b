// The session's one fingerprint acquisition and the reader events it brings: the logic of
// the main window's fingerprint handler, apart from the window.
//
//   CFingerprintLogic fp(plat, api, process.AcquisitionWanted, host);  // host: fingerprint_host.h
//   fp.OnCreate(hwnd);                      // WM_CREATE: library init, maybe after the host
//   fp.OnReady();                           // 0x52D: acquisition, host-key watcher
//   fp.OnFingerprintMessage(code, data);    // 0x4C8
//   fp.OnDestroy(WM_ENDSESSION, wParam);    // a cancelled end of session keeps everything
//
// Window thread, every method. The host-key watcher's thread only posts a task through the
// host. Library failures are traced and leave the state as it was: a failed create keeps no
// handle, so the next restart tries again.
#pragma once

#include <memory>
#include <optional>

#include "auth/fingerprint_host.h"
#include "auth/vdfp_init.h"
#include "platform/platform.h"
#include "support/registry_watcher.h"
#include "support/trace/trace.h"

class CFingerprintLogic {
 public:
  // First argument of VDFPCreateAcquisition.
  static constexpr DWORD kAcquisitionParam = 3;

  // `acquisitionWanted`: the process-wide last decision of the host-key change step.
  CFingerprintLogic(platform::IPlatform& plat, CVDFPApi& api, bool& acquisitionWanted,
                    IFingerprintHost& host);
  ~CFingerprintLogic();
  CFingerprintLogic(const CFingerprintLogic&) = delete;
  CFingerprintLogic& operator=(const CFingerprintLogic&) = delete;

  // ---- Events of the window ----
  void OnCreate(HWND window);
  void OnReady();
  // One reader event; returns the handler's result (also traced).
  HRESULT OnFingerprintMessage(WPARAM code, LPARAM data);
  // WM_DESTROY, or WM_ENDSESSION: only a real end of session (wParam not 0) disposes.
  void OnDestroy(UINT msg, WPARAM wParam);
  // Watcher, acquisition (stopped, then destroyed), library. Safe to run twice; nothing is
  // created again afterwards.
  void Dispose();

  // ---- Acquisition control (also the password-manager handler's) ----
  bool HasAcquisition() const { return m_acquisition != nullptr; }
  // Creates the acquisition when there is none (nothing more on failure), then starts it.
  // Never asks whether it runs already.
  HRESULT RestartAcquisition();
  // Stops a running acquisition; the handle stays. S_FALSE without one.
  HRESULT StopAcquisition();
  // VDFPSetDeviceLED on the acquisition; S_FALSE without one.
  HRESULT SetLED(DWORD ledState);

  // The password manager is trained, or no Windows biometric framework reader is there.
  bool IsAcquisitionWanted();
  // The registry-change step: acts only when the answer differs from the last one it kept.
  void OnRegistryChanged();

  HRESULT InitResult() const { return m_init ? m_init->Result() : S_FALSE; }
  // "WN_COMPLETED" ... "WN_OPERATION_STOPPED", "Unknown".
  static const char* EventText(WPARAM code);

 private:
  void OnCompleted(LPARAM capture, const VDTraceNS::CScope& ts);
  void RunCompletedTask(DWORD capture);
  void StartHostWatcher();
  CVDFPApi& Api() { return m_api; }

  platform::IPlatform& m_plat;
  CVDFPApi& m_api;
  bool& m_acquisitionWanted;
  IFingerprintHost& m_host;
  HWND m_window = nullptr;
  HVDFPACQUISITION m_acquisition = nullptr;
  const UINT m_message;
  std::optional<CVDFPInit> m_init;
  // Owns the host key (HKLM "SOFTWARE\Veridane\VDHost", read access, suite view).
  std::unique_ptr<CRegKeyWatcher> m_hostWatcher;
  bool m_disposed = false;
};
