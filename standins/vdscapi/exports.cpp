#include "standins/vdscapi/exports.h"

#include <new>

#include "standins/vdscapi/host.h"

using vdsc_standin::CardLibraryUnavailable;
using vdsc_standin::CCardHost;
using vdsc_standin::CurrentCardLibrary;

namespace {

template <typename Fn>
HRESULT Forward(Fn&& fn) noexcept {
  try {
    DWORD pid = 0;
    CCardHost* host = CurrentCardLibrary(pid);
    return host ? fn(*host, pid) : E_UNEXPECTED;
  } catch (const CardLibraryUnavailable& e) {
    return e.Code();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

}  // namespace

// The C names carry a prefix of their own, apart from anything else linked into a test.
extern "C" HRESULT WINAPI VdscStandin_VDSCInit(const VDSC_INIT* pInit) {
  return Forward([&](CCardHost& h, DWORD pid) { return h.Init(pid, pInit); });
}
extern "C" HRESULT WINAPI VdscStandin_VDSCTerm() {
  return Forward([&](CCardHost& h, DWORD pid) { return h.Term(pid); });
}
extern "C" HRESULT WINAPI VdscStandin_VDSCGetCardInfo(LPCWSTR pwszReader, BSTR* pbstrDescription,
                                                      VDSC_CARD_INFO* pInfo) {
  // The out string is null on every path, also when no library answers.
  if (pbstrDescription) *pbstrDescription = nullptr;
  return Forward([&](CCardHost& h, DWORD pid) {
    return h.GetCardInfo(pid, pwszReader, pbstrDescription, pInfo);
  });
}
extern "C" HRESULT WINAPI VdscStandin_VDSCTokenIdentify(LPCWSTR pwszReader, DWORD dwNameFormat,
                                                        BSTR* pbstrUserName) {
  if (pbstrUserName) *pbstrUserName = nullptr;
  return Forward([&](CCardHost& h, DWORD pid) {
    return h.TokenIdentify(pid, pwszReader, dwNameFormat, pbstrUserName);
  });
}
extern "C" HRESULT WINAPI VdscStandin_VDSCTokenAuthenticate(HVDFPAUTHENTICATION hAuthentication,
                                                            LPCWSTR pwszReader, DWORD dwFlags) {
  return Forward([&](CCardHost& h, DWORD pid) {
    return h.TokenAuthenticate(pid, hAuthentication, pwszReader, dwFlags);
  });
}

#define VDSC_UNUSED(name)                                                         \
  extern "C" HRESULT WINAPI VdscStandin_##name() {                                \
    return Forward([&](CCardHost& h, DWORD) { return h.NotImplemented(#name); }); \
  }
VDSC_UNUSED(VDSCGetEnrolledCards)
VDSC_UNUSED(VDSCSetTokenNickname)
VDSC_UNUSED(VDSCDeleteToken)
VDSC_UNUSED(VDSCSubscribe)
VDSC_UNUSED(VDSCSubscribeCallbacks)
VDSC_UNUSED(VDSCTokenEnroll)
VDSC_UNUSED(VDSCIsTokenEnrolled)
VDSC_UNUSED(VDSCTokenChangePin)
VDSC_UNUSED(VDSCEnumReaders)
VDSC_UNUSED(VDSCPutData)
VDSC_UNUSED(VDSCGetData)
VDSC_UNUSED(VDSCEncrypt)
VDSC_UNUSED(VDSCDecrypt)
VDSC_UNUSED(VDSCSign)
VDSC_UNUSED(VDSCVerifySignature)
VDSC_UNUSED(VDSCIsCardInitialized)
VDSC_UNUSED(VDSCInitializeCard)
VDSC_UNUSED(VDSCClearCard)
#undef VDSC_UNUSED

namespace vdsc_standin {

namespace {
template <typename F>
FARPROC Proc(F* f) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(f));
}
}  // namespace

#define VDSC_EXPORT(name) \
  { #name, Proc(&VdscStandin_##name) }

const ExportList& CardExports() {
  static const ExportList kList = {
      VDSC_EXPORT(VDSCGetEnrolledCards),
      VDSC_EXPORT(VDSCSetTokenNickname),
      VDSC_EXPORT(VDSCDeleteToken),
      VDSC_EXPORT(VDSCInit),
      VDSC_EXPORT(VDSCTerm),
      VDSC_EXPORT(VDSCSubscribe),
      VDSC_EXPORT(VDSCSubscribeCallbacks),
      VDSC_EXPORT(VDSCTokenAuthenticate),
      VDSC_EXPORT(VDSCTokenEnroll),
      VDSC_EXPORT(VDSCTokenIdentify),
      VDSC_EXPORT(VDSCIsTokenEnrolled),
      VDSC_EXPORT(VDSCTokenChangePin),
      VDSC_EXPORT(VDSCEnumReaders),
      VDSC_EXPORT(VDSCGetCardInfo),
      VDSC_EXPORT(VDSCPutData),
      VDSC_EXPORT(VDSCGetData),
      VDSC_EXPORT(VDSCEncrypt),
      VDSC_EXPORT(VDSCDecrypt),
      VDSC_EXPORT(VDSCSign),
      VDSC_EXPORT(VDSCVerifySignature),
      VDSC_EXPORT(VDSCIsCardInitialized),
      VDSC_EXPORT(VDSCInitializeCard),
      VDSC_EXPORT(VDSCClearCard),
  };
  return kList;
}

#undef VDSC_EXPORT

}  // namespace vdsc_standin
