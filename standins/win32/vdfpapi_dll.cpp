// Binds the stand-in library to a real Windows process: VDFPApi.dll (and VDFPApiUI.dll) for
// machines, or Wine prefixes, where the suite is not installed.
//
// The machine description is a JSON file named by the REG_SZ (or REG_EXPAND_SZ)
// "DescriptionFile" under HKLM\SOFTWARE\Veridane\StandIns\VDFPApi (or the environment
// variable VDFP_STANDIN_DESCRIPTION); without one the built-in default machine is used. A file
// named but not usable (missing, unreadable, larger than 4 MiB, malformed) is reported with
// OutputDebugString and fails every call, VDFPInit first, with one code: the system's error
// for a file that cannot be read, ERROR_FILE_TOO_LARGE, or ERROR_INVALID_DATA for a bad
// description.
//
// The host counts as running while its readiness event "Global\{AA2FD877-...}" is signalled,
// which the stand-in host program (VDHostStandIn.exe) does.
#include <windows.h>

#include <memory>
#include <new>
#include <string>
#include <utility>

#include "standins/vdfpapi/client.h"
#include "standins/vdfpapi/description.h"
#include "standins/vdfpapi/exports.h"
#include "standins/vdfpapi/host.h"
#include "standins/win32/description_file.h"

namespace vdfp_standin {

namespace {

using standin_win32::CDescriptionFailure;
using standin_win32::DescriptionPath;
using standin_win32::FailDescription;
using standin_win32::ReadDescriptionFile;

constexpr const wchar_t* kReadyEvent = L"Global\\{AA2FD877-ED65-4499-9C86-D90FB5CC1F9D}";
VdfpDescription LoadDescription() {
  const std::wstring path = DescriptionPath();
  if (path.empty()) return VdfpDescription::Default();
  const std::string text = ReadDescriptionFile(path);
  try {
    return VdfpDescription::FromJson(text);
  } catch (const DescriptionError& e) {
    // An administrator's mistake must be visible, not silently replaced by the default.
    FailDescription(HRESULT_FROM_WIN32(ERROR_INVALID_DATA), path + L": " + Utf8ToWide(e.what()));
  }
}

class CWin32ClientSite final : public IClientSite {
 public:
  BOOL PostMessageW(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) override {
    return ::PostMessageW(hWnd, msg, wParam, lParam);
  }
  // A real dialog's loop, without the dialog: the caller's windows go on receiving their
  // messages (a hotkey pressed meanwhile included) until the open time has passed.
  void RunModalLoop(std::optional<ULONGLONG> openMs) override {
    const ULONGLONG end = ::GetTickCount64() + openMs.value_or(kDefaultDialogOpenMs);
    for (;;) {
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

 private:
  static constexpr ULONGLONG kDefaultDialogOpenMs = 300;
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
  explicit CProcessLibrary(VdfpDescription description)
      : host(std::move(description), hostSite),
        client(std::make_shared<CClientLibrary>(host, std::make_unique<CWin32ClientSite>(),
                                                ::GetCurrentProcessId())) {
    // Reader events the host sends (a touch from VDHostStandIn.exe) reach this client.
    host.Attach(client);
  }
};

// The library, or why there is none. Building is tried once: a description that cannot be
// used fails every later call with the same code, and is reported once.
struct CBuild {
  CProcessLibrary* library = nullptr;  // lives until the process ends
  HRESULT failure = S_OK;
};

bool HostEventSignalled() {
  HANDLE e = ::OpenEventW(SYNCHRONIZE, FALSE, kReadyEvent);
  if (!e) return false;
  const bool set = ::WaitForSingleObject(e, 0) == WAIT_OBJECT_0;
  ::CloseHandle(e);
  return set;
}

// The host's reader, reachable from outside the process: a hidden window of class
// "VDFPStandInHost" on a thread of its own, to which VDHostStandIn.exe -touch USER sends the
// user's name (WM_COPYDATA, dwData kTouchFinger, UTF-16 without terminator). The finger
// events then reach this process's acquisitions as they would from the real host.
constexpr const wchar_t* kTouchWindowClass = L"VDFPStandInHost";
constexpr ULONG_PTR kTouchFinger = 1;

LRESULT CALLBACK TouchWindowProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_COPYDATA) {
    const auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    auto* library = reinterpret_cast<CProcessLibrary*>(::GetWindowLongPtrW(hWnd, GWLP_USERDATA));
    if (!library || !cds || cds->dwData != kTouchFinger || cds->cbData % sizeof(wchar_t))
      return FALSE;
    try {
      const std::wstring user(static_cast<const wchar_t*>(cds->lpData),
                              cds->cbData / sizeof(wchar_t));
      // The host follows its readiness event, as on every call.
      const bool running = HostEventSignalled();
      if (running && !library->host.IsRunning()) library->host.Start();
      if (!running && library->host.IsRunning()) library->host.Stop();
      return library->host.TouchFinger(user) != 0;
    } catch (...) {
      return FALSE;  // nothing may cross the window procedure
    }
  }
  return ::DefWindowProcW(hWnd, msg, wParam, lParam);
}

DWORD WINAPI TouchThread(LPVOID context) {
  HINSTANCE self = nullptr;
  ::GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&TouchWindowProc), &self);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = &TouchWindowProc;
  wc.hInstance = self;
  wc.lpszClassName = kTouchWindowClass;
  ::RegisterClassExW(&wc);  // a second copy of the library in the process finds it there
  // Top-level, never shown: message-only windows are not found by a plain FindWindowEx.
  HWND w = ::CreateWindowExW(0, kTouchWindowClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                             self, nullptr);
  if (!w) return 1;
  ::SetWindowLongPtrW(w, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(context));
  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) ::DispatchMessageW(&msg);
  return 0;
}

void StartTouchWindow(CProcessLibrary* library) {
  // The thread runs this module's code until the process ends: it holds a reference of its
  // own, so a FreeLibrary by the agent does not unload the code under it.
  HMODULE pinned = nullptr;
  if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(&TouchThread), &pinned))
    return;
  HANDLE t = ::CreateThread(nullptr, 0, &TouchThread, library, 0, nullptr);
  if (t) {
    ::CloseHandle(t);
  } else {
    ::FreeLibrary(pinned);
  }
}

CBuild Build() noexcept {
  try {
    auto* library = new CProcessLibrary(LoadDescription());
    StartTouchWindow(library);
    return {library, S_OK};
  } catch (const CDescriptionFailure& f) {
    // The library has no trace of its own: the debugger (or DebugView) shows why the machine
    // is not the one described, and the code reaches the agent's trace through VDFPInit.
    ::OutputDebugStringW((L"VDFPApi stand-in: " + f.what + L"\n").c_str());
    return {nullptr, f.hr};
  } catch (const std::bad_alloc&) {
    return {nullptr, E_OUTOFMEMORY};
  } catch (...) {
    return {nullptr, E_UNEXPECTED};
  }
}

}  // namespace

std::shared_ptr<CClientLibrary> CurrentClient() {
  // Not std::call_once: with mingw's posix thread model a callable that throws leaves the
  // flag taken, and every later call waits for good. Build never throws, and a function-local
  // static is built once, thread-safely.
  static const CBuild built = Build();
  if (!built.library) throw LibraryUnavailable(built.failure);
  CProcessLibrary* library = built.library;
  // The host follows its readiness event, so a host program started late is seen.
  const bool running = HostEventSignalled();
  if (running && !library->host.IsRunning()) library->host.Start();
  if (!running && library->host.IsRunning()) library->host.Stop();
  return library->client;
}

}  // namespace vdfp_standin
