#include "platform/sim/dialog_manager.h"

#include <algorithm>
#include <vector>

#include "platform/sim/clock.h"
#include "platform/sim/desktop.h"
#include "platform/sim/machine.h"
#include "platform/sim/process.h"
#include "platform/sim/process_modules.h"
#include "platform/sim/process_ui.h"

namespace sim {

namespace {

// Window procedures are plain functions: they find the manager through the process whose
// window is being served (the window manager sets it for every delivery).
DialogManager* ManagerOfCurrentProcess() {
  Process* p = CurrentProcess();
  return p ? &static_cast<ProcessUi&>(p->Ui()).Dialogs() : nullptr;
}

LRESULT CALLBACK SimDialogWndProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  DialogManager* d = ManagerOfCurrentProcess();
  return d ? d->DialogProc(h, msg, wp, lp) : 0;
}

LRESULT CALLBACK SimControlWndProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  DialogManager* d = ManagerOfCurrentProcess();
  return d ? d->ControlProc(h, msg, wp, lp) : 0;
}

}  // namespace

DialogManager::DialogManager(Process& p) : m_process(p) {}

bool DialogManager::RegisterClasses() {
  {
    std::lock_guard lk(m_mu);
    if (m_classes) return true;
  }
  platform::IUi& ui = m_process.Ui();
  for (const wchar_t* name : {kDialogClass, kStaticClass, kButtonClass, kLinkClass}) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = name == kDialogClass ? &SimDialogWndProc : &SimControlWndProc;
    wc.lpszClassName = name;
    if (!ui.RegisterClassExW(&wc) &&
        m_process.GetMachine().LastError() != ERROR_CLASS_ALREADY_EXISTS)
      return false;
  }
  std::lock_guard lk(m_mu);
  m_classes = true;
  return true;
}

std::shared_ptr<DialogManager::Dialog> DialogManager::FindDialog(HWND h) const {
  std::lock_guard lk(m_mu);
  auto it = m_dialogs.find(h);
  return it == m_dialogs.end() ? nullptr : it->second;
}

std::shared_ptr<DialogManager::Control> DialogManager::FindControl(HWND h) const {
  std::lock_guard lk(m_mu);
  auto it = m_controls.find(h);
  return it == m_controls.end() ? nullptr : it->second;
}

std::shared_ptr<DialogManager::Control> DialogManager::ItemOf(HWND hDlg, int id) const {
  std::lock_guard lk(m_mu);
  auto d = m_dialogs.find(hDlg);
  if (d == m_dialogs.end()) return nullptr;
  auto item = d->second->items.find(id);
  if (item == d->second->items.end()) return nullptr;
  auto c = m_controls.find(item->second);
  return c == m_controls.end() ? nullptr : c->second;
}

bool DialogManager::Ended(HWND hDlg) const {
  std::lock_guard lk(m_mu);
  auto d = m_dialogs.find(hDlg);
  return d == m_dialogs.end() || d->second->ended;
}

