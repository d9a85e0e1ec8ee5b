#include "auth/fingerprint_logic.h"

#include "auth/reader_environment.h"
#include "core/messages.h"
#include "platform/handles.h"
#include "support/registry_read.h"
#include "support/result_error.h"
#include "support/trace/trace.h"

namespace {

enum ReaderEvent : WPARAM {
  WN_COMPLETED = 0,
  WN_ERROR = 1,
  WN_DISCONNECT = 2,
  WN_RECONNECT = 3,
  WN_SAMPLE_QUALITY = 4,
  WN_FINGER_TOUCHED = 5,
  WN_FINGER_GONE = 6,
  WN_IMAGE_READY = 7,
};

// The quick action that hands the finger to the password manager, and the command that
// tells its fill-in component the finger has left.
constexpr DWORD kQuickActionPasswordManager = 1;
constexpr DWORD kKwsFingerGone = 1;
constexpr DWORD kFeedbackTrained = 1;

}  // namespace

CFingerprintLogic::CFingerprintLogic(platform::IPlatform& plat, CVDFPApi& api,
                                     bool& acquisitionWanted, IFingerprintHost& host)
    : m_plat(plat),
      m_api(api),
      m_acquisitionWanted(acquisitionWanted),
      m_host(host),
      m_message(core::WM_VD_FINGERPRINT) {}

CFingerprintLogic::~CFingerprintLogic() { Dispose(); }

const char* CFingerprintLogic::EventText(WPARAM code) {
  static const char* const kTexts[] = {"WN_COMPLETED",         "WN_ERROR",
                                       "WN_DISCONNECT",        "WN_RECONNECT",
                                       "WN_SAMPLE_QUALITY",    "WN_FINGER_TOUCHED",
                                       "WN_FINGER_GONE",       "WN_IMAGE_READY",
                                       "WN_FEATURE_SET_ADDED", "WN_REGISTRATION_COMPLETED",
                                       "WN_OPERATION_STOPPED"};
  return code < sizeof(kTexts) / sizeof(kTexts[0]) ? kTexts[code] : "Unknown";
}

// ---- Events ------------------------------------------------------------------------------

void CFingerprintLogic::OnCreate(HWND window) {
  VDTraceNS::CScope ts("CFingerprintHandler<class CVdAgentMain>::OnCreate");
  m_window = window;
  m_init.emplace(m_plat, Api());
  const HRESULT hr = m_init->Start(window);
  ts.Result("FP engine initialization", hr);
}

void CFingerprintLogic::OnReady() {
  VDTraceNS::CScope ts("CFingerprintHandler<class CVdAgentMain>::OnReady");
  if (m_disposed) return;
  try {
    if (IsAcquisitionWanted()) ts.Result("Acquisition", RestartAcquisition());
    StartHostWatcher();
  } catch (...) {
    ts.Result("OnReady", CaughtResult(m_plat.Kernel()));
  }
}

void CFingerprintLogic::StartHostWatcher() {
  if (m_hostWatcher) return;  // a second ready keeps the one watch
  auto& reg = m_plat.Registry();
  platform::UniqueHKey key(reg);
  if (reg.RegOpenKeyExW(HKEY_LOCAL_MACHINE, CReaderEnvironment::kHostKeyPath, 0,
                        KEY_READ | support::SuiteView(reg), key.put()) != ERROR_SUCCESS)
    return;
  // The watcher's thread only hands the step to the window's thread.
  m_hostWatcher = std::make_unique<CRegKeyWatcher>(
      m_plat, key.release(), false, [this] { m_host.Post([this] { OnRegistryChanged(); }); });
  m_hostWatcher->Start();
}

void CFingerprintLogic::OnRegistryChanged() {
  VDTraceNS::CScope ts("[registryChanged](HKLM/Veridane/DHOST)");
  // A task queued before disposal must not bring a new acquisition to an ended library.
  if (m_disposed) return;
  try {
    const bool wanted = IsAcquisitionWanted();
    if (wanted == m_acquisitionWanted) return;
    m_acquisitionWanted = wanted;
    ts.Result("Acquisition", wanted ? RestartAcquisition() : StopAcquisition());
  } catch (...) {
    ts.Result("registryChanged", CaughtResult(m_plat.Kernel()));
  }
}

