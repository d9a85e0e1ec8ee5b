#include "ext/kws_fillin.h"

#include "core/messages.h"
#include "platform/handles.h"
#include "support/result_error.h"
#include "support/settings/policy_library.h"
#include "support/settings/policy_settings.h"
#include "support/trace/trace.h"
#include "support/vdfp/vdfp_api.h"

namespace {

constexpr const wchar_t* kDisableAppsPolicy =
    L"CommonSettings\\{42F9948B-B690-4325-A073-63A8BF31FF32}\\DisableApps";
// The path value is read into a buffer of this many bytes.
constexpr DWORD kPathBufferBytes = 520;

const wchar_t* ActionTypeName(LPARAM type) {
  switch (type) {
    case CKwsFillIn::kNoMenu:
      return L"NoMenu";
    case CKwsFillIn::kShowMenu:
      return L"ShowMenu";
    case CKwsFillIn::kInProgress:
      return L"InProgress";
    default:
      return L"Undefined";
  }
}

const wchar_t* FeedbackStateName(DWORD state) {
  switch (state) {
    case CKwsFillIn::kInactive:
      return L"Inactive";
    case CKwsFillIn::kActTrained:
      return L"Act.Trained";
    case CKwsFillIn::kActNotTrained:
      return L"Act.NotTrained";
    default:
      return L"Invalid";
  }
}

DWORD LedFor(DWORD state) {
  switch (state) {
    case CKwsFillIn::kActTrained:
      return VDFP_LED_WAIT;
    case CKwsFillIn::kActNotTrained:
      return VDFP_LED_WAIT_SHORT;
    default:
      return VDFP_LED_OFF;
  }
}

const wchar_t* LedName(DWORD led) {
  switch (led) {
    case VDFP_LED_WAIT:
      return L"Wait";
    case VDFP_LED_WAIT_SHORT:
      return L"Wait.Short";
    default:
      return L"Off";
  }
}

// The state a feedback change carries. The component posts a 32-bit value, sign-extended
// when it crosses into a 64-bit process; anything wider comes from someone else and must not
// pass for a real state by losing its upper half.
DWORD FeedbackStateFrom(LPARAM lParam) {
  const auto state = static_cast<DWORD>(lParam);
  if (static_cast<LPARAM>(state) == lParam ||
      static_cast<LPARAM>(static_cast<LONG>(state)) == lParam)
    return state;
  return 0xFFFFFFFF;
}

template <typename Pfn>
Pfn ProcAs(FARPROC proc) {
  // Through void(*)(): function pointers convert to and from it without a cast warning.
  return reinterpret_cast<Pfn>(reinterpret_cast<void (*)()>(proc));
}

}  // namespace

CKwsFillIn::CKwsFillIn(core::CAgentProcess& process, IKwsHost& host,
                       CPasswordManager& passwordManager)
    : m_process(process), m_host(host), m_passwordManager(passwordManager) {}

CKwsFillIn::~CKwsFillIn() { Dispose(); }

HRESULT CKwsFillIn::OnReady(HWND hWnd) {
  VDTraceNS::CScope ts("CKwsHandler<class CVdAgentMain>::OnReady");
  try {
    if (!IsEnabled()) {
      ts.Msg("KWS is disabled");
      return S_FALSE;
    }
    if (HRESULT hr = Load(); FAILED(hr)) return ts.Result("Load", hr);
    if (!m_pfnInit) return ts.Result("VDKWSInit", kNotLoaded);
    return ts.Result("VDKWSInit", m_pfnInit(hWnd, kVDKwsReplyMessage));
  } catch (...) {
    return ts.Result("OnReady", CaughtResult(m_process.Platform().Kernel()));
  }
}