INT_PTR DialogManager::DialogBoxParamW(HINSTANCE hInstance, LPCWSTR lpTemplateName, HWND hWndParent,
                                       DLGPROC lpDialogFunc, LPARAM dwInitParam) {
  Machine& m = m_process.GetMachine();
  platform::IUi& ui = m_process.Ui();
  // Windows answers a bad owner with 0, not -1, for compatibility with its oldest versions.
  if (hWndParent && !ui.IsWindow(hWndParent)) {
    m.LastError() = ERROR_INVALID_WINDOW_HANDLE;
    return 0;
  }
  if (!lpTemplateName || !IS_INTRESOURCE(lpTemplateName)) {
    // Templates are numbered here; a named one is never found.
    m.LastError() = ERROR_RESOURCE_NAME_NOT_FOUND;
    return -1;
  }
  const UINT templateId = LOWORD(reinterpret_cast<ULONG_PTR>(lpTemplateName));
  DWORD error = 0;
  auto tpl =
      static_cast<ProcessModules&>(m_process.Modules()).DialogOf(hInstance, templateId, &error);
  if (!tpl) {
    m.LastError() = error;
    return -1;
  }
  if (!RegisterClasses()) return -1;

  HWND dlg = ui.CreateWindowExW(0, kDialogClass, tpl->caption.c_str(), WS_POPUP, 0, 0, 0, 0,
                                hWndParent, nullptr, hInstance, nullptr);
  if (!dlg) return -1;
  auto dialog = std::make_shared<Dialog>();
  dialog->hwnd = dlg;
  dialog->proc = lpDialogFunc;
  dialog->templateId = templateId;
  {
    std::lock_guard lk(m_mu);
    m_dialogs[dlg] = dialog;
  }
  HWND first = nullptr;
  for (const auto& c : tpl->controls) {
    const bool isText = c.kind == DialogControl::Kind::Text;
    const wchar_t* controlClass = isText                                ? kStaticClass
                                  : c.kind == DialogControl::Kind::Link ? kLinkClass
                                                                        : kButtonClass;
    HWND h =
        ui.CreateWindowExW(0, controlClass, c.text.c_str(), WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, dlg,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), hInstance, nullptr);
    if (!h) continue;
    if (!first && !isText) first = h;
    auto control = std::make_shared<Control>();
    control->hwnd = h;
    control->dialog = dlg;
    control->id = c.id;
    control->kind = c.kind;
    control->text = c.text;
    std::lock_guard lk(m_mu);
    m_controls[h] = control;
    dialog->items.emplace(c.id, h);
  }

  const DWORD session = m_process.SessionId();
  Desktop& desktop = m.GetDesktop();
  ui.SendMessageW(dlg, WM_INITDIALOG, reinterpret_cast<WPARAM>(first), dwInitParam);

  bool quit = false;
  if (!Ended(dlg)) {
    ui.ShowWindow(dlg, SW_SHOWNORMAL);
    desktop.Record(session, desktop_kind::kPrompt, Describe(dlg));
    int answers = 0;
    while (!quit && !Ended(dlg)) {
      if (answers++ == kMaxAnswers) {
        desktop.Record(
            session, desktop_kind::kPrompt,
            L"never closed: destroyed after " + std::to_wstring(kMaxAnswers) + L" answers");
        m.LastError() = ERROR_TIMEOUT;
        break;
      }
      PromptAnswer answer;
      const auto info = m.Windows().Info(dlg);
      if (auto user = desktop.GetPromptUser())
        answer = user(session, templateId, info ? info->title : tpl->caption);
      const Pumped looked = Serve(dlg, answer.openMs);
      if (looked == Pumped::Quit) quit = true;
      if (looked != Pumped::Idle) break;
      if (answer.link != 0) {
        desktop.Record(session, desktop_kind::kPromptAnswer,
                       L"link " + std::to_wstring(answer.link));
        ClickLink(dlg, answer.link);
        if (Ended(dlg)) break;
      }
      // The user ticks or clears the boxes, then clicks the button.
      for (const auto& [id, on] : answer.checks) {
        auto box = ItemOf(dlg, id);
        if (!box || box->kind != DialogControl::Kind::CheckBox) continue;
        const UINT now = ui.IsDlgButtonChecked(dlg, id);
        if ((now == BST_CHECKED) != on) ui.SendMessageW(box->hwnd, BM_CLICK, 0, 0);
        if (Ended(dlg)) break;
      }
      if (Ended(dlg)) break;
      desktop.Record(session, desktop_kind::kPromptAnswer, DescribeAnswer(dlg, answer.button));
      if (answer.button != 0) {
        if (auto button = ItemOf(dlg, answer.button)) {
          ui.SendMessageW(button->hwnd, BM_CLICK, 0, 0);
        } else {
          // No such control: the keyboard's Enter or Escape still reaches the procedure.
          ui.SendMessageW(dlg, WM_COMMAND, MAKEWPARAM(answer.button, BN_CLICKED), 0);
        }
      }
      if (Serve(dlg, 0) == Pumped::Quit) quit = true;
    }
  }

  INT_PTR result = -1;
  {
    std::lock_guard lk(m_mu);
    // Left by a WM_QUIT, the dialog gives what EndDialog set, 0 when nothing did.
    if (dialog->ended) {
      result = dialog->result;
    } else if (quit) {
      result = 0;
    }
  }
  ui.DestroyWindow(dlg);
  {
    std::lock_guard lk(m_mu);
    m_dialogs.erase(dlg);
    for (const auto& [id, h] : dialog->items) m_controls.erase(h);
  }
  return result;
}