HRESULT CFingerprintLogic::OnFingerprintMessage(WPARAM code, LPARAM data) {
  VDTraceNS::CScope ts("CFingerprintHandler<class CVdAgentMain>::OnFingerprintMessage");
  ts.Msg("%s", EventText(code));
  HRESULT hr = S_OK;
  try {
    switch (code) {
      case WN_COMPLETED:
        OnCompleted(data, ts);
        break;
      case WN_ERROR:
        m_host.CompleteCapture();
        break;
      case WN_DISCONNECT:
        m_host.OnReaderDisconnected();
        break;
      case WN_RECONNECT:
        m_host.OnReaderConnected();
        break;
      case WN_SAMPLE_QUALITY:
        m_host.StartCapture();
        if (data) m_host.ShowFeedback(2, 3, data);
        break;
      case WN_FINGER_TOUCHED:
        m_host.FlashTrayIcon();
        m_host.StartCapture();
        break;
      case WN_FINGER_GONE:
        if (m_host.SelectedQuickAction() == kQuickActionPasswordManager)
          m_host.KwsCommand(kKwsFingerGone);
        break;
      case WN_IMAGE_READY:
        m_host.StartCapture();
        break;
      default:
        break;  // traced only
    }
  } catch (...) {
    hr = CaughtResult(m_plat.Kernel());
  }
  ts.Result("OnFingerprintMessage", hr);
  return hr;
}

void CFingerprintLogic::OnCompleted(LPARAM data, const VDTraceNS::CScope& ts) {
  if (m_acquisition) ts.Result("VDFPStopAcquisition", StopAcquisition());
  if (m_host.CanStartAction()) {
    // Every capture goes on, even one the reader never made: the action's own checks fail
    // it and give the failure feedback.
    const DWORD capture = static_cast<DWORD>(data);
    m_host.Post([this, capture] { RunCompletedTask(capture); });
    return;
  }
  if (IsAcquisitionWanted()) ts.Result("Acquisition: ", RestartAcquisition());
  ts.Msg("Action is in progress or disabled. Ignored");
}

void CFingerprintLogic::RunCompletedTask(DWORD capture) {
  VDTraceNS::CScope ts("[OnFingerprintMessage](WN_COMPLETED)");
  if (m_disposed) return;
  HRESULT hr;
  try {
    hr = m_host.OnFingerprintReady(capture);
  } catch (...) {
    hr = CaughtResult(m_plat.Kernel());
  }
  ts.Result("Action: ", hr);
  // A failed action must not leave the reader dead until the next registry change.
  try {
    if (IsAcquisitionWanted()) ts.Result("Acquisition: ", RestartAcquisition());
  } catch (...) {
    ts.Result("Acquisition: ", CaughtResult(m_plat.Kernel()));
  }
}

void CFingerprintLogic::OnDestroy(UINT msg, WPARAM wParam) {
  if (msg == WM_ENDSESSION && !wParam) return;  // the end of session was cancelled
  Dispose();
}

void CFingerprintLogic::Dispose() {
  VDTraceNS::CScope ts("CFingerprintHandler<class CVdAgentMain>::Dispose");
  m_disposed = true;
  try {
    // The watcher owns the host key: stopping it closes the key.
    m_hostWatcher.reset();
    if (m_acquisition) {
      // Stop before destroy: the library keeps a destroyed running acquisition's reader busy.
      Api().VDFPStopAcquisition(m_acquisition);
      Api().VDFPDestroyAcquisition(std::exchange(m_acquisition, nullptr));
    }
    if (m_init) m_init->Dispose();
  } catch (...) {
    ts.Result("Dispose", E_FAIL);
  }
}

// ---- Acquisition ---------------------------------------------------------------------------

bool CFingerprintLogic::IsAcquisitionWanted() {
  if (m_host.KwsFeedbackState() == kFeedbackTrained) return true;
  return !CReaderEnvironment::HasWBFReader(m_plat, Api());
}

HRESULT CFingerprintLogic::RestartAcquisition() {
  VDTraceNS::CScope ts("CFingerprintHandler<class CVdAgentMain>::RestartAcquisition");
  if (m_disposed) return ts.Result("Disposed", E_ABORT);
  if (!m_acquisition) {
    HVDFPACQUISITION h = nullptr;
    const HRESULT hr = Api().VDFPCreateAcquisition(
        kAcquisitionParam, GUID{}, VDFP_ACQUISITION_NOTIFY_WINDOW, m_window, m_message, &h);
    if (FAILED(hr) || !h) return ts.Result("VDFPCreateAcquisition", FAILED(hr) ? hr : E_HANDLE);
    m_acquisition = h;
  }
  return ts.Result("VDFPStartAcquisition", Api().VDFPStartAcquisition(m_acquisition));
}

HRESULT CFingerprintLogic::StopAcquisition() {
  if (!m_acquisition) return S_FALSE;
  VDTraceNS::CScope ts("CFingerprintHandler<class CVdAgentMain>::StopAcquisition");
  return ts.Result("VDFPStopAcquisition", Api().VDFPStopAcquisition(m_acquisition));
}

HRESULT CFingerprintLogic::SetLED(DWORD ledState) {
  if (!m_acquisition) return S_FALSE;
  VDTraceNS::CScope ts("CFingerprintHandler<class CVdAgentMain>::SetLED");
  return ts.Result("VDFPSetDeviceLED", Api().VDFPSetDeviceLED(m_acquisition, ledState));
}
