// ICom of one simulated process: the COM apartment of each calling thread.
#pragma once

#include <map>
#include <mutex>
#include <string>

#include "platform/com.h"
#include "platform/sim/process.h"

namespace sim {

class ProcessCom : public platform::ICom {
 public:
  explicit ProcessCom(Process& p);
  // The process's end revokes the class objects it left registered.
  ~ProcessCom() override;
  ProcessCom(const ProcessCom&) = delete;
  ProcessCom& operator=(const ProcessCom&) = delete;

  HRESULT CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit) override;
  void CoUninitialize() override;
  BSTR SysAllocString(const OLECHAR* psz) override;
  void SysFreeString(BSTR bstr) override;
  UINT SysStringLen(BSTR bstr) override;
  HRESULT VarDateFromStr(LPCOLESTR strIn, LCID lcid, ULONG dwFlags, DATE* pdateOut) override;
  HRESULT CoRegisterClassObject(REFCLSID rclsid, IUnknown* pUnk, DWORD dwClsContext, DWORD flags,
                                LPDWORD lpdwRegister) override;
  HRESULT CoRevokeClassObject(DWORD dwRegister) override;
  HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid,
                           LPVOID* ppv) override;
  // Strings allocated and not yet freed, machine-wide (a leak shows here).
  static long LiveStrings();

  // The calling thread's initialisation count in this process (0: not initialised).
  int InitCount() const;

  void CoTaskMemFree(LPVOID pv) override;
  // Task memory handed out (known folder paths) and not yet freed, machine-wide.
  static long LiveTaskAllocations();

 private:
  // The classes the system itself serves in-process (the shell's link object);
  // REGDB_E_CLASSNOTREG for any other.
  HRESULT CreateSystemObject(REFCLSID rclsid, IUnknown* pUnkOuter, REFIID riid, LPVOID* ppv);
  struct Apartment {
    bool singleThreaded;
    int count;  // successful CoInitializeEx calls not yet balanced
  };
  // The calling thread is in an apartment: its own, or the process's multithreaded one.
  bool InApartment() const;
  HRESULT InprocClassObject(REFCLSID rclsid, IUnknown** object);

  Process& m_process;
  mutable std::mutex m_mu;
  std::map<DWORD, Apartment> m_apartments;    // by thread id
  std::map<std::wstring, HMODULE> m_servers;  // in-process server DLLs loaded, by path
};

}  // namespace sim