DialogManager::Pumped DialogManager::Serve(HWND hDlg, ULONGLONG ms) {
  platform::IUi& ui = m_process.Ui();
  Clock& clock = m_process.GetMachine().GetClock();
  const ULONGLONG end = clock.NowMs() + ms;
  for (;;) {
    MSG msg{};
    while (ui.PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        // The dialog ends; the quit is the caller's loop's to see.
        ui.PostQuitMessage(static_cast<int>(msg.wParam));
        return Pumped::Quit;
      }
      ui.TranslateMessage(&msg);
      ui.DispatchMessageW(&msg);
      if (Ended(hDlg)) return Pumped::Ended;
    }
    if (Ended(hDlg)) return Pumped::Ended;
    const ULONGLONG now = clock.NowMs();
    if (now >= end) return Pumped::Idle;
    ULONGLONG next = end;
    if (const auto due = clock.NextDue(); due && *due > now && *due < next) next = *due;
    m_process.Kernel().Sleep(static_cast<DWORD>(next - now));  // moves the virtual clock
  }
}

std::wstring DialogManager::Describe(HWND hDlg) const {
  const auto info = m_process.GetMachine().Windows().Info(hDlg);
  std::wstring out = info ? info->title : L"";
  out += L":";
  std::lock_guard lk(m_mu);
  auto d = m_dialogs.find(hDlg);
  if (d == m_dialogs.end()) return out;
  for (const auto& [id, h] : d->second->items) {
    auto c = m_controls.find(h);
    if (c != m_controls.end() && (c->second->kind == DialogControl::Kind::Text ||
                                  c->second->kind == DialogControl::Kind::Link))
      out += L" " + c->second->text;
  }
  return out;
}

void DialogManager::ClickLink(HWND dlg, int id) {
  auto link = ItemOf(dlg, id);
  if (!link || link->kind != DialogControl::Kind::Link) return;
  std::wstring text;
  {
    std::lock_guard lk(m_mu);
    text = link->text;
  }
  NMLINK nm{};
  nm.hdr.hwndFrom = link->hwnd;
  nm.hdr.idFrom = static_cast<UINT_PTR>(id);
  nm.hdr.code = NM_CLICK;
  // The first link's href="..." is its URL, as the control parses its markup.
  const std::wstring href = L"href=\"";
  if (const size_t at = text.find(href); at != std::wstring::npos) {
    const size_t from = at + href.size();
    const size_t to = text.find(L'"', from);
    const std::wstring url = text.substr(from, to == std::wstring::npos ? 0 : to - from);
    url.copy(nm.item.szUrl, std::min<size_t>(url.size(), L_MAX_URL_LENGTH - 1));
  }
  m_process.Ui().SendMessageW(dlg, WM_NOTIFY, static_cast<WPARAM>(id),
                              reinterpret_cast<LPARAM>(&nm));
}

std::wstring DialogManager::DescribeAnswer(HWND hDlg, int button) const {
  std::wstring out = L"button " + std::to_wstring(button);
  std::lock_guard lk(m_mu);
  auto d = m_dialogs.find(hDlg);
  if (d == m_dialogs.end()) return out;
  for (const auto& [id, h] : d->second->items) {
    auto c = m_controls.find(h);
    if (c == m_controls.end() || c->second->kind != DialogControl::Kind::CheckBox) continue;
    out += L", box " + std::to_wstring(id) +
           (c->second->check == BST_CHECKED ? L" checked" : L" unchecked");
  }
  return out;
}

BOOL DialogManager::EndDialog(HWND hDlg, INT_PTR nResult) {
  {
    std::lock_guard lk(m_mu);
    auto d = m_dialogs.find(hDlg);
    if (d != m_dialogs.end()) {
      d->second->ended = true;
      d->second->result = nResult;
      return TRUE;
    }
  }
  m_process.GetMachine().LastError() = ERROR_INVALID_WINDOW_HANDLE;
  return FALSE;
}

