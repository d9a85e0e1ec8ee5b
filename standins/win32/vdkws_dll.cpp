// VDKwsPlugin.dll: the password manager's fill-in component, standing in for machines (and
// Wine prefixes) without the suite. Commands are answered from "SuiteStandIns.json" beside
// the DLL (the suite stand-ins' description; absent: every command S_OK with result 0), and
// every call is one line of VDKws.log beside it ("init message 1424", "command 100 param
// 0x...", "released 0x...", "terminate").
//
// An authentication handle given with command 100 goes back to the VDFPApi.dll the process
// has loaded (VDFPDestroyAuthentication); without one it is only noted.
#include <windows.h>

#include <cstring>
#include <functional>
#include <memory>
#include <new>

#include "standins/suite/fill_in.h"
#include "standins/win32/beside_log.h"

namespace {

using suite_standin::CFillInComponent;

class CWin32FillInSite final : public suite_standin::IFillInSite {
 public:
  BOOL PostMessageW(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) override {
    return ::PostMessageW(hWnd, msg, wParam, lParam);
  }
  void RunLater(ULONGLONG delayMs, std::function<void()> fn) override {
    auto* job = new (std::nothrow) std::function<void()>(std::move(fn));
    HANDLE timer = nullptr;
    if (job && !::CreateTimerQueueTimer(&timer, nullptr, &Run, job, static_cast<DWORD>(delayMs), 0,
                                        WT_EXECUTEONLYONCE))
      delete job;
  }
  void Record(const std::wstring& text) override { standins::AppendBesideLog(L"VDKws.log", text); }
  HRESULT ReleaseAuthentication(ULONG_PTR handle) override {
    using PfnDestroy = HRESULT(WINAPI*)(void*);
    HMODULE vdfp = ::GetModuleHandleW(L"VDFPApi.dll");
    auto destroy = vdfp ? reinterpret_cast<PfnDestroy>(reinterpret_cast<void (*)()>(
                              ::GetProcAddress(vdfp, "VDFPDestroyAuthentication")))
                        : nullptr;
    const HRESULT hr = destroy ? destroy(reinterpret_cast<void*>(handle))
                               : HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
    wchar_t text[96];
    ::wsprintfW(text, L"released 0x%IX: 0x%08X", handle, static_cast<unsigned>(hr));
    Record(text);
    return hr;
  }

 private:
  static void CALLBACK Run(PVOID context, BOOLEAN) {
    std::unique_ptr<std::function<void()>> job(static_cast<std::function<void()>*>(context));
    try {
      (*job)();
    } catch (...) {
      // A pool thread must never see an exception; a reply lost here is the test's to see.
    }
  }
};

// The process's one component; a description that cannot be read leaves the defaults, and
// says so in the log.
std::shared_ptr<CFillInComponent> Component() {
  static const std::shared_ptr<CFillInComponent> component = [] {
    suite_standin::FillInDesc desc;
    const std::string text = standins::ReadBesideFile(L"SuiteStandIns.json");
    if (!text.empty()) {
      try {
        desc = suite_standin::SuiteDescription::FromJson(text).fillIn;
      } catch (const std::exception& e) {
        standins::AppendBesideLog(
            L"VDKws.log",
            L"bad SuiteStandIns.json: " + std::wstring(e.what(), e.what() + std::strlen(e.what())));
      }
    }
    return std::make_shared<CFillInComponent>(std::move(desc),
                                              std::make_shared<CWin32FillInSite>());
  }();
  return component;
}

template <typename Fn>
HRESULT Guard(Fn&& fn) noexcept {
  try {
    return fn();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

}  // namespace

extern "C" HRESULT WINAPI VdkwsStandin_VDKWSInit(HWND hWnd, UINT uReplyMessage) {
  return Guard([&] { return Component()->Init(hWnd, uReplyMessage); });
}

extern "C" HRESULT WINAPI VdkwsStandin_VDKWSCommand(DWORD dwCommand, ULONG_PTR dwParam,
                                                    DWORD* pdwResult) {
  return Guard([&] { return Component()->Command(dwCommand, dwParam, pdwResult); });
}

extern "C" void WINAPI VdkwsStandin_VDKWSTerminate() {
  Guard([] {
    Component()->Terminate();
    return S_OK;
  });
}
