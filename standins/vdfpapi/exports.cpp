#include "standins/vdfpapi/exports.h"

#include "standins/vdfpapi/client.h"

using vdfp_standin::CClientLibrary;
using vdfp_standin::CurrentClient;
using vdfp_standin::LibraryUnavailable;

namespace {

// Runs one entry point against the caller's instance; never lets an exception out.
template <typename Fn>
HRESULT Forward(Fn&& fn) noexcept {
  try {
    std::shared_ptr<CClientLibrary> c = CurrentClient();
    return c ? fn(*c) : E_UNEXPECTED;
  } catch (const LibraryUnavailable& e) {
    return e.Code();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

}  // namespace

// Exported as "VDFP<name>"; the prefix keeps the C names of this stand-in apart from anything
// else linked into the same test program.
#define VDFP_ENTRY(name, params, args)                              \
  extern "C" HRESULT WINAPI VdfpStandin_VDFP##name params {         \
    return Forward([&](CClientLibrary& c) { return c.name args; }); \
  }

VDFP_ENTRY(Init, (void), ())
VDFP_ENTRY(Term, (void), ())
VDFP_ENTRY(CreateAcquisition,
           (DWORD a, const GUID* b, DWORD c_, HWND d, UINT e, HVDFPACQUISITION* f),
           (a, b, c_, d, e, f))
VDFP_ENTRY(StartAcquisition, (HVDFPACQUISITION h), (h))
VDFP_ENTRY(StopAcquisition, (HVDFPACQUISITION h), (h))
VDFP_ENTRY(DestroyAcquisition, (HVDFPACQUISITION h), (h))
VDFP_ENTRY(SetDeviceLED, (HVDFPACQUISITION h, DWORD s), (h, s))
VDFP_ENTRY(Identify, (VDFP_CAPTURE a, LPWSTR* b, DWORD* c_), (a, b, c_))
VDFP_ENTRY(IdentifyUser, (VDFP_CAPTURE a, LPCWSTR b, DWORD c_), (a, b, c_))
VDFP_ENTRY(GetAuthenticationInfo, (HVDFPAUTHENTICATION a, DWORD b, LPVOID* c_), (a, b, c_))
VDFP_ENTRY(CreateAuthentication, (LPCWSTR a, DWORD b, HVDFPAUTHENTICATION* c_), (a, b, c_))
VDFP_ENTRY(DestroyAuthentication, (HVDFPAUTHENTICATION h), (h))
VDFP_ENTRY(TokenAuthenticate,
           (const GUID* a, HVDFPAUTHENTICATION b, DWORD c_, const BYTE* d, DWORD* e, BYTE** f),
           (a, b, c_, d, e, f))
VDFP_ENTRY(TokenEnum, (DWORD * a, GUID** b), (a, b))
VDFP_ENTRY(TokenGetInfo, (const GUID* a, DWORD b, LPVOID* c_), (a, b, c_))
VDFP_ENTRY(TokenIsEnrolled, (const GUID* a, LPCWSTR b, DWORD c_), (a, b, c_))
VDFP_ENTRY(TokenIsEnrolledAsync,
           (const GUID* a, HWND b, UINT c_, LPCWSTR d, DWORD e, HVDFPASYNCCALL* f),
           (a, b, c_, d, e, f))
VDFP_ENTRY(AsyncDestroyCall, (HVDFPASYNCCALL h), (h))
VDFP_ENTRY(TranslateName, (LPCWSTR a, DWORD b, DWORD c_, LPWSTR* d), (a, b, c_, d))
VDFP_ENTRY(EnumerateDevices, (DWORD * a, VDFP_DEVICE_INFO** b), (a, b))
VDFP_ENTRY(GetDeviceInfo, (const GUID* a, DWORD b, LPCWSTR c_, DWORD d, LPVOID* e),
           (a, b, c_, d, e))
VDFP_ENTRY(AuthDomainEnum, (DWORD * a, LPWSTR** b), (a, b))
VDFP_ENTRY(AuthDomainGetInfo, (LPCWSTR a, DWORD b, LPVOID* c_), (a, b, c_))
VDFP_ENTRY(GetPolicySettingsEx, (DWORD a, VDFP_POLICY_ITEM* b), (a, b))
VDFP_ENTRY(GetUserInfo, (LPCWSTR a, DWORD b, DWORD c_, LPVOID* d), (a, b, c_, d))
VDFP_ENTRY(ReadProtectedData, (LPCWSTR a, const VDFP_DATA_BLOB* b, DWORD c_, VDFP_DATA_BLOB* d),
           (a, b, c_, d))
VDFP_ENTRY(WriteProtectedData,
           (LPCWSTR a, const VDFP_DATA_BLOB* b, DWORD c_, const VDFP_DATA_BLOB* d), (a, b, c_, d))
VDFP_ENTRY(IdentifyUserUI2,
           (HWND a, DWORD b, DWORD c_, LPCWSTR d, LPCWSTR e, LPWSTR* f, HVDFPAUTHENTICATION* g),
           (a, b, c_, d, e, f, g))
VDFP_ENTRY(VerifyUserUI, (HWND a, DWORD b, DWORD c_, HVDFPAUTHENTICATION d), (a, b, c_, d))

#undef VDFP_ENTRY

extern "C" LPVOID WINAPI VdfpStandin_VDFPBufferAlloc(SIZE_T cb) {
  LPVOID p = nullptr;
  Forward([&](CClientLibrary& c) {
    p = c.BufferAlloc(cb);
    return S_OK;
  });
  return p;
}

extern "C" void WINAPI VdfpStandin_VDFPBufferFree(LPVOID pv) {
  try {
    // Any thread may give a block back, with or without a process to account it to.
    std::shared_ptr<CClientLibrary> c;
    try {
      c = CurrentClient();
    } catch (const LibraryUnavailable&) {
      // No library, so no block of its own: anything else is the tracker's to judge.
    }
    if (c) {
      c->BufferFree(pv);
    } else {
      vdfp_standin::CBufferTracker::Free(pv);
    }
  } catch (...) {
    // VDFPBufferFree returns nothing: a failure to free cannot be reported to the caller.
  }
}

namespace vdfp_standin {

namespace {
template <typename F>
FARPROC Proc(F* f) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(f));
}
}  // namespace

