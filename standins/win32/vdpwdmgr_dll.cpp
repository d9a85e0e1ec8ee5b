// VDPwdMgr.dll: the password manager's object as an in-process COM server, standing in for
// machines (and Wine prefixes) without the suite. Register it under
// HKLM\SOFTWARE\Classes\CLSID\{FA676DEB-D10A-4D84-925D-66B4C232D571}\InprocServer32 (Wine does
// not merge HKCU classes). Calls are lines of VDPwdMgr.log beside the DLL; the mini dashboard
// stays open for "passwordManager": {"dashboardOpenMs"} of "SuiteStandIns.json" beside it,
// running the caller's messages meanwhile.
#include <windows.h>

#include <cstring>
#include <functional>
#include <memory>
#include <new>

#include "standins/suite/password_manager.h"
#include "standins/win32/beside_log.h"

namespace {

class CWin32PasswordManagerSite final : public suite_standin::IPasswordManagerSite {
 public:
  void Record(const std::wstring& text) override {
    standins::AppendBesideLog(L"VDPwdMgr.log", text);
  }
  void StayOpen(ULONGLONG ms, const std::function<bool()>& closed) override {
    const ULONGLONG end = ::GetTickCount64() + ms;
    for (;;) {
      if (closed()) return;
      MSG msg;
      while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
          ::PostQuitMessage(static_cast<int>(msg.wParam));
          return;
        }
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
      }
      const ULONGLONG now = ::GetTickCount64();
      if (now >= end) return;
      ::MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
    }
  }
};

suite_standin::CPasswordManagerServer* Server() {
  // Lives until the process ends: objects handed out may outlive any unload we could see.
  static suite_standin::CPasswordManagerServer* server = [] {
    suite_standin::PasswordManagerDesc desc;
    const std::string text = standins::ReadBesideFile(L"SuiteStandIns.json");
    if (!text.empty()) {
      try {
        desc = suite_standin::SuiteDescription::FromJson(text).passwordManager;
      } catch (const std::exception& e) {
        standins::AppendBesideLog(
            L"VDPwdMgr.log",
            L"bad SuiteStandIns.json: " + std::wstring(e.what(), e.what() + std::strlen(e.what())));
      }
    }
    return new suite_standin::CPasswordManagerServer(desc,
                                                     std::make_shared<CWin32PasswordManagerSite>());
  }();
  return server;
}

}  // namespace

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  try {
    return Server()->GetClassObject(rclsid, riid, ppv);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

// The server keeps its state for the process's life: never unloaded under a live object.
extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return S_FALSE; }
