// The modal dialog boxes of one simulated process (sim::ProcessUi forwards its dialog calls
// here). DialogBoxParamW builds a real window of the calling thread from a dialog template of
// a module the process has loaded (sim::ModuleTable::SetDialog), with every control as a child
// window that GetDlgItem finds, and runs the dialog's modal loop on the calling thread:
//
//   machine.GetDesktop().SetPromptUser([](DWORD, UINT id, const std::wstring&) {
//     return sim::PromptAnswer{IDOK, {{1021, true}}};   // ticks the box, then clicks OK
//   });
//   INT_PTR r = ui.DialogBoxParamW(resModule, MAKEINTRESOURCEW(210), owner, &Proc, param);
//
// The dialog procedure gets WM_INITDIALOG; a dialog still up afterwards is shown (desktop kind
// "prompt": caption and static text) and the desktop's prompt user answers. Its clicks reach
// the procedure as a real user's do: a box that changes gets BM_CLICK (the box toggles and
// WM_COMMAND BN_CLICKED follows), then the button gets BM_CLICK (desktop kind
// "prompt-answer"). The caller's sent, posted and timer messages run meanwhile. A dialog the
// procedure has not ended after an answer is answered again; one still up after
// kMaxAnswers answers would never close on Windows either: it is destroyed and gives -1.
//
// A link control the answer names is clicked before the boxes: the dialog gets WM_NOTIFY with
// an NMLINK (NM_CLICK, the first link, its href as the URL; desktop kind "prompt-answer"
// "link <id>").
//
// Check boxes keep their state per control (BM_GETCHECK, BM_SETCHECK); texts answer
// WM_SETTEXT and WM_GETTEXT. Nested dialogs work as on Windows: a procedure may show another
// dialog, whose loop then serves the outer one's messages too.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/sim/module_table.h"
#include "platform/win_types.h"

namespace sim {

class Process;

class DialogManager {
 public:
  static constexpr int kMaxAnswers = 8;
  // The system's dialog class, and the classes of the controls.
  static constexpr const wchar_t* kDialogClass = L"#32770";
  static constexpr const wchar_t* kStaticClass = L"Static";
  static constexpr const wchar_t* kButtonClass = L"Button";
  static constexpr const wchar_t* kLinkClass = L"SysLink";

  explicit DialogManager(Process& p);
  DialogManager(const DialogManager&) = delete;
  DialogManager& operator=(const DialogManager&) = delete;

  INT_PTR DialogBoxParamW(HINSTANCE hInstance, LPCWSTR lpTemplateName, HWND hWndParent,
                          DLGPROC lpDialogFunc, LPARAM dwInitParam);
  // Any thread may end a dialog; its modal loop returns once it looks again.
  BOOL EndDialog(HWND hDlg, INT_PTR nResult);
  HWND GetDlgItem(HWND hDlg, int nIDDlgItem);
  BOOL SetDlgItemTextW(HWND hDlg, int nIDDlgItem, LPCWSTR lpString);
  BOOL CheckDlgButton(HWND hDlg, int nIDButton, UINT uCheck);
  UINT IsDlgButtonChecked(HWND hDlg, int nIDButton);

  // The window procedures of the dialog and control classes, on the window's thread.
  LRESULT DialogProc(HWND h, UINT msg, WPARAM wp, LPARAM lp);
  LRESULT ControlProc(HWND h, UINT msg, WPARAM wp, LPARAM lp);

 private:
  struct Control {
    HWND hwnd = nullptr;
    HWND dialog = nullptr;
    int id = 0;
    DialogControl::Kind kind = DialogControl::Kind::Text;
    std::wstring text;
    UINT check = BST_UNCHECKED;
  };
  struct Dialog {
    HWND hwnd = nullptr;
    DLGPROC proc = nullptr;
    UINT templateId = 0;
    bool ended = false;
    INT_PTR result = 0;
    std::map<int, HWND> items;  // control id -> window, template order kept by id
  };
  enum class Pumped { Idle, Ended, Quit };

  bool RegisterClasses();
  std::shared_ptr<Dialog> FindDialog(HWND h) const;
  std::shared_ptr<Control> FindControl(HWND h) const;
  std::shared_ptr<Control> ItemOf(HWND hDlg, int id) const;
  bool Ended(HWND hDlg) const;
  // Runs the caller's messages for `ms` of virtual time (none: only what waits now), until
  // the dialog ends or WM_QUIT arrives (posted again for the caller's own loop).
  Pumped Serve(HWND hDlg, ULONGLONG ms);
  // What the dialog shows: its caption, then its static texts.
  std::wstring Describe(HWND hDlg) const;
  void ClickLink(HWND dlg, int id);
  std::wstring DescribeAnswer(HWND hDlg, int button) const;

  Process& m_process;
  mutable std::mutex m_mu;  // guards the maps and the records in them; a leaf
  bool m_classes = false;
  std::map<HWND, std::shared_ptr<Dialog>> m_dialogs;
  std::map<HWND, std::shared_ptr<Control>> m_controls;
};

}  // namespace sim
