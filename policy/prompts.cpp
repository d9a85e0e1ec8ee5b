#include "policy/prompts.h"

#include <iterator>
#include <map>
#include <string>

#include "policy/prompt_resources.h"
#include "support/branding_strings.h"
#include "support/editions/editions.h"
#include "support/registry_read.h"
#include "support/result_error.h"
#include "support/settings/settings_names.h"
#include "support/settings/settings_section.h"
#include "support/trace/trace.h"

namespace {

constexpr const wchar_t* kOwnerClass = L"VDInvisibleParent";
constexpr const wchar_t* kTaskbarClass = L"Shell_TrayWnd";
constexpr const wchar_t* kTrainingVideoKey =
    L"SOFTWARE\\Veridane\\Applications\\RegWiz\\TrainingVideo";
constexpr const wchar_t* kTrainingVideoValue = L"DevModalitySwipe";
constexpr DWORD kLongestPath = 32767;

// What tells one prompt from another.
struct PromptKind {
  const char* modalScope;
  const char* closeScope;
  int templateId;
  UINT textId;
  UINT homeTextId;  // the "Classic Home" wording; 0: one wording for every edition
  bool playsTrainingVideo;
  // Whether the do-not-ask-again box starts checked (null: it starts unchecked).
  bool (*initiallyChecked)(platform::IPlatform& plat);
  // Remembers the user's "do not ask again".
  void (*remember)(platform::IPlatform& plat, const VDTraceNS::CScope& ts);
};

const PromptKind kAskAtStart{
    "CAskUserToRegisterAtStartDlg::DoModal",
    "CAskUserToRegisterAtStartDlg::OnCloseCmd",
    IDD_ASK_REGISTER_AT_START,
    IDS_PROMPT_REGISTER_AT_START,
    IDS_PROMPT_REGISTER_AT_START_HOME,
    true,
    nullptr,
    [](platform::IPlatform& plat, const VDTraceNS::CScope& ts) {
      ts.Msg("Setting ShowAdminWizard...");
      CAgentSettings(plat).Set(SettingNames::Agent::kShowUserWizard, false);
    },
};

const PromptKind kAskFingerprint{
    "CAskUserToRegisterDlg::DoModal",
    "CAskUserToRegisterDlg::OnCloseCmd",
    IDD_ASK_REGISTER,
    IDS_PROMPT_REGISTER,
    IDS_PROMPT_REGISTER_HOME,
    false,
    nullptr,
    [](platform::IPlatform& plat, const VDTraceNS::CScope& ts) {
      ts.Msg("Setting DoNotBotherAgain...");
      CAgentSettings(plat).Set(SettingNames::Agent::kUserFPDoNotBotherAgain, true);
    },
};

const PromptKind kReenrollment{
    "CReenrollmentPromptDlg::DoModal",
    "CReenrollmentPromptDlg::OnCloseCmd",
    IDD_REENROLLMENT_PROMPT,
    IDS_PROMPT_REENROLLMENT,
    0,
    false,
    [](platform::IPlatform& plat) {
      return CAgentSettings(plat).GetReenrollmentPromptDoNotBotherAgain();
    },
    [](platform::IPlatform& plat, const VDTraceNS::CScope& ts) {
      ts.Msg("Setting ReenrollmentPromptDoNotBotherAgain...");
      CAgentSettings(plat).Set(SettingNames::Agent::kReenrollmentPromptDoNotBotherAgain, true);
    },
};

// One showing of a prompt, reached by its dialog procedure.
struct PromptRun {
  const PromptKind& kind;
  platform::IPlatform& plat;
  std::wstring text;
  bool initiallyChecked = false;
};

// Dialogs of this thread that are up, by window. A prompt can come up inside another one's
// modal loop (a sent message runs a handler), so there may be more than one.
thread_local std::map<HWND, PromptRun*> t_prompts;

HRESULT LastErrorResult(platform::IPlatform& plat) {
  const DWORD err = plat.Kernel().GetLastError();
  return err ? HRESULT_FROM_WIN32(err) : E_FAIL;
}

void OnClose(HWND dlg, PromptRun& run, INT_PTR button) {
  VDTraceNS::CScope ts(run.kind.closeScope);
  platform::IUi& ui = run.plat.Ui();
  // The choice is stored before the dialog ends, so whoever acts on the button sees it.
  try {
    if (ui.IsDlgButtonChecked(dlg, IDC_DONT_ASK_AGAIN) == BST_CHECKED)
      run.kind.remember(run.plat, ts);
  } catch (const CResultError& e) {
    ts.Result("Cannot store the choice", e.Result());
  } catch (...) {
    ts.Result("Cannot store the choice", E_UNEXPECTED);
  }
  ui.EndDialog(dlg, button);
}

INT_PTR CALLBACK PromptProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_INITDIALOG) {
    auto* run = reinterpret_cast<PromptRun*>(lParam);
    if (!run) return FALSE;
    t_prompts[dlg] = run;
    platform::IUi& ui = run->plat.Ui();
    if (!run->text.empty()) ui.SetDlgItemTextW(dlg, IDC_PROMPT_TEXT, run->text.c_str());
    ui.CheckDlgButton(dlg, IDC_DONT_ASK_AGAIN, run->initiallyChecked ? BST_CHECKED : BST_UNCHECKED);
    return TRUE;
  }
  const auto it = t_prompts.find(dlg);
  if (it == t_prompts.end()) return FALSE;
  PromptRun& run = *it->second;
  switch (msg) {
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      if (id != IDOK && id != IDCANCEL) return FALSE;
      OnClose(dlg, run, id);
      return TRUE;
    }
    case WM_CLOSE:
      OnClose(dlg, run, IDCANCEL);
      return TRUE;
    case WM_NCDESTROY:
      t_prompts.erase(it);
      return FALSE;
    default:
      return FALSE;
  }
}

