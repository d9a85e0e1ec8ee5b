#include "platform/sim/process_com.h"

#include <atomic>
#include <cstring>
#include <cwchar>

namespace sim {

ProcessCom::ProcessCom(Process& p) : m_process(p) {}

HRESULT ProcessCom::CoInitializeEx(LPVOID, DWORD dwCoInit) {
  const bool sta = (dwCoInit & COINIT_APARTMENTTHREADED) != 0;
  const DWORD tid = m_process.GetMachine().CurrentThreadId();
  std::lock_guard lk(m_mu);
  auto [it, added] = m_apartments.try_emplace(tid, Apartment{sta, 0});
  if (!added && it->second.count > 0 && it->second.singleThreaded != sta)
    return RPC_E_CHANGED_MODE;  // the thread keeps its apartment; nothing to balance
  if (it->second.count == 0) it->second.singleThreaded = sta;
  return it->second.count++ == 0 ? S_OK : S_FALSE;
}

void ProcessCom::CoUninitialize() {
  const DWORD tid = m_process.GetMachine().CurrentThreadId();
  std::lock_guard lk(m_mu);
  auto it = m_apartments.find(tid);
  if (it == m_apartments.end()) return;  // an unbalanced call does nothing
  if (--it->second.count <= 0) m_apartments.erase(it);
}

int ProcessCom::InitCount() const {
  const DWORD tid = m_process.GetMachine().CurrentThreadId();
  std::lock_guard lk(m_mu);
  auto it = m_apartments.find(tid);
  return it == m_apartments.end() ? 0 : it->second.count;
}

namespace {
std::atomic<long> g_liveStrings{0};
}  // namespace

// As OLEAUT32 lays them out: the byte length in front of the characters, NUL after them.
BSTR ProcessCom::SysAllocString(const OLECHAR* psz) {
  if (!psz) return nullptr;
  const size_t n = std::wcslen(psz);
  auto* block = new std::byte[sizeof(std::uint32_t) + (n + 1) * sizeof(OLECHAR)];
  const auto bytes = static_cast<std::uint32_t>(n * sizeof(OLECHAR));
  std::memcpy(block, &bytes, sizeof bytes);
  auto* text = reinterpret_cast<OLECHAR*>(block + sizeof(std::uint32_t));
  std::memcpy(text, psz, (n + 1) * sizeof(OLECHAR));
  ++g_liveStrings;
  return text;
}

void ProcessCom::SysFreeString(BSTR bstr) {
  if (!bstr) return;
  --g_liveStrings;
  delete[] (reinterpret_cast<std::byte*>(bstr) - sizeof(std::uint32_t));
}

UINT ProcessCom::SysStringLen(BSTR bstr) {
  if (!bstr) return 0;
  std::uint32_t bytes = 0;
  std::memcpy(&bytes, reinterpret_cast<std::byte*>(bstr) - sizeof(std::uint32_t), sizeof bytes);
  return bytes / sizeof(OLECHAR);
}

long ProcessCom::LiveStrings() { return g_liveStrings.load(); }

}  // namespace sim

// PLACEHOLDER: replaced by the class-object table and the date parser.
namespace sim {
HRESULT ProcessCom::VarDateFromStr(LPCOLESTR, LCID, ULONG, DATE*) { return E_NOTIMPL; }
HRESULT ProcessCom::CoRegisterClassObject(REFCLSID, IUnknown*, DWORD, DWORD, LPDWORD) {
  return E_NOTIMPL;
}
HRESULT ProcessCom::CoRevokeClassObject(DWORD) { return E_NOTIMPL; }
HRESULT ProcessCom::CoCreateInstance(REFCLSID, IUnknown*, DWORD, REFIID, LPVOID*) {
  return E_NOTIMPL;
}
}  // namespace sim
