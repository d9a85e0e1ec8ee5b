// Test doubles for the start-up environment and the prompts: the simulated machine's own
// registry, kernel and windows, with
//   - a date parser that knows "YYYY-MM-DD" only, recording the locale and flags it got;
//   - "Shell32.dll" with a scripted "SHQueryUserNotificationState" (or without either);
//   - a dialog manager that plays the user: it runs the prompt's dialog procedure, shows it
//     WM_INITDIALOG, sets the do-not-ask-again box as the user wants and presses a button.
#pragma once

#include <cwctype>
#include <map>
#include <optional>
#include <string>

#include "platform/sim/process.h"
#include "policy/ole_date.h"
#include "policy/prompt_resources.h"
#include "tests/testing/forwarding_platform.h"

namespace uxtest {

class DateCom : public vdtest::ForwardingCom {
 public:
  using ForwardingCom::ForwardingCom;

  HRESULT VarDateFromStr(LPCOLESTR text, LCID lcid, ULONG flags, DATE* out) override {
    lastLcid = lcid;
    lastFlags = flags;
    ++calls;
    const std::wstring s = text ? text : L"";
    if (s.size() != 10 || s[4] != L'-' || s[7] != L'-') return DISP_E_TYPEMISMATCH;
    for (std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9})
      if (!std::iswdigit(s[i])) return DISP_E_TYPEMISMATCH;
    const int y = std::stoi(s.substr(0, 4));
    const unsigned m = static_cast<unsigned>(std::stoi(s.substr(5, 2)));
    const unsigned d = static_cast<unsigned>(std::stoi(s.substr(8, 2)));
    if (m < 1 || m > 12 || d < 1 || d > 31) return DISP_E_TYPEMISMATCH;
    *out = oledate::FromCivil(y, m, d);
    return S_OK;
  }

  LCID lastLcid = 0;
  ULONG lastFlags = 0;
  int calls = 0;
};

// What the scripted SHQueryUserNotificationState answers (one test at a time).
struct QuietTimeScript {
  QUERY_USER_NOTIFICATION_STATE state = QUNS_ACCEPTS_NOTIFICATIONS;
  HRESULT result = S_OK;
  int calls = 0;
};
inline QuietTimeScript g_quietTime;

inline HRESULT STDAPICALLTYPE
ScriptedQueryUserNotificationState(QUERY_USER_NOTIFICATION_STATE* state) {
  ++g_quietTime.calls;
  if (FAILED(g_quietTime.result)) return g_quietTime.result;
  *state = g_quietTime.state;
  return S_OK;
}

class ShellModules : public platform::IModules {
 public:
  ShellModules(platform::IModules& to, platform::IKernel& kernel) : inner(to), m_kernel(kernel) {}

  HMODULE LoadLibraryExW(LPCWSTR a0, HANDLE a1, DWORD a2) override {
    return inner.LoadLibraryExW(a0, a1, a2);
  }
  FARPROC GetProcAddress(HMODULE module, LPCSTR name) override {
    if (module != Shell32()) return inner.GetProcAddress(module, name);
    if (hasExport && std::string(name) == "SHQueryUserNotificationState")
      return reinterpret_cast<FARPROC>(
          reinterpret_cast<void (*)()>(&ScriptedQueryUserNotificationState));
    m_kernel.SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  HMODULE GetModuleHandleW(LPCWSTR name) override {
    std::wstring lower = name ? name : L"";
    for (auto& c : lower) c = static_cast<wchar_t>(std::towlower(c));
    if (lower == L"shell32.dll") {
      if (shellLoaded) return Shell32();
      m_kernel.SetLastError(ERROR_MOD_NOT_FOUND);
      return nullptr;
    }
    return inner.GetModuleHandleW(name);
  }
  BOOL FreeLibrary(HMODULE a0) override { return inner.FreeLibrary(a0); }
  int LoadStringW(HINSTANCE a0, UINT a1, LPWSTR a2, int a3) override {
    return inner.LoadStringW(a0, a1, a2, a3);
  }

  static HMODULE Shell32() { return reinterpret_cast<HMODULE>(static_cast<ULONG_PTR>(0x5E110000)); }

  bool shellLoaded = true;
  bool hasExport = true;

 private:
  platform::IModules& inner;
  platform::IKernel& m_kernel;
};

// The dialog the user sees, as the prompt left it.
struct ShownDialog {
  int templateId = 0;
  HINSTANCE resources = nullptr;
  HWND owner = nullptr;
  bool ownerIsWindow = false;
  HWND ownerFound = nullptr;  // the window of class "VDInvisibleParent" while the dialog is up
  HWND foreground = nullptr;  // the foreground window when the dialog came up
  std::map<int, std::wstring> texts;
  std::optional<UINT> initialCheck;  // the box as WM_INITDIALOG left it
  bool initResult = false;
};

// How the user answers the next dialog.
struct UserAnswer {
  int button = IDOK;
  bool check = false;
  bool viaClose = false;  // closes the window (WM_CLOSE) instead of pressing the button
};

class DialogUi : public vdtest::ForwardingUi {
 public:
  DialogUi(platform::IUi& to, platform::IKernel& kernel) : ForwardingUi(to), m_kernel(kernel) {}

