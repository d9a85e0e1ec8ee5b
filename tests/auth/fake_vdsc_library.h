// A scripted VDSCApi.dll for the card tests until the stand-in library is in: readers with
// the card in each (type, id, owner), answers set by the test, and a record of the calls.
// Installed in the simulated machine's module table; one at a time (its state is static).
// Strings are allocated with the calling simulated process's SysAllocString, so the agent's
// SysFreeString balances them (sim::ProcessCom::LiveStrings()).
//
//   FakeVdscLibrary lib(machine);
//   lib.Insert(L"Reader A", {VDSC_CARD_PROXIMITY, 7, 0, 0}, L"VDSIM-PC\\alice");
//   logic.OnCardMessage(VDSC_EVENT_CARD_INSERTED, FakeVdscLibrary::Name(L"Reader A"));
#pragma once

#include <map>
#include <string>
#include <vector>

#include "auth/card_library.h"
#include "platform/sim/machine.h"
#include "platform/sim/module_table.h"
#include "platform/sim/process.h"
#include "support/vdfp/vdsc_api.h"

namespace authtest {

class FakeVdscLibrary {
 public:
  static constexpr const wchar_t* kPath = L"C:\\Windows\\system32\\VDSCApi.dll";

  struct Card {
    CCardRecord record;
    std::wstring owner;  // SAM name; empty: nobody enrolled it
  };
  struct State {
    std::map<std::wstring, Card> cards;  // by reader
    HRESULT initResult = S_OK;
    HRESULT cardInfoResult = S_OK;  // S_OK: the card in the reader (or none)
    HRESULT authenticateResult = S_OK;
    bool describe = true;  // hand out a description string, also on failure
    int inits = 0;
    int terms = 0;
    VDSC_INIT lastInit{};
    DWORD lastInfoVersion = 0;
    std::vector<std::wstring> authenticated;  // readers
    std::vector<DWORD> identifyFormats;
  };

  // `missing`: entry points left out of the library.
  explicit FakeVdscLibrary(sim::Machine& m, std::vector<std::string> missing = {}) : m_machine(m) {
    S() = State{};
    sim::ModuleTable::Exports exports;
    for (const char* name : kVDSCApiExports) exports[name] = Proc(&Unused);
    exports["VDSCInit"] = Proc(&Init);
    exports["VDSCTerm"] = Proc(&Term);
    exports["VDSCGetCardInfo"] = Proc(&GetCardInfo);
    exports["VDSCTokenIdentify"] = Proc(&TokenIdentify);
    exports["VDSCTokenAuthenticate"] = Proc(&TokenAuthenticate);
    for (const auto& name : missing) exports.erase(name);
    m.Modules().Install(kPath, std::move(exports));
  }
  ~FakeVdscLibrary() {
    m_machine.Modules().Uninstall(kPath);
    S() = State{};
  }
  FakeVdscLibrary(const FakeVdscLibrary&) = delete;
  FakeVdscLibrary& operator=(const FakeVdscLibrary&) = delete;

  static State& S() {
    static State s;
    return s;
  }
  // The card the library reports in `reader` from now on.
  void Insert(const std::wstring& reader, CCardRecord record, std::wstring owner = {}) {
    S().cards[reader] = {record, std::move(owner)};
  }
  void Remove(const std::wstring& reader) { S().cards.erase(reader); }
  // lParam of an event about `reader` (the string must outlive the call).
  static LPARAM Name(const std::wstring& reader) {
    return reinterpret_cast<LPARAM>(reader.c_str());
  }

 private:
  template <typename F>
  static FARPROC Proc(F* f) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(f));
  }
  static BSTR Alloc(const std::wstring& s) {
    return sim::CurrentProcess()->Com().SysAllocString(s.c_str());
  }

  static HRESULT WINAPI Unused() { return E_NOTIMPL; }
  static HRESULT WINAPI Init(const VDSC_INIT* init) {
    ++S().inits;
    if (init) S().lastInit = *init;
    return S().initResult;
  }
  static HRESULT WINAPI Term() {
    ++S().terms;
    return S_OK;
  }
  static HRESULT WINAPI GetCardInfo(LPCWSTR reader, BSTR* description, VDSC_CARD_INFO* info) {
    if (!reader || !description || !info) return E_POINTER;
    S().lastInfoVersion = info->dwVersion;
    if (S().describe) *description = Alloc(L"card in " + std::wstring(reader));
    if (FAILED(S().cardInfoResult)) return S().cardInfoResult;
    auto it = S().cards.find(reader);
    if (it == S().cards.end()) return static_cast<HRESULT>(0x80100069L);  // SCARD_W_REMOVED_CARD
    info->dwCardType = it->second.record.cardType;
    info->dwCardId = it->second.record.cardId;
    info->dwField3 = it->second.record.field3;
    info->dwField4 = it->second.record.field4;
    return S_OK;
  }
  static HRESULT WINAPI TokenIdentify(LPCWSTR reader, DWORD format, BSTR* name) {
    if (!reader || !name) return E_POINTER;
    S().identifyFormats.push_back(format);
    auto it = S().cards.find(reader);
    if (it == S().cards.end() || it->second.owner.empty()) {
      *name = Alloc(L"");                        // an empty answer is given back all the same
      return static_cast<HRESULT>(0x80090020L);  // NTE_FAIL
    }
    *name = Alloc(it->second.owner);
    return S_OK;
  }
  static HRESULT WINAPI TokenAuthenticate(HVDFPAUTHENTICATION, LPCWSTR reader, DWORD) {
    S().authenticated.push_back(reader ? reader : L"");
    return S().authenticateResult;
  }

  sim::Machine& m_machine;
};

}  // namespace authtest
