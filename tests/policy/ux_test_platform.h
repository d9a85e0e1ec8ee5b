// Test doubles for the start-up environment and the prompts: the simulated machine's own
// platform (its shell's notification state and date parser included), with
//   - the date parser's locale and flags recorded;
//   - a dialog manager that plays the user: it runs the prompt's dialog procedure, shows it
//     WM_INITDIALOG, sets the do-not-ask-again box as the user wants and presses a button.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "platform/sim/process.h"
#include "policy/prompt_resources.h"
#include "tests/testing/forwarding_platform.h"

namespace uxtest {

// Records what the date parser was asked with; the simulated one parses.
class DateCom : public vdtest::ForwardingCom {
 public:
  using ForwardingCom::ForwardingCom;

  HRESULT VarDateFromStr(LPCOLESTR text, LCID lcid, ULONG flags, DATE* out) override {
    lastLcid = lcid;
    lastFlags = flags;
    return inner.VarDateFromStr(text, lcid, flags, out);
  }

  LCID lastLcid = 0;
  ULONG lastFlags = 0;
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
  explicit UxPlatform(sim::Process& p) : com(p.Com()), ui(p.Ui(), p.Kernel()), m_p(p) {}

  platform::IRegistry& Registry() override { return m_p.Registry(); }
  platform::IKernel& Kernel() override { return m_p.Kernel(); }
  platform::IUi& Ui() override { return ui; }
  platform::ISessions& Sessions() override { return m_p.Sessions(); }
  platform::ICom& Com() override { return com; }
  platform::IModules& Modules() override { return m_p.Modules(); }
  platform::IShell& Shell() override { return m_p.Shell(); }
  platform::ICrypt& Crypt() override { return m_p.Crypt(); }
  platform::IGdi& Gdi() override { return m_p.Gdi(); }

  DateCom com;
  DialogUi ui;

 private:
  sim::Process& m_p;
};

}  // namespace uxtest
