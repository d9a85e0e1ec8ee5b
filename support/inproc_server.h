// An in-process COM server reached the way Windows reaches it: the DLL named by the default
// value of HKCR\CLSID\{clsid}\InprocServer32 is loaded through IModules and its exported
// DllGetClassObject hands out the class factory. The DLL stays loaded while this object
// lives; release every object it created before it goes.
//
//   support::CInprocServer server(plat, CLSID_VDEventLog);
//   platform::ComPtr<IVDEventLog> writer;
//   if (auto r = server.CreateInstance(ts, IID_IVDEventLog, writer.put_void()); FAILED(r.hr))
//     ts.Result(r.step, r.hr);        // "InprocServer32", "LoadLibrary", ...
//
// Traces "Loading library <path>" into the caller's scope when it loads the DLL. Not
// thread-safe: one owner thread, or the owner's lock.
#pragma once

#include <string>

#include "platform/platform.h"
#include "support/trace/trace.h"

namespace support {

class CInprocServer {
 public:
  // Where a failure happened, for the caller's trace: "InprocServer32" (no usable path),
  // "LoadLibrary", "DllGetClassObject" or "CreateInstance".
  struct Result {
    HRESULT hr;
    const char* step;
  };

  CInprocServer(platform::IPlatform& plat, const GUID& clsid);
  ~CInprocServer();
  CInprocServer(const CInprocServer&) = delete;
  CInprocServer& operator=(const CInprocServer&) = delete;

  // Loads the DLL when it is not loaded yet. A DLL that was not there is looked for again at
  // the next call.
  Result Load(const VDTraceNS::CScope& ts);
  // Loads when needed and creates one object of the class, asking for `iid`. A success
  // without an object is reported as E_UNEXPECTED, never as success.
  Result CreateInstance(const VDTraceNS::CScope& ts, REFIID iid, void** ppv);

  bool IsLoaded() const { return m_hModule != nullptr; }

 private:
  platform::IPlatform& m_plat;
  GUID m_clsid;
  HMODULE m_hModule = nullptr;
};

// The default value of HKCR\<keyPath> as a server path: REG_SZ or REG_EXPAND_SZ (expanded),
// at most 260 characters, not empty.
HRESULT ReadInprocServerPath(platform::IPlatform& plat, const std::wstring& keyPath,
                             std::wstring& path);

}  // namespace support
