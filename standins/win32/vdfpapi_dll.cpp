// Binds the stand-in library to a real Windows process: VDFPApi.dll (and VDFPApiUI.dll) for
// machines, or Wine prefixes, where the suite is not installed.
//
// The machine description is a JSON file named by the REG_SZ "DescriptionFile" under
// HKLM\SOFTWARE\Veridane\StandIns\VDFPApi (or the environment variable
// VDFP_STANDIN_DESCRIPTION); without one the built-in default machine is used. The host
// counts as running while its readiness event "Global\{AA2FD877-...}" is signalled, which
// the stand-in host program (VDHostStandIn.exe) does.
#include <windows.h>

#include <memory>
#include <mutex>
#include <string>

#include "standins/vdfpapi/client.h"
#include "standins/vdfpapi/description.h"
#include "standins/vdfpapi/exports.h"
#include "standins/vdfpapi/host.h"

namespace vdfp_standin {

namespace {

constexpr const wchar_t* kReadyEvent = L"Global\\{AA2FD877-ED65-4499-9C86-D90FB5CC1F9D}";

std::string Narrow(const std::wstring& w) {
  if (w.empty()) return {};
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, w.c_str(), static_cast<int>(w.size()), nullptr, 0,
                                      nullptr, nullptr);
  std::string s(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, w.c_str(), static_cast<int>(w.size()), s.data(), n, nullptr,
                        nullptr);
  return s;
}

std::wstring DescriptionPath() {
  wchar_t buf[MAX_PATH] = {};
  DWORD size = sizeof(buf) - sizeof(wchar_t);
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Veridane\\StandIns\\VDFPApi",
                     L"DescriptionFile", RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ, nullptr, buf,
                     &size) == ERROR_SUCCESS &&
      buf[0])
    return buf;
  const DWORD n = ::GetEnvironmentVariableW(L"VDFP_STANDIN_DESCRIPTION", buf, MAX_PATH);
  return n > 0 && n < MAX_PATH ? std::wstring(buf, n) : std::wstring();
}

VdfpDescription LoadDescription() {
  const std::wstring path = DescriptionPath();
  if (path.empty()) return VdfpDescription::Default();
  try {
    return VdfpDescription::FromFile(Narrow(path));
  } catch (const std::exception& e) {
    // An administrator's mistake must be visible, not silently replaced by the default.
    ::OutputDebugStringA((std::string("VDFPApi stand-in: ") + e.what()).c_str());
    throw;
  }
}

class CWin32ClientSite final : public IClientSite {
 public:
  BOOL PostMessageW(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) override {
    return ::PostMessageW(hWnd, msg, wParam, lParam);
  }
};

// Delayed host work on the default timer queue; each job owns itself until it has run.
class CWin32HostSite final : public IHostSite {
 public:
  void HostStateChanged(bool) override {}  // the real host program owns the event
  void RunLater(ULONGLONG delayMs, std::function<void()> fn) override {
    auto* job = new std::function<void()>(std::move(fn));
    HANDLE timer = nullptr;
    if (!::CreateTimerQueueTimer(&timer, nullptr, &Run, job, static_cast<DWORD>(delayMs), 0,
                                 WT_EXECUTEONLYONCE)) {
      delete job;
    }
  }

 private:
  static void CALLBACK Run(PVOID context, BOOLEAN) {
    std::unique_ptr<std::function<void()>> job(static_cast<std::function<void()>*>(context));
    try {
      (*job)();
    } catch (...) {
      // A pool thread must never see an exception; the host's own state says what failed.
    }
  }
};

// The process's one library instance and the host model it talks to.
struct CProcessLibrary {
  CWin32HostSite hostSite;
  CHostService host;
  std::shared_ptr<CClientLibrary> client;
  CProcessLibrary()
      : host(LoadDescription(), hostSite),
        client(std::make_shared<CClientLibrary>(host, std::make_unique<CWin32ClientSite>(),
                                                ::GetCurrentProcessId())) {}
};

bool HostEventSignalled() {
  HANDLE e = ::OpenEventW(SYNCHRONIZE, FALSE, kReadyEvent);
  if (!e) return false;
  const bool set = ::WaitForSingleObject(e, 0) == WAIT_OBJECT_0;
  ::CloseHandle(e);
  return set;
}

}  // namespace

std::shared_ptr<CClientLibrary> CurrentClient() {
  static std::once_flag once;
  static CProcessLibrary* library = nullptr;  // lives until the process ends
  std::call_once(once, [] { library = new CProcessLibrary(); });
  // The host follows its readiness event, so a host program started late is seen.
  const bool running = HostEventSignalled();
  if (running && !library->host.IsRunning()) library->host.Start();
  if (!running && library->host.IsRunning()) library->host.Stop();
  return library->client;
}

}  // namespace vdfp_standin