HWND DialogManager::GetDlgItem(HWND hDlg, int nIDDlgItem) {
  if (auto c = ItemOf(hDlg, nIDDlgItem)) return c->hwnd;
  Machine& m = m_process.GetMachine();
  m.LastError() =
      m_process.Ui().IsWindow(hDlg) ? ERROR_CONTROL_ID_NOT_FOUND : ERROR_INVALID_WINDOW_HANDLE;
  return nullptr;
}

BOOL DialogManager::SetDlgItemTextW(HWND hDlg, int nIDDlgItem, LPCWSTR lpString) {
  HWND item = GetDlgItem(hDlg, nIDDlgItem);
  if (!item) return FALSE;
  return m_process.Ui().SendMessageW(item, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(lpString))
             ? TRUE
             : FALSE;
}

// As on Windows, a control that exists is asked even when it is no check box: it ignores the
// request, and the call still succeeds.
BOOL DialogManager::CheckDlgButton(HWND hDlg, int nIDButton, UINT uCheck) {
  HWND item = GetDlgItem(hDlg, nIDButton);
  if (!item) return FALSE;
  m_process.Ui().SendMessageW(item, BM_SETCHECK, uCheck, 0);
  return TRUE;
}

UINT DialogManager::IsDlgButtonChecked(HWND hDlg, int nIDButton) {
  HWND item = GetDlgItem(hDlg, nIDButton);
  if (!item) return 0;
  return static_cast<UINT>(m_process.Ui().SendMessageW(item, BM_GETCHECK, 0, 0));
}

LRESULT DialogManager::DialogProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  platform::IUi& ui = m_process.Ui();
  auto dialog = FindDialog(h);
  if (!dialog) return ui.DefWindowProcW(h, msg, wp, lp);  // still being created, or gone
  if (dialog->proc) {
    const INT_PTR handled = dialog->proc(h, msg, wp, lp);
    if (handled) return handled;
  }
  switch (msg) {
    case WM_CLOSE:
      // The default for the close box: the cancel button, never a destroyed window.
      {
        auto cancel = ItemOf(h, IDCANCEL);
        ui.PostMessageW(h, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                        reinterpret_cast<LPARAM>(cancel ? cancel->hwnd : nullptr));
      }
      return 0;
    default:
      return ui.DefWindowProcW(h, msg, wp, lp);
  }
}

LRESULT DialogManager::ControlProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  platform::IUi& ui = m_process.Ui();
  auto control = FindControl(h);
  if (!control) return ui.DefWindowProcW(h, msg, wp, lp);
  switch (msg) {
    case BM_GETCHECK: {
      std::lock_guard lk(m_mu);
      return control->check;
    }
    case BM_SETCHECK: {
      std::lock_guard lk(m_mu);
      if (control->kind == DialogControl::Kind::CheckBox)
        control->check = wp == BST_CHECKED ? BST_CHECKED : BST_UNCHECKED;
      return 0;
    }
    case BM_CLICK: {
      if (control->kind == DialogControl::Kind::Text) return 0;
      if (control->kind == DialogControl::Kind::CheckBox) {
        std::lock_guard lk(m_mu);
        control->check = control->check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
      }
      ui.SendMessageW(control->dialog, WM_COMMAND, MAKEWPARAM(control->id, BN_CLICKED),
                      reinterpret_cast<LPARAM>(h));
      return 0;
    }
    case WM_SETTEXT: {
      std::lock_guard lk(m_mu);
      control->text = lp ? reinterpret_cast<LPCWSTR>(lp) : L"";
      return TRUE;
    }
    case WM_GETTEXTLENGTH: {
      std::lock_guard lk(m_mu);
      return static_cast<LRESULT>(control->text.size());
    }
    case WM_GETTEXT: {
      auto* buf = reinterpret_cast<LPWSTR>(lp);
      if (!buf || wp == 0) return 0;
      std::lock_guard lk(m_mu);
      const size_t n = std::min<size_t>(control->text.size(), static_cast<size_t>(wp) - 1);
      control->text.copy(buf, n);
      buf[n] = L'\0';
      return static_cast<LRESULT>(n);
    }
    default:
      return ui.DefWindowProcW(h, msg, wp, lp);
  }
}

}  // namespace sim
