// Guarded calls into the suite's delay-loaded libraries.
//
// A library is loaded by path on the first call that needs it, each entry point is resolved
// by name on its first call, and every call runs inside a guard: a missing library or entry
// point, or anything thrown inside, becomes a result code and a trace record, and the agent
// keeps running. A library that was missing is looked for again at the next call, so one
// installed later is picked up.
//
//   CDelayLoadLibrary lib(plat, "VDFPApi.dll", CDelayLoadLibrary::SystemDirectoryPath);
//   HRESULT hr = lib.Call<PFN_VDFPINIT>("VDFPInit", 0);           // 0x8007007E: no library
//   LPVOID p = nullptr;
//   hr = lib.Guard([&] { p = lib.Resolve<PFN_VDFPBUFFERALLOC>("VDFPBufferAlloc", 1)(16);
//                        return S_OK; });
//
// Trace texts (scope "DelayLoadGuard"): "Cannot load <dll>, 0x8007007E, <current dir>",
// "Cannot get <fn>[<index>] function from <dll>, 0x8007007F, <current dir>", and the result
// record "Unexpected exception" with 0x8000FFFF.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "platform/platform.h"

class CDelayLoadLibrary {
 public:
  // What the guard reports.
  static constexpr HRESULT kModuleNotFound = static_cast<HRESULT>(0x8007007EL);
  static constexpr HRESULT kProcNotFound = static_cast<HRESULT>(0x8007007FL);

  // Computes the full path of the library from its file name, at the first load.
  using PathFn = std::function<std::wstring(platform::IPlatform&, const std::string& dllName)>;
  // "<system directory>\<dll>".
  static std::wstring SystemDirectoryPath(platform::IPlatform& plat, const std::string& dllName);

  // `dllName` is the file name used in traces (ASCII); `path` gives the file to load.
  CDelayLoadLibrary(platform::IPlatform& plat, std::string dllName, PathFn path);
  ~CDelayLoadLibrary();
  CDelayLoadLibrary(const CDelayLoadLibrary&) = delete;
  CDelayLoadLibrary& operator=(const CDelayLoadLibrary&) = delete;

  const std::string& Name() const { return m_dllName; }
  bool IsLoaded() const;

  // Runs `body` (returning an HRESULT) inside the guard. Also for callers that resolve entry
  // points themselves: anything thrown becomes "Unexpected exception" and 0x8000FFFF.
  template <typename Body>
  static HRESULT Guard(Body&& body) noexcept {
    try {
      return std::forward<Body>(body)();
    } catch (const CLoadFailure& f) {
      return f.hr;  // traced where it was detected
    } catch (...) {
      return TraceUnexpected();
    }
  }

  // Inside a guard: the entry point `name` as a `Pfn`, loading the library first if needed.
  // `index` is the entry point's number in the caller's import table (traced on failure).
  template <typename Pfn>
  Pfn Resolve(const char* name, int index) {
    // Through void(*)(): the one function-pointer type every other converts to and back
    // from without a cast-function-type warning.
    return reinterpret_cast<Pfn>(reinterpret_cast<void (*)()>(ResolveProc(name, index)));
  }

  // The common case: a guarded call of an entry point that returns an HRESULT.
  template <typename Pfn, typename... Args>
  HRESULT Call(const char* name, int index, Args... args) noexcept {
    return Guard([&]() -> HRESULT { return Resolve<Pfn>(name, index)(args...); });
  }

 private:
  // Thrown inside the guard when the library or the entry point is missing.
  struct CLoadFailure {
    HRESULT hr;
  };

  FARPROC ResolveProc(const char* name, int index);
  std::wstring CurrentDirectory();
  static HRESULT TraceUnexpected() noexcept;

  platform::IPlatform& m_plat;
  const std::string m_dllName;
  const PathFn m_path;
  mutable std::mutex m_mu;  // the pool thread and the window thread both call in
  HMODULE m_module = nullptr;
  std::map<std::string, FARPROC, std::less<>> m_procs;
};
