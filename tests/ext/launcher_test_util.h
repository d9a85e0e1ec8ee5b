// Shared parts of the launcher tests: DER written out by hand (so the expectations do not
// come from the code under test), a platform whose shell answers the "http" association,
// whose thread start can fail, and a fake "VdMiniOnlineIds.dll".
#pragma once

#include <initializer_list>
#include <mutex>
#include <string>
#include <vector>

#include "platform/sim/machine.h"
#include "platform/sim/module_table.h"
#include "platform/sim/process.h"
#include "support/suite_components.h"
#include "tests/testing/forwarding_platform.h"

namespace launcher_test {

using Bytes = std::vector<BYTE>;

// ---- DER by hand ----------------------------------------------------------------------------

inline Bytes Tlv(BYTE tag, const Bytes& content) {
  Bytes out{tag};
  const size_t n = content.size();
  if (n < 0x80) {
    out.push_back(static_cast<BYTE>(n));
  } else if (n < 0x100) {
    out.insert(out.end(), {0x81, static_cast<BYTE>(n)});
  } else {
    out.insert(out.end(), {0x82, static_cast<BYTE>(n >> 8), static_cast<BYTE>(n)});
  }
  out.insert(out.end(), content.begin(), content.end());
  return out;
}
inline Bytes Seq(std::initializer_list<Bytes> elements) {
  Bytes content;
  for (const auto& e : elements) content.insert(content.end(), e.begin(), e.end());
  return Tlv(0x30, content);
}
inline Bytes Key(BYTE k) { return k & 0x80 ? Bytes{0x02, 0x02, 0x00, k} : Bytes{0x02, 0x01, k}; }
inline Bytes Text(const std::wstring& s) {
  Bytes content;
  for (wchar_t c : s)
    content.insert(content.end(), {static_cast<BYTE>(c >> 8), static_cast<BYTE>(c)});
  return Tlv(0x1E, content);
}
// The type GUIDs in stored order (their text form's order).
inline const Bytes kAppType = Tlv(0x04, {0x4B, 0x9A, 0x99, 0x72, 0x9A, 0x2C, 0x4D, 0xD6, 0xA0, 0x9E,
                                         0x7F, 0xE9, 0x4B, 0x22, 0x88, 0x9A});
inline const Bytes kWebLinkType = Tlv(0x04, {0x67, 0xC0, 0xDF, 0x1D, 0x14, 0x4F, 0x47, 0x1F, 0xB2,
                                             0xC7, 0xCF, 0x10, 0xE3, 0xF5, 0xC6, 0x04});
inline const Bytes kPwdType = Tlv(0x04, {0x29, 0xED, 0x1B, 0x27, 0xDC, 0xFD, 0x40, 0xB5, 0xA8, 0x96,
                                         0xA6, 0x80, 0xE6, 0x2D, 0xC0, 0xFB});
inline Bytes AppRecord(const std::wstring& path) { return Seq({kAppType, Text(path)}); }
inline Bytes Entry(BYTE slot, const Bytes& record) { return Seq({Key(slot), record}); }

// ---- A platform with a few calls of its own --------------------------------------------------

class HttpShell : public vdtest::ForwardingShell {
 public:
  using ForwardingShell::ForwardingShell;
  std::wstring browser;  // empty: no program is registered
  std::vector<std::wstring> asked;
  HRESULT AssocQueryStringW(ASSOCF, ASSOCSTR str, LPCWSTR assoc, LPCWSTR verb, LPWSTR out,
                            DWORD* cch) override {
    std::lock_guard lk(mu);
    asked.push_back(std::wstring(assoc ? assoc : L"") + L"/" + (verb ? verb : L"") +
                    (str == ASSOCSTR_EXECUTABLE ? L"/exe" : L"/?"));
    if (browser.empty()) return HRESULT_FROM_WIN32(ERROR_NO_ASSOCIATION);
    if (*cch < browser.size() + 1) return E_POINTER;
    std::copy(browser.begin(), browser.end(), out);
    out[browser.size()] = L'\0';
    *cch = static_cast<DWORD>(browser.size() + 1);
    return S_OK;
  }
  std::mutex mu;
};

class ThreadKernel : public vdtest::ForwardingKernel {
 public:
  using ForwardingKernel::ForwardingKernel;
  bool failThreads = false;
  HANDLE CreateThread(LPSECURITY_ATTRIBUTES a0, SIZE_T a1, LPTHREAD_START_ROUTINE a2, LPVOID a3,
                      DWORD a4, LPDWORD a5) override {
    if (failThreads) {
      inner.SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
    return ForwardingKernel::CreateThread(a0, a1, a2, a3, a4, a5);
  }
};

class TestPlatform : public platform::IPlatform {
 public:
  explicit TestPlatform(sim::Process& p) : m_p(p), shell(p.Shell()), kernel(p.Kernel()) {}
  platform::IRegistry& Registry() override { return m_p.Registry(); }
  platform::IKernel& Kernel() override { return kernel; }
  platform::IUi& Ui() override { return m_p.Ui(); }
  platform::ISessions& Sessions() override { return m_p.Sessions(); }
  platform::ICom& Com() override { return m_p.Com(); }
  platform::IModules& Modules() override { return m_p.Modules(); }
  platform::IShell& Shell() override { return shell; }
  platform::ICrypt& Crypt() override { return m_p.Crypt(); }
  platform::IGdi& Gdi() override { return m_p.Gdi(); }

 private:
  sim::Process& m_p;

 public:
  HttpShell shell;
  ThreadKernel kernel;
};

// ---- A fake "VdMiniOnlineIds.dll" ------------------------------------------------------------

struct QuickLinks {
  std::mutex mu;
  std::vector<std::pair<std::wstring, LONG>> calls;
  // When set, each call waits for this event (a platform wait, so the machine sees the
  // worker as idle while it is held).
  sim::Process* process = nullptr;
  HANDLE gate = nullptr;
};
inline QuickLinks& Links() {
  static QuickLinks links;
  return links;
}
inline HRESULT WINAPI FakeLaunchQuickLink(BSTR entryId, LONG number) {
  QuickLinks& l = Links();
  {
    std::lock_guard lk(l.mu);
    l.calls.emplace_back(entryId ? entryId : L"", number);
  }
  if (l.gate) l.process->Kernel().WaitForSingleObject(l.gate, INFINITE);
  return S_OK;
}
inline constexpr wchar_t kQuickLinkPath[] = L"C:\\Windows\\system32\\VdMiniOnlineIds.dll";
inline void InstallQuickLinks(sim::Machine& m) {
  m.Modules().Install(
      kQuickLinkPath,
      {{kLaunchQuickLinkExport,
        reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&FakeLaunchQuickLink))}});
}

}  // namespace launcher_test