  // Without an answer the dialog cannot be shown (-1, as for a missing template).
  std::optional<UserAnswer> answer;
  std::optional<ShownDialog> shown;
  int shownCount = 0;

  INT_PTR DialogBoxParamW(HINSTANCE resources, LPCWSTR templ, HWND owner, DLGPROC proc,
                          LPARAM param) override {
    ++shownCount;
    if (!answer) {
      m_kernel.SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
      return -1;
    }
    ShownDialog d;
    d.templateId = static_cast<int>(reinterpret_cast<ULONG_PTR>(templ));
    d.resources = resources;
    d.owner = owner;
    d.ownerIsWindow = inner.IsWindow(owner) != FALSE;
    d.ownerFound = inner.FindWindowW(L"VDInvisibleParent", nullptr);
    d.foreground = inner.GetForegroundWindow();
    m_checks.clear();
    m_texts.clear();
    m_ended.reset();
    d.initResult = proc(kDialog, WM_INITDIALOG, 0, param) != FALSE;
    if (auto it = m_checks.find(IDC_DONT_ASK_AGAIN); it != m_checks.end())
      d.initialCheck = it->second;
    m_checks[IDC_DONT_ASK_AGAIN] = answer->check ? BST_CHECKED : BST_UNCHECKED;
    if (answer->viaClose)
      proc(kDialog, WM_CLOSE, 0, 0);
    else
      proc(kDialog, WM_COMMAND, static_cast<WPARAM>(answer->button), 0);
    proc(kDialog, WM_NCDESTROY, 0, 0);
    d.texts = m_texts;
    shown = d;
    return m_ended ? *m_ended : 0;
  }
  BOOL EndDialog(HWND dlg, INT_PTR result) override {
    if (dlg != kDialog) return FALSE;
    m_ended = result;
    return TRUE;
  }
  HWND GetDlgItem(HWND, int) override { return nullptr; }
  BOOL SetDlgItemTextW(HWND dlg, int id, LPCWSTR text) override {
    if (dlg != kDialog) return FALSE;
    m_texts[id] = text ? text : L"";
    return TRUE;
  }
  BOOL CheckDlgButton(HWND dlg, int id, UINT check) override {
    if (dlg != kDialog) return FALSE;
    m_checks[id] = check;
    return TRUE;
  }
  UINT IsDlgButtonChecked(HWND dlg, int id) override {
    auto it = m_checks.find(id);
    return dlg == kDialog && it != m_checks.end() ? it->second : BST_UNCHECKED;
  }

  static inline const HWND kDialog = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(0xD1A0));

 private:
  platform::IKernel& m_kernel;
  std::map<int, UINT> m_checks;
  std::map<int, std::wstring> m_texts;
  std::optional<INT_PTR> m_ended;
};

// The simulated process with the three doubles above in place of its own.
class UxPlatform : public platform::IPlatform {
 public:
  explicit UxPlatform(sim::Process& p)
      : com(p.Com()), modules(p.Modules(), p.Kernel()), ui(p.Ui(), p.Kernel()), m_p(p) {}

  platform::IRegistry& Registry() override { return m_p.Registry(); }
  platform::IKernel& Kernel() override { return m_p.Kernel(); }
  platform::IUi& Ui() override { return ui; }
  platform::ISessions& Sessions() override { return m_p.Sessions(); }
  platform::ICom& Com() override { return com; }
  platform::IModules& Modules() override { return modules; }
  platform::IShell& Shell() override { return m_p.Shell(); }
  platform::ICrypt& Crypt() override { return m_p.Crypt(); }
  platform::IGdi& Gdi() override { return m_p.Gdi(); }

  DateCom com;
  ShellModules modules;
  DialogUi ui;

 private:
  sim::Process& m_p;
};

}  // namespace uxtest
