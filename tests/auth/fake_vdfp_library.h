// A scripted VDFPApi.dll for the cases the stand-in cannot stage: it records the arguments
// of the calls it gets and answers as the test says, and counts its buffers. Installed in
// place of the stand-in on a simulated machine; one at a time (its state is static).
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/sim/machine.h"
#include "platform/sim/module_table.h"
#include "platform/sim/process.h"
#include "support/trace/trace.h"
#include "support/vdfp/vdfp_api.h"
#include "support/vdfp/vdfpapi_types.h"

namespace authtest {

class FakeVdfpLibrary {
 public:
  struct TranslateCall {
    std::wstring name;
    DWORD format;
    DWORD wanted;
  };
  // Answer of VDFPTranslateName: result and the translated name (nothing: null pointer).
  using TranslateFn = std::function<HRESULT(const TranslateCall&, std::wstring* out, bool* give)>;
  // Answer of VDFPTokenEnum: result, count and the GUIDs put in the array (nothing: null).
  using TokenEnumFn = std::function<HRESULT(DWORD* count, std::vector<GUID>* array, bool* give)>;

  explicit FakeVdfpLibrary(sim::Machine& m) : m_machine(m) {
    S() = State{};
    m.Modules().Install(kPath, {{"VDFPTranslateName", Proc(&TranslateName)},
                                {"VDFPTokenEnum", Proc(&TokenEnum)},
                                {"VDFPBufferFree", Proc(&BufferFree)}});
  }
  ~FakeVdfpLibrary() {
    m_machine.Modules().Uninstall(kPath);
    for (void* p : S().live) std::free(p);
    S() = State{};
  }
  FakeVdfpLibrary(const FakeVdfpLibrary&) = delete;
  FakeVdfpLibrary& operator=(const FakeVdfpLibrary&) = delete;

  void OnTranslate(TranslateFn fn) { S().translate = std::move(fn); }
  void OnTokenEnum(TokenEnumFn fn) { S().tokenEnum = std::move(fn); }
  const std::vector<TranslateCall>& TranslateCalls() const { return S().calls; }
  std::size_t OutstandingBuffers() const { return S().live.size(); }
  std::size_t InvalidFrees() const { return S().invalidFrees; }

 private:
  static constexpr const wchar_t* kPath = L"C:\\Windows\\system32\\VDFPApi.dll";
  struct State {
    TranslateFn translate;
    TokenEnumFn tokenEnum;
    std::vector<TranslateCall> calls;
    std::set<void*> live;
    std::size_t invalidFrees = 0;
  };
  static State& S() {
    static State s;
    return s;
  }
  template <typename F>
  static FARPROC Proc(F* f) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(f));
  }
  static void* Alloc(std::size_t cb) {
    void* p = std::calloc(cb ? cb : 1, 1);
    S().live.insert(p);
    return p;
  }
  static void WINAPI BufferFree(LPVOID p) {
    if (!p) return;
    if (S().live.erase(p) == 0) {
      ++S().invalidFrees;
      return;
    }
    std::free(p);
  }
  static HRESULT WINAPI TranslateName(LPCWSTR name, DWORD format, DWORD wanted, LPWSTR* out) {
    TranslateCall call{name ? name : L"", format, wanted};
    S().calls.push_back(call);
    *out = nullptr;
    std::wstring text;
    bool give = false;
    const HRESULT hr = S().translate ? S().translate(call, &text, &give) : E_NOTIMPL;
    if (give) {
      *out = static_cast<LPWSTR>(Alloc((text.size() + 1) * sizeof(WCHAR)));
      std::memcpy(*out, text.c_str(), (text.size() + 1) * sizeof(WCHAR));
    }
    return hr;
  }
  static HRESULT WINAPI TokenEnum(DWORD* count, GUID** tokens) {
    *count = 0;
    *tokens = nullptr;
    std::vector<GUID> array;
    bool give = false;
    const HRESULT hr = S().tokenEnum ? S().tokenEnum(count, &array, &give) : E_NOTIMPL;
    if (give) {
      *tokens = static_cast<GUID*>(Alloc(array.size() * sizeof(GUID)));
      if (!array.empty()) std::memcpy(*tokens, array.data(), array.size() * sizeof(GUID));
    }
    return hr;
  }

  sim::Machine& m_machine;
};

// A machine with the scripted library in place of the stand-in, and one agent process.
class ScriptedVdfpTest : public ::testing::Test {
 protected:
  void SetUp() override { VDTraceNS::Bind(nullptr); }
  sim::Machine m_machine;
  std::unique_ptr<sim::Process> m_agent = m_machine.CreateProcess({.sessionId = 1});
  sim::CurrentProcessScope m_scope{m_agent.get()};
  FakeVdfpLibrary m_fake{m_machine};
  CVDFPApi m_api{*m_agent};
};

}  // namespace authtest