bool CKwsFillIn::IsEnabled() {
  VDTraceNS::CScope ts("CKwsHandler<class CVdAgentMain>::IsEnabled");
  auto lib = GPO::PolicyLibrary(m_process.AuthLibrary());
  GPO::CPolicyItem item(lib, kDisableAppsPolicy);
  // A query that fails leaves the default: not disabled.
  const bool disabled = SUCCEEDED(item.Query()) && GPO::get<bool>(item);
  ts.Msg(L"OnlineIds is %ls", disabled ? L"disabled" : L"enabled");
  return !disabled;
}

HRESULT CKwsFillIn::Load() {
  VDTraceNS::CScope ts("CKwsHandler<class CVdAgentMain>::Load");
  auto& plat = m_process.Platform();
  auto& reg = plat.Registry();
  std::wstring path;
  {
    platform::UniqueHKey key(reg);
    LSTATUS st = reg.RegOpenKeyExW(HKEY_LOCAL_MACHINE, kVDKwsPluginKey, 0, KEY_READ, key.put());
    if (st != ERROR_SUCCESS)
      return ts.Result("RegOpenKeyEx", HRESULT_FROM_WIN32(static_cast<DWORD>(st)));
    wchar_t buf[kPathBufferBytes / sizeof(wchar_t)] = {};
    DWORD type = 0, size = kPathBufferBytes;
    st = reg.RegQueryValueExW(key.get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buf),
                              &size);
    if (st != ERROR_SUCCESS)
      return ts.Result("RegQueryValueEx", HRESULT_FROM_WIN32(static_cast<DWORD>(st)));
    // The text is used as it is: a string type, whole characters, terminated within what
    // was stored.
    const DWORD chars = size / sizeof(wchar_t);
    if ((type != REG_SZ && type != REG_EXPAND_SZ) || size % sizeof(wchar_t) != 0 || chars == 0 ||
        std::char_traits<wchar_t>::find(buf, chars, L'\0') == nullptr)
      return ts.Result("Path", HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
    path = buf;
  }

  Unload();
  auto& modules = plat.Modules();
  m_hModule = modules.LoadLibraryExW(path.c_str(), nullptr, 0);
  if (!m_hModule) {
    const HRESULT hr = HRESULT_FROM_WIN32(plat.Kernel().GetLastError());
    return ts.Result("LoadLibrary", FAILED(hr) ? hr : E_FAIL);
  }
  m_pfnInit = ProcAs<PFN_VDKWSInit>(modules.GetProcAddress(m_hModule, "VDKWSInit"));
  m_pfnCommand = ProcAs<PFN_VDKWSCommand>(modules.GetProcAddress(m_hModule, "VDKWSCommand"));
  m_pfnTerminate = ProcAs<PFN_VDKWSTerminate>(modules.GetProcAddress(m_hModule, "VDKWSTerminate"));
  if (!m_pfnInit || !m_pfnCommand || !m_pfnTerminate) {
    // Never terminate a component that could not be initialised.
    m_pfnTerminate = nullptr;
    Unload();
    return ts.Result("GetProcAddress", HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND));
  }
  return S_OK;
}

void CKwsFillIn::Dispose() {
  VDTraceNS::CScope ts("CKwsHandler<class CVdAgentMain>::Dispose");
  try {
    if (auto terminate = std::exchange(m_pfnTerminate, nullptr)) terminate();
  } catch (...) {
    ts.Result("VDKWSTerminate", CaughtResult(m_process.Platform().Kernel()));
  }
  Unload();
}

void CKwsFillIn::Unload() {
  m_pfnInit = nullptr;
  m_pfnCommand = nullptr;
  m_pfnTerminate = nullptr;
  if (HMODULE h = std::exchange(m_hModule, nullptr)) m_process.Platform().Modules().FreeLibrary(h);
}

