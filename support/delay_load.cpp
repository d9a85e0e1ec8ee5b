#include "support/delay_load.h"

#include <vector>

#include "support/trace/trace.h"

namespace {
constexpr const char* kScope = "DelayLoadGuard";
}  // namespace

std::wstring CDelayLoadLibrary::SystemDirectoryPath(platform::IPlatform& plat,
                                                    const std::string& dllName) {
  std::vector<WCHAR> buf(MAX_PATH);
  UINT n = plat.Kernel().GetSystemDirectoryW(buf.data(), static_cast<UINT>(buf.size()));
  if (n >= buf.size()) {  // too small: n is the size needed, terminator included
    buf.resize(n + 1);
    n = plat.Kernel().GetSystemDirectoryW(buf.data(), static_cast<UINT>(buf.size()));
  }
  std::wstring path(buf.data(), n < buf.size() ? n : 0);
  path += L'\\';
  path.append(dllName.begin(), dllName.end());  // library names are ASCII
  return path;
}

CDelayLoadLibrary::CDelayLoadLibrary(platform::IPlatform& plat, std::string dllName, PathFn path)
    : m_plat(plat), m_dllName(std::move(dllName)), m_path(std::move(path)) {}

CDelayLoadLibrary::~CDelayLoadLibrary() {
  if (m_module) m_plat.Modules().FreeLibrary(m_module);
}

bool CDelayLoadLibrary::IsLoaded() const {
  std::lock_guard lk(m_mu);
  return m_module != nullptr;
}

FARPROC CDelayLoadLibrary::ResolveProc(const char* name, int index) {
  std::unique_lock lk(m_mu);
  if (auto it = m_procs.find(name); it != m_procs.end()) return it->second;
  auto& modules = m_plat.Modules();
  if (!m_module) {
    const std::wstring path =
        m_path ? m_path(m_plat, m_dllName) : std::wstring(m_dllName.begin(), m_dllName.end());
    m_module = modules.LoadLibraryExW(path.c_str(), nullptr, 0);
    if (!m_module) {
      lk.unlock();
      VDTraceNS::CScope ts(kScope);
      ts.Msg("Cannot load %s, 0x%X, %ls", m_dllName.c_str(), static_cast<unsigned>(kModuleNotFound),
             CurrentDirectory().c_str());
      throw CLoadFailure{kModuleNotFound};
    }
  }
  FARPROC proc = modules.GetProcAddress(m_module, name);
  if (!proc) {
    lk.unlock();
    VDTraceNS::CScope ts(kScope);
    ts.Msg("Cannot get %s[%d] function from %s, 0x%X, %ls", name, index, m_dllName.c_str(),
           static_cast<unsigned>(kProcNotFound), CurrentDirectory().c_str());
    throw CLoadFailure{kProcNotFound};
  }
  m_procs.emplace(name, proc);
  return proc;
}

std::wstring CDelayLoadLibrary::CurrentDirectory() {
  std::vector<WCHAR> buf(MAX_PATH);
  auto& k = m_plat.Kernel();
  DWORD n = k.GetCurrentDirectoryW(static_cast<DWORD>(buf.size()), buf.data());
  if (n >= buf.size()) {  // too small: n is the size needed
    buf.resize(n + 1);
    n = k.GetCurrentDirectoryW(static_cast<DWORD>(buf.size()), buf.data());
  }
  return std::wstring(buf.data(), n < buf.size() ? n : 0);
}

HRESULT CDelayLoadLibrary::TraceUnexpected() noexcept {
  try {
    VDTraceNS::CScope ts(kScope);
    ts.Result("Unexpected exception", E_UNEXPECTED);
  } catch (...) {
    // Tracing itself failed (out of memory): the code still tells the caller.
  }
  return E_UNEXPECTED;
}
