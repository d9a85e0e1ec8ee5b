// Initialisation of the authentication library, waiting for the host service when it is
// not running yet. The host signals a machine-wide event once it accepts calls; until then
// a one-shot thread-pool wait stands by. Either way the main window gets the ready message
// (wParam 1 and lParam the failing code when initialisation failed, both 0 on success).
//
//   CVDFPInit init(platform, api);
//   init.Start(mainWindow);   // at WM_CREATE
//   ...
//   init.Dispose();           // at WM_DESTROY (and again from the destructor: harmless)
#pragma once

#include <atomic>
#include <mutex>

#include "platform/platform.h"
#include "platform/security.h"
#include "support/vdfp/vdfp_api.h"

// The host service signals this event once it runs.
inline constexpr const wchar_t* kVDHostReadyEvent =
    L"Global\\{AA2FD877-ED65-4499-9C86-D90FB5CC1F9D}";

class CVDFPInit {
 public:
  CVDFPInit(platform::IPlatform& plat, CVDFPApi& api);
  ~CVDFPInit();
  CVDFPInit(const CVDFPInit&) = delete;
  CVDFPInit& operator=(const CVDFPInit&) = delete;

  // Initialises now when the host is up (or its event could not be made), otherwise
  // registers the wait. Returns the initialisation result, or S_FALSE while waiting.
  HRESULT Start(HWND window);
  // Stops the wait (waiting for a running callback), ends the library, closes the event.
  void Dispose();
  HRESULT Result() const { return m_result.load(); }

 private:
  static void CALLBACK WaitForService(PVOID context, BOOLEAN timedOut);
  HRESULT InitialiseAndPostReady();

  platform::IPlatform& m_plat;
  CVDFPApi& m_api;
  platform::CNullDaclAttributes m_nullDacl;
  HANDLE m_hostEvent = nullptr;
  HANDLE m_wait = nullptr;
  HWND m_window = nullptr;
  std::mutex m_lock;  // the pool callback and Dispose both end the library
  bool m_initialised = false;
  std::atomic<HRESULT> m_result{S_FALSE};
};