#define VDFP_EXPORT(name) \
  { "VDFP" #name, Proc(&VdfpStandin_VDFP##name) }

const ExportList& ApiExports() {
  static const ExportList kList = {
      VDFP_EXPORT(Init),
      VDFP_EXPORT(Term),
      VDFP_EXPORT(BufferAlloc),
      VDFP_EXPORT(BufferFree),
      VDFP_EXPORT(CreateAcquisition),
      VDFP_EXPORT(StartAcquisition),
      VDFP_EXPORT(StopAcquisition),
      VDFP_EXPORT(DestroyAcquisition),
      VDFP_EXPORT(SetDeviceLED),
      VDFP_EXPORT(Identify),
      VDFP_EXPORT(IdentifyUser),
      VDFP_EXPORT(GetAuthenticationInfo),
      VDFP_EXPORT(CreateAuthentication),
      VDFP_EXPORT(DestroyAuthentication),
      VDFP_EXPORT(TokenAuthenticate),
      VDFP_EXPORT(TokenEnum),
      VDFP_EXPORT(TokenGetInfo),
      VDFP_EXPORT(TokenIsEnrolled),
      VDFP_EXPORT(TokenIsEnrolledAsync),
      VDFP_EXPORT(AsyncDestroyCall),
      VDFP_EXPORT(TranslateName),
      VDFP_EXPORT(EnumerateDevices),
      VDFP_EXPORT(GetDeviceInfo),
      VDFP_EXPORT(AuthDomainEnum),
      VDFP_EXPORT(AuthDomainGetInfo),
      VDFP_EXPORT(GetPolicySettingsEx),
      VDFP_EXPORT(GetUserInfo),
      VDFP_EXPORT(ReadProtectedData),
      VDFP_EXPORT(WriteProtectedData),
  };
  return kList;
}

const ExportList& DialogExports() {
  static const ExportList kList = {
      VDFP_EXPORT(IdentifyUserUI2),
      VDFP_EXPORT(VerifyUserUI),
  };
  return kList;
}

#undef VDFP_EXPORT

}  // namespace vdfp_standin