HRESULT CKwsFillIn::Command(DWORD dwCommand, ULONG_PTR dwParam, DWORD* pdwResult) {
  VDTraceNS::CScope ts("CKwsHandler<class CVdAgentMain>::Command");
  DWORD ignored = 0;
  if (!pdwResult) pdwResult = &ignored;
  *pdwResult = 0;
  if (!m_pfnCommand) return ts.Result("VDKWSCommand", kNotLoaded);
  try {
    return ts.Result("VDKWSCommand", m_pfnCommand(dwCommand, dwParam, pdwResult));
  } catch (...) {
    return ts.Result("VDKWSCommand", CaughtResult(m_process.Platform().Kernel()));
  }
}

void CKwsFillIn::OnKwsMessage(WPARAM wParam, LPARAM lParam) {
  VDTraceNS::CScope ts("CKwsHandler<class CVdAgentMain>::OnKwsMessage");
  switch (wParam) {
    case kFillinReply:
      ts.Msg(L"actionType: %ls", ActionTypeName(lParam));
      OnFillinReply(ts, lParam);
      break;
    case kFeedbackChange:
      OnKWSFeedbackChanged(FeedbackStateFrom(lParam));
      break;
    default:
      // Any program of the session can post this message: an unknown kind is noted, and
      // nothing else happens.
      ts.Msg("Unknown reply kind 0x%llX", static_cast<unsigned long long>(wParam));
      break;
  }
}

void CKwsFillIn::OnFillinReply(const VDTraceNS::CScope& ts, LPARAM actionType) {
  if (actionType == kNoMenu) {
    m_host.ResetActionToIdle();
    return;
  }
  if (actionType != kShowMenu) return;

  // A finger action with a Windows Biometric Framework reader: the reader belongs to the
  // system while the menu would be up, so neither the lock nor the dashboard is offered.
  const bool wbf = m_host.IsFingerActionRunning() && m_host.HasWBFReader();
  m_host.ResetActionToIdle();
  if (m_bLockAfterFillIn) {
    ts.Msg("Locking workstation...");
    m_bLockAfterFillIn = false;
    m_host.ClearPendingLock();
    if (wbf)
      ts.Msg("Not supported with WBF readers");
    else
      m_process.Platform().Ui().LockWorkStation();
    return;
  }

  ts.Msg("Launching mini/user console...");
  if (wbf) {
    ts.Msg("Not supported with WBF readers");
    return;
  }
  if (m_host.ModalMode()) {
    ts.Msg("Already in modal mode, skipped...");
    return;
  }
  m_host.SetModalMode(true);
  // Cleared however the dashboard ends: a failure must not leave quick actions skipped.
  struct Modal {
    IKwsHost& host;
    ~Modal() { host.SetModalMode(false); }
  } modal{m_host};
  auto& ui = m_process.Platform().Ui();
  if (HWND tray = ui.FindWindowW(core::kTaskbarClass, nullptr)) ui.SetForegroundWindow(tray);
  m_passwordManager.ShowMiniDashboard(m_dwFeedbackState == kActTrained);
}

void CKwsFillIn::OnKWSFeedbackChanged(DWORD state) {
  VDTraceNS::CScope ts("CKwsHandler<class CVdAgentMain>::OnKWSFeedbackChanged");
  const DWORD old = m_dwFeedbackState;
  if (state == old && state == kInactive) return;

  const DWORD led = LedFor(state);
  bool capture = false;
  if (state != old) {
    ts.Msg(L"FB transition: %ls --> %ls", FeedbackStateName(old), FeedbackStateName(state));
    ts.Msg(L"LED state: %ls", LedName(led));
    capture = state == kActTrained || (state != kInactive && !m_host.HasWBFReader());
  }

  if (capture) {
    // Restarted below, so that the reader waits for a finger again.
    if (m_host.HasAcquisition()) m_host.StopAcquisition();
  } else if (state != kActTrained && m_host.HasWBFReader()) {
    if (m_host.HasAcquisition()) m_host.StopAcquisition();
  }

  m_host.SetReaderLed(led);

  if (capture && !m_host.StartAcquisition()) {
    ts.Result("StartAcquisition", E_FAIL);
  }
  m_dwFeedbackState = state;
}
