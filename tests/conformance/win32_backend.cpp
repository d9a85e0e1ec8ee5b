// The conformance tests' backend on Windows (and under Wine): the real Win32 platform,
// peers as further platform objects of this process, and real time with short bounded
// waits.
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/win32/win32_platform.h"
#include "tests/conformance/backend.h"

namespace conformance {
namespace {

class Win32Backend final : public Backend {
 public:
  platform::IPlatform& Plat() override { return m_platform; }
  std::unique_ptr<platform::IPlatform> PeerInSameSession() override {
    return std::make_unique<platform::win32::CWin32Platform>();
  }
  // A test program cannot open a second interactive session.
  std::unique_ptr<platform::IPlatform> PeerInOtherSession() override { return nullptr; }
  HINSTANCE Instance() override { return ::GetModuleHandleW(nullptr); }
  void Pass(DWORD ms) override {
    const ULONGLONG until = ::GetTickCount64() + ms;
    for (;;) {
      PumpOnce();
      const ULONGLONG now = ::GetTickCount64();
      if (now >= until) break;
      ::MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(until - now), QS_ALLINPUT);
    }
  }
  void PumpOnce() override {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
  }
  void SendKeys(const std::vector<int>& keys, bool down) override {
    std::vector<INPUT> inputs;
    for (int vk : keys) {
      INPUT in{};
      in.type = INPUT_KEYBOARD;
      in.ki.wVk = static_cast<WORD>(vk);
      in.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
      inputs.push_back(in);
    }
    ::SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
  }
  bool IsWine() override {
    HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
  }
  bool MayLockTheSession() override {
    const char* allow = std::getenv("VD_CONFORMANCE_LOCK");
    return !IsWine() && allow && std::string(allow) == "1";
  }
  std::wstring Unique(const std::wstring& base) override {
    return base + L"-" + std::to_wstring(::GetCurrentProcessId());
  }
  // The build puts the module beside the test program.
  HMODULE LoadAgentResources() override {
    wchar_t path[MAX_PATH] = {};
    const DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring s(path, n);
    s = s.substr(0, s.find_last_of(L'\\')) + L"\\VdAgentRes.dll";
    return ::LoadLibraryExW(s.c_str(), nullptr, 0);
  }
  void UserOnlyLooksAtDialogs(DWORD) override {}

 private:
  platform::win32::CWin32Platform m_platform;
};

}  // namespace

std::unique_ptr<Backend> MakeBackend() { return std::make_unique<Win32Backend>(); }

}  // namespace conformance
