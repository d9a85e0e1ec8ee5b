// The agent's binding of the suite's smart-card library "VDSCApi.dll" (system directory).
// Unlike the authentication library it is loaded as a whole: every entry point is resolved
// at Load, and a library missing any one of them is not used at all.
//
//   CVDSCApi cards(plat);
//   if (SUCCEEDED(cards.Load()) && SUCCEEDED(cards.VDSCInit(&init))) { ... }
//   cards.VDSCTerm();   // ends only an initialisation this binding made
//   cards.Unload();
//
// A call through an entry point that is not resolved (not loaded, or unloaded) answers
// 0x8000000E and calls nothing. Window thread only.
#pragma once

#include <array>

#include "platform/platform.h"
#include "support/vdfp/vdsc_api.h"

// The card in a reader as the card handler keeps it: the four fields after the version of
// the library's card information. Type and id together tell one card from another.
struct CCardRecord {
  DWORD cardType = 0;  // VDSC_CARD_*; 0: no card
  DWORD cardId = 0;
  DWORD field3 = 0;
  DWORD field4 = 0;

  bool SameCard(const CCardRecord& o) const { return cardType == o.cardType && cardId == o.cardId; }
  bool operator==(const CCardRecord&) const = default;
};

class CVDSCApi {
 public:
  static constexpr HRESULT kIllegalMethodCall = static_cast<HRESULT>(0x8000000EL);
  static constexpr HRESULT kProcNotFound = static_cast<HRESULT>(0x8007007FL);

  explicit CVDSCApi(platform::IPlatform& plat) : m_plat(plat) {}
  // Ends our own initialisation and unloads.
  ~CVDSCApi();
  CVDSCApi(const CVDSCApi&) = delete;
  CVDSCApi& operator=(const CVDSCApi&) = delete;

  // Loads the library and resolves every entry point, in the contract's order. S_FALSE when
  // loaded already; the HRESULT of the Windows error when the file cannot be loaded;
  // 0x8007007F (and nothing kept loaded) when any entry point is missing.
  HRESULT Load();
  // Clears every entry point and frees the module. Does not end the library's
  // initialisation: VDSCTerm first.
  void Unload();
  bool IsLoaded() const { return m_module != nullptr; }
  // The entry point at `index` of kVDSCApiExports is resolved.
  bool IsResolved(size_t index) const { return index < m_procs.size() && m_procs[index]; }
  // VDSCInit succeeded through this binding and VDSCTerm has not run since.
  bool IsInitialised() const { return m_initialised; }

  HRESULT VDSCInit(const VDSC_INIT* init);
  // Only after our own successful VDSCInit (inits nest per process: ending someone else's
  // would break it); S_FALSE otherwise, and nothing is called.
  HRESULT VDSCTerm();
  HRESULT VDSCGetCardInfo(LPCWSTR reader, BSTR* description, VDSC_CARD_INFO* info);
  HRESULT VDSCTokenIdentify(LPCWSTR reader, DWORD nameFormat, BSTR* userName);
  HRESULT VDSCTokenAuthenticate(HVDFPAUTHENTICATION authentication, LPCWSTR reader, DWORD flags);

  platform::IPlatform& Platform() const { return m_plat; }

 private:
  template <typename Pfn>
  Pfn Proc(const char* name) const;

  platform::IPlatform& m_plat;
  HMODULE m_module = nullptr;
  std::array<FARPROC, kVDSCApiExportCount> m_procs{};
  bool m_initialised = false;
};

// Owns an automation string a library call handed out and frees it (SysFreeString), also
// when the call failed.
class CBstrOut {
 public:
  explicit CBstrOut(platform::ICom& com) : m_com(com) {}
  ~CBstrOut() { reset(); }
  CBstrOut(const CBstrOut&) = delete;
  CBstrOut& operator=(const CBstrOut&) = delete;
  BSTR get() const { return m_s; }
  bool empty() const { return !m_s || !*m_s; }
  void reset() {
    if (m_s) m_com.SysFreeString(m_s);
    m_s = nullptr;
  }
  BSTR* put() {
    reset();
    return &m_s;
  }

 private:
  platform::ICom& m_com;
  BSTR m_s = nullptr;
};
