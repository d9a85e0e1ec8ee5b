// Binds the stand-in card library to a real Windows process: VDSCApi.dll for machines, or Wine
// prefixes, where the suite is not installed.
//
// It reads the machine description VDFPApi.dll reads (description_file.h): the users and their
// enrollments, and the "cardReaders" and "cards". A file named but not usable is reported with
// OutputDebugString and fails every call with its code.
//
// Each process that loads the library has its own copy of the machine's readers. They are
// driven from outside by VDCardStandIn.exe, which sends every copy the request: a hidden
// top-level window of class "VDSCStandInHost", on a thread of the library's own, takes
// WM_COPYDATA with dwData the operation (kCardOperation*) and the UTF-16 text
// "<reader>\0<card>" (the card may be empty), and answers 1 when carried out, 0 when refused.
//
// VDSCTokenAuthenticate finds the user of the authentication operation through the
// VDFPApi.dll loaded in the process (VDFPGetAuthenticationInfo).
#include <windows.h>

#include <oleauto.h>

#include <memory>
#include <new>
#include <string>
#include <utility>

#include "standins/vdfpapi/host.h"
#include "standins/vdscapi/description.h"
#include "standins/vdscapi/exports.h"
#include "standins/vdscapi/host.h"
#include "standins/win32/card_driver.h"
#include "standins/win32/description_file.h"

namespace vdsc_standin {

namespace {

using standin_win32::CDescriptionFailure;

// The user lookups need no running host: no state to report and no work to delay.
class CQuietHostSite final : public vdfp_standin::IHostSite {
 public:
  void HostStateChanged(bool) override {}
  void RunLater(ULONGLONG, std::function<void()>) override {}
};

class CWin32CardSite final : public ICardSite {
 public:
  explicit CWin32CardSite(vdfp_standin::CHostService& users) : m_users(users) {}

  BOOL PostMessageW(DWORD, HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) override {
    return ::PostMessageW(hWnd, msg, wParam, lParam);
  }

  // On the default timer queue; each job owns itself until it has run.
  void RunLater(ULONGLONG delayMs, std::function<void()> fn) override {
    auto* job = new std::function<void()>(std::move(fn));
    HANDLE timer = nullptr;
    if (!::CreateTimerQueueTimer(&timer, nullptr, &Run, job, static_cast<DWORD>(delayMs), 0,
                                 WT_EXECUTEONLYONCE))
      delete job;
  }

  BSTR AllocString(const std::wstring& s) override { return ::SysAllocString(s.c_str()); }

  std::optional<std::size_t> AuthenticationUser(DWORD, HVDFPAUTHENTICATION h) override {
    HMODULE fp = ::GetModuleHandleW(L"VDFPApi.dll");
    if (!fp) return std::nullopt;  // no authentication library: no operation to prove
    using PfnInfo = HRESULT(WINAPI*)(HVDFPAUTHENTICATION, DWORD, LPVOID*);
    using PfnFree = void(WINAPI*)(LPVOID);
    auto info = reinterpret_cast<PfnInfo>(
        reinterpret_cast<void (*)()>(::GetProcAddress(fp, "VDFPGetAuthenticationInfo")));
    auto release = reinterpret_cast<PfnFree>(
        reinterpret_cast<void (*)()>(::GetProcAddress(fp, "VDFPBufferFree")));
    if (!info || !release) return std::nullopt;
    LPVOID block = nullptr;
    if (FAILED(info(h, VDFP_AUTHENTICATION_INFO_CLASS, &block)) || !block) return std::nullopt;
    const auto* a = static_cast<const VDFP_AUTHENTICATION_INFO_1*>(block);
    std::optional<std::size_t> user;
    if (a->pwszName) user = m_users.FindUser(a->pwszName, a->dwNameFormat);
    release(block);
    return user;
  }

 private:
  static void CALLBACK Run(PVOID context, BOOLEAN) {
    std::unique_ptr<std::function<void()>> job(static_cast<std::function<void()>*>(context));
    try {
      (*job)();
    } catch (...) {
      // A pool thread must never see an exception; the model's state says what happened.
    }
  }

