#include "auth/vdfp_init.h"

#include "core/messages.h"
#include "support/trace/trace.h"

CVDFPInit::CVDFPInit(platform::IPlatform& plat, CVDFPApi& api) : m_plat(plat), m_api(api) {
  auto& k = m_plat.Kernel();
  m_hostEvent = k.CreateEventW(m_nullDacl.get(), TRUE, FALSE, kVDHostReadyEvent);
  if (!m_hostEvent) {
    VDTraceNS::CScope ts("CVDFPInit::CVDFPInit");
    ts.Msg("Could not create VDHost event!!!! Error is 0x%X",
           static_cast<unsigned>(HRESULT_FROM_WIN32(k.GetLastError())));
  }
}

CVDFPInit::~CVDFPInit() { Dispose(); }

HRESULT CVDFPInit::Start(HWND window) {
  m_window = window;
  auto& k = m_plat.Kernel();
  if (m_hostEvent && k.WaitForSingleObject(m_hostEvent, 0) == WAIT_TIMEOUT) {
    VDTraceNS::CScope ts("CVDFPInit::WaitForService");
    if (k.RegisterWaitForSingleObject(&m_wait, m_hostEvent, &CVDFPInit::WaitForService, this,
                                      INFINITE, WT_EXECUTEONLYONCE)) {
      return S_FALSE;
    }
    // Without the wait nobody would ever post ready: report the failure instead, so the
    // agent ends visibly rather than idling without a library.
    m_wait = nullptr;
    const HRESULT hr = HRESULT_FROM_WIN32(k.GetLastError());
    ts.Result("Cannot start wait thread...", hr < 0 ? hr : E_FAIL);
    m_result = hr < 0 ? hr : E_FAIL;
    m_plat.Ui().PostMessageW(m_window, core::WM_VD_READY, 1, static_cast<LPARAM>(m_result.load()));
    return m_result;
  }
  return InitialiseAndPostReady();
}

void CALLBACK CVDFPInit::WaitForService(PVOID context, BOOLEAN) {
  auto* self = static_cast<CVDFPInit*>(context);
  VDTraceNS::CScope ts("CVDFPInit::WaitForService");
  ts.Msg("Host is started!!!");
  self->InitialiseAndPostReady();
}

HRESULT CVDFPInit::InitialiseAndPostReady() {
  HRESULT hr;
  {
    std::lock_guard lk(m_lock);
    hr = m_api.VDFPInit();
    m_initialised = SUCCEEDED(hr);
    m_result = hr;
  }
  const bool failed = FAILED(hr);
  m_plat.Ui().PostMessageW(m_window, core::WM_VD_READY, failed ? 1 : 0,
                           failed ? static_cast<LPARAM>(hr) : 0);
  return hr;
}

void CVDFPInit::Dispose() {
  auto& k = m_plat.Kernel();
  if (m_wait) {
    // Waits for a callback that is running right now, so the library is not ended under it.
    k.UnregisterWaitEx(m_wait, INVALID_HANDLE_VALUE);
    m_wait = nullptr;
  }
  {
    std::lock_guard lk(m_lock);
    if (m_initialised) {
      m_api.VDFPTerm();
      m_initialised = false;
    }
  }
  if (m_hostEvent) {
    k.CloseHandle(m_hostEvent);
    m_hostEvent = nullptr;
  }
}
