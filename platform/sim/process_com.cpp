#include "platform/sim/process_com.h"

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

}  // namespace sim