  vdfp_standin::CHostService& m_users;
};

struct CProcessCardLibrary {
  CQuietHostSite hostSite;
  vdfp_standin::CHostService users;
  CWin32CardSite site{users};
  CCardHost cards;
  CProcessCardLibrary(vdfp_standin::VdfpDescription u, CardsDescription c)
      : users(std::move(u), hostSite), cards(std::move(c), users, site) {}
};

CProcessCardLibrary* LoadLibraryModel() {
  const std::wstring path = standin_win32::DescriptionPath();
  if (path.empty()) return new CProcessCardLibrary(vdfp_standin::VdfpDescription::Default(), {});
  const std::string text = standin_win32::ReadDescriptionFile(path);
  try {
    return new CProcessCardLibrary(vdfp_standin::VdfpDescription::FromJson(text),
                                   CardsDescription::FromJson(text));
  } catch (const vdfp_standin::DescriptionError& e) {
    standin_win32::FailDescription(HRESULT_FROM_WIN32(ERROR_INVALID_DATA),
                                   path + L": " + vdfp_standin::Utf8ToWide(e.what()));
  }
}

// ---- The driver's window ----

LRESULT CALLBACK DriverWindowProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg != WM_COPYDATA) return ::DefWindowProcW(hWnd, msg, wParam, lParam);
  const auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
  auto* library = reinterpret_cast<CProcessCardLibrary*>(::GetWindowLongPtrW(hWnd, GWLP_USERDATA));
  if (!library || !cds || cds->cbData % sizeof(wchar_t) || (cds->cbData && !cds->lpData))
    return FALSE;
  try {
    const std::wstring text(static_cast<const wchar_t*>(cds->lpData),
                            cds->cbData / sizeof(wchar_t));
    const std::size_t split = text.find(L'\0');
    const std::wstring reader = text.substr(0, split);
    const std::wstring card = split == std::wstring::npos ? L"" : text.substr(split + 1);
    CCardHost& cards = library->cards;
    switch (cds->dwData) {
      case standin_win32::kCardOperationInsert:
        cards.Insert(reader, card);
        break;
      case standin_win32::kCardOperationRemove:
        cards.Remove(reader);
        break;
      case standin_win32::kCardOperationTap:
        cards.Tap(reader, card);
        break;
      case standin_win32::kCardOperationPlug:
        cards.PlugReader(reader);
        break;
      case standin_win32::kCardOperationUnplug:
        cards.UnplugReader(reader);
        break;
      default:
        return FALSE;
    }
    return TRUE;
  } catch (const CardError& e) {
    ::OutputDebugStringA((std::string("VDSCApi stand-in: ") + e.what() + "\n").c_str());
    return FALSE;
  } catch (...) {
    return FALSE;  // nothing may cross the window procedure
  }
}

DWORD WINAPI DriverThread(LPVOID context) {
  HINSTANCE self = nullptr;
  ::GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&DriverWindowProc), &self);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = &DriverWindowProc;
  wc.hInstance = self;
  wc.lpszClassName = standin_win32::kCardDriverWindowClass;
  ::RegisterClassExW(&wc);
  // Top-level, never shown: message-only windows are not found by a plain FindWindowEx.
  HWND w = ::CreateWindowExW(0, standin_win32::kCardDriverWindowClass, L"", WS_POPUP, 0, 0, 0, 0,
                             nullptr, nullptr, self, nullptr);
  if (!w) return 1;
  ::SetWindowLongPtrW(w, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(context));
  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) ::DispatchMessageW(&msg);
  return 0;
}

void StartDriverWindow(CProcessCardLibrary* library) {
  // The thread runs this module's code until the process ends: it pins the module, so a
  // FreeLibrary by the agent does not unload the code under it.
  HMODULE pinned = nullptr;
  if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(&DriverThread), &pinned))
    return;
  HANDLE t = ::CreateThread(nullptr, 0, &DriverThread, library, 0, nullptr);
  if (t) {
    ::CloseHandle(t);
  } else {
    ::FreeLibrary(pinned);
  }
}

struct CBuild {
  CProcessCardLibrary* library = nullptr;  // lives until the process ends
  HRESULT failure = S_OK;
};

CBuild Build() noexcept {
  try {
    CProcessCardLibrary* library = LoadLibraryModel();
    StartDriverWindow(library);
    return {library, S_OK};
  } catch (const CDescriptionFailure& f) {
    ::OutputDebugStringW((L"VDSCApi stand-in: " + f.what + L"\n").c_str());
    return {nullptr, f.hr};
  } catch (const std::bad_alloc&) {
    return {nullptr, E_OUTOFMEMORY};
  } catch (...) {
    return {nullptr, E_UNEXPECTED};
  }
}

}  // namespace

CCardHost* CurrentCardLibrary(DWORD& processId) {
  // Built once, thread-safely, on the first call; Build never throws.
  static const CBuild built = Build();
  if (!built.library) throw CardLibraryUnavailable(built.failure);
  processId = ::GetCurrentProcessId();
  return &built.library->cards;
}

}  // namespace vdsc_standin