// The hidden top-level window that owns a prompt: its class is registered for it and
// unregistered with it, however the prompt ends.
class CInvisibleParent {
 public:
  CInvisibleParent(platform::IPlatform& plat, HINSTANCE instance, const VDTraceNS::CScope& ts)
      : m_ui(plat.Ui()), m_instance(instance) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = m_ui.DefWindowProcAddress();
    wc.hInstance = instance;
    wc.lpszClassName = kOwnerClass;
    if (m_ui.RegisterClassExW(&wc)) {
      m_registered = true;
    } else if (plat.Kernel().GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
      ts.Result("RegisterClassEx", LastErrorResult(plat));
      return;
    }
    // Already registered: a prompt further out on this thread owns the class and
    // unregisters it; this one borrows it.
    m_hwnd = m_ui.CreateWindowExW(WS_EX_TOOLWINDOW, kOwnerClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                                  nullptr, instance, nullptr);
    if (!m_hwnd) ts.Result("CreateWindowEx", LastErrorResult(plat));
  }
  ~CInvisibleParent() {
    if (m_hwnd) m_ui.DestroyWindow(m_hwnd);
    if (m_registered) m_ui.UnregisterClassW(kOwnerClass, m_instance);
  }
  CInvisibleParent(const CInvisibleParent&) = delete;
  CInvisibleParent& operator=(const CInvisibleParent&) = delete;

  HWND get() const { return m_hwnd; }

 private:
  platform::IUi& m_ui;
  HINSTANCE m_instance;
  bool m_registered = false;
  HWND m_hwnd = nullptr;
};

INT_PTR ShowPrompt(const PromptKind& kind, core::CAgentProcess& process, HINSTANCE resources) {
  VDTraceNS::CScope ts(kind.modalScope);
  platform::IPlatform& plat = process.Platform();
  platform::IUi& ui = plat.Ui();

  PromptRun run{kind, plat, {}, false};
  UINT textId = kind.textId;
  if (kind.homeTextId && EDITIONS::IsInstalledProduct(process.Editions(), EDITIONS::kClassicHome))
    textId = kind.homeTextId;
  run.text = support::LoadModuleString(plat.Modules(), resources, textId);
  if (run.text.empty()) ts.Msg("No text %u in the resource module", textId);

  if (kind.playsTrainingVideo) {
    // Written by a 32-bit installer; a missing or unreadable value leaves the video out.
    const auto video = support::ReadString(plat.Registry(), HKEY_LOCAL_MACHINE, kTrainingVideoKey,
                                           kTrainingVideoValue, KEY_WOW64_32KEY, kLongestPath);
    if (video)
      ts.Msg("Training video: %ls", video->c_str());
    else
      ts.Msg("No training video");
  }

  if (kind.initiallyChecked) {
    try {
      run.initiallyChecked = kind.initiallyChecked(plat);
    } catch (const CResultError& e) {
      ts.Result("Cannot read the choice", e.Result());
    }
  }

  // The prompt comes up in front of the user's work only when the shell has the focus.
  if (HWND taskbar = ui.FindWindowW(kTaskbarClass, nullptr)) ui.SetForegroundWindow(taskbar);

  INT_PTR result = -1;
  {
    CInvisibleParent owner(plat, process.Instance(), ts);
    if (owner.get()) {
      result = ui.DialogBoxParamW(resources, MAKEINTRESOURCEW(kind.templateId), owner.get(),
                                  &PromptProc, reinterpret_cast<LPARAM>(&run));
      if (result == -1) ts.Result("DialogBoxParam", LastErrorResult(plat));
    }
  }
  // A dialog that never got its WM_NCDESTROY to us must not leave a dangling entry.
  for (auto it = t_prompts.begin(); it != t_prompts.end();)
    it = it->second == &run ? t_prompts.erase(it) : std::next(it);
  ts.Msg("returning %d", static_cast<int>(result));
  return result;
}

}  // namespace

CAskUserToRegisterAtStartDlg::CAskUserToRegisterAtStartDlg(core::CAgentProcess& process,
                                                           HINSTANCE resources)
    : m_process(process), m_resources(resources) {}

INT_PTR CAskUserToRegisterAtStartDlg::DoModal() {
  return ShowPrompt(kAskAtStart, m_process, m_resources);
}

CAskUserToRegisterDlg::CAskUserToRegisterDlg(core::CAgentProcess& process, HINSTANCE resources)
    : m_process(process), m_resources(resources) {}

INT_PTR CAskUserToRegisterDlg::DoModal() {
  return ShowPrompt(kAskFingerprint, m_process, m_resources);
}

CReenrollmentPromptDlg::CReenrollmentPromptDlg(core::CAgentProcess& process, HINSTANCE resources)
    : m_process(process), m_resources(resources) {}

INT_PTR CReenrollmentPromptDlg::DoModal() {
  return ShowPrompt(kReenrollment, m_process, m_resources);
}
