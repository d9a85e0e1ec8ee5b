// The session's fingerprint acquisition: initialises the authentication library (waiting
// for the host service when it is not up yet), turns reader events into actions.
// A mixin of the main window: it receives the window's events in chain order.
#pragma once

#include <optional>

#include "auth/vdfp_init.h"
#include "core/message_map.h"
#include "core/messages.h"
#include "support/trace/trace.h"

template <class T>
class CFingerprintHandler {
 public:
  VD_BEGIN_MSG_MAP()
    VD_MESSAGE_HANDLER(uMsg == WM_CREATE, OnCreate)
    VD_MESSAGE_HANDLER(uMsg == WM_DESTROY || uMsg == WM_ENDSESSION, OnDestroy)
    VD_MESSAGE_HANDLER(uMsg == core::WM_VD_READY, OnReady)
    VD_MESSAGE_HANDLER(uMsg == core::WM_VD_FINGERPRINT, OnFingerprintMessage)
  VD_END_MSG_MAP()

  // Releases the library initialisation and the host wait; safe to run twice.
  void Dispose() {
    VDTraceNS::CScope ts("CFingerprintHandler<class CVdAgentMain>::Dispose");
    if (m_init) m_init->Dispose();
  }

  // The text traced for a reader event code.
  static const char* EventText(WPARAM code) {
    static const char* const kTexts[] = {"WN_COMPLETED",         "WN_ERROR",
                                         "WN_DISCONNECT",        "WN_RECONNECT",
                                         "WN_SAMPLE_QUALITY",    "WN_FINGER_TOUCHED",
                                         "WN_FINGER_GONE",       "WN_IMAGE_READY",
                                         "WN_FEATURE_SET_ADDED", "WN_REGISTRATION_COMPLETED",
                                         "WN_OPERATION_STOPPED"};
    return code < sizeof(kTexts) / sizeof(kTexts[0]) ? kTexts[code] : "Unknown";
  }

 protected:
  T& Self() { return static_cast<T&>(*this); }

 private:
  LRESULT OnCreate(UINT, WPARAM, LPARAM) {
    VDTraceNS::CScope ts("CFingerprintHandler<class CVdAgentMain>::OnCreate");
    Self().SetMsgHandled(FALSE);
    m_init.emplace(Self().Process().Platform(), Self().Process().AuthLibrary());
    const HRESULT hr = m_init->Start(Self().m_hWnd);
    ts.Result("FP engine initialization", hr);
    return 0;
  }
  LRESULT OnDestroy(UINT uMsg, WPARAM wParam, LPARAM) {
    Self().SetMsgHandled(FALSE);
    if (uMsg == WM_ENDSESSION && !wParam) return 0;
    Dispose();
    return 0;
  }
  LRESULT OnReady(UINT, WPARAM, LPARAM) {
    VDTraceNS::CScope ts("CFingerprintHandler<class CVdAgentMain>::OnReady");
    Self().SetMsgHandled(FALSE);
    return 0;
  }
  LRESULT OnFingerprintMessage(UINT, WPARAM wParam, LPARAM) {
    VDTraceNS::CScope ts("CFingerprintHandler<class CVdAgentMain>::OnFingerprintMessage");
    ts.Msg("%s", EventText(wParam));
    return 0;
  }

  std::optional<CVDFPInit> m_init;
};
