#include "ext/password_manager.h"

#include <cstdint>

#include "support/result_error.h"
#include "support/trace/trace.h"

namespace {

// Pointers are traced as the 32-bit agent prints them.
unsigned Low32(const void* p) { return static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(p)); }

}  // namespace

CPasswordManager::CPasswordManager(core::CAgentProcess& process)
    : m_process(process) {}

CPasswordManager::~CPasswordManager() { m_pm.reset(); }

platform::ComPtr<IVDPasswordManager> CPasswordManager::PasswordManager() {
  VDTraceNS::CScope ts("PasswordManager");
  std::lock_guard lk(m_mu);
  if (!m_pm) {
    platform::ComPtr<IVDPasswordManager> created;
    // Any context: the object may live in this process or in the password manager's own.
    const HRESULT hr = m_process.Platform().Com().CoCreateInstance(
        CLSID_VDPasswordManager, nullptr, CLSCTX_ALL, IID_IVDPasswordManager, created.put_void());
    ts.Msg("Created pm=0x%X", Low32(created.get()));
    if (FAILED(hr)) throw CResultError(ts.Result("CoCreateInstance", hr));
    if (!created) throw CResultError(ts.Result("CoCreateInstance", E_FAIL));
    m_pm = std::move(created);
  }
  ts.Msg("pm OK");
  platform::ComPtr<IVDPasswordManager> ref;
  m_pm->AddRef();
  ref.reset(m_pm.get());
  return ref;
}

bool CPasswordManager::ShowMiniDashboard(bool trained) {
  VDTraceNS::CScope ts("ShowMiniDashboard");
  std::atomic<bool>& runningFlag = m_process.MiniDashboardRunning;
  if (runningFlag.exchange(true)) return true;
  // Cleared on every way out: a failed dashboard must not keep the next one from opening.
  struct Running {
    std::atomic<bool>& flag;
    ~Running() { flag = false; }
  } running{runningFlag};
  ts.Msg("running=%d", 1);
  auto pm = PasswordManager();
  ts.Msg("pmActions=0x%X", Low32(pm.get()));
  ThrowIfFailed(ts.Result("ShowMiniDashboard", pm->ShowMiniDashboard(trained ? 1 : 0)));
  return true;
}

HRESULT CPasswordManager::InitUserTrainingTool() {
  VDTraceNS::CScope ts("InitUserTrainingTool");
  try {
    auto pm = PasswordManager();
    return ThrowIfFailed(ts.Result("InitUserTrainingTool", pm->InitUserTrainingTool()));
  } catch (const CResultError& e) {
    return e.Result();
  } catch (...) {
    return ts.Result("InitUserTrainingTool", E_UNEXPECTED);
  }
}

bool CPasswordManager::IsPasswordManagerInstalled() {
  try {
    PasswordManager();
    return true;
  } catch (...) {
    return false;
  }
}
