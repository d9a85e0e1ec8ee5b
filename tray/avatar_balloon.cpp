#include "tray/avatar_balloon.h"

namespace tray {

CAvatarBallon::CAvatarBallon(platform::IPlatform& plat, HWND owner, HINSTANCE module)
    : m_plat(plat), m_owner(owner), m_module(module), m_tip(plat.Ui()) {}

TOOLINFOW CAvatarBallon::ToolRecord(const std::wstring& text) const {
  TOOLINFOW ti{};
  // comctl32 before Windows 6.0 refuses the longer record.
  OSVERSIONINFOEXW v{};
  v.dwOSVersionInfoSize = sizeof(v);
  const bool vista = !m_plat.Kernel().GetVersionExW(&v) || v.dwMajorVersion >= 6;
  ti.cbSize = vista ? sizeof(TOOLINFOW) : static_cast<UINT>(TTTOOLINFOW_V2_SIZE);
  ti.uFlags = TTF_TRACK;
  ti.hwnd = m_owner;
  ti.uId = 1;
  ti.lpszText = const_cast<LPWSTR>(text.c_str());
  return ti;
}

bool CAvatarBallon::Create() {
  platform::IUi& ui = m_plat.Ui();
  INITCOMMONCONTROLSEX icc{sizeof(INITCOMMONCONTROLSEX), ICC_WIN95_CLASSES};
  ui.InitCommonControlsEx(&icc);
  if (!m_tip.Create(m_owner, m_module, WS_POPUP | TTS_BALLOON | TTS_NOPREFIX | TTS_ALWAYSTIP))
    return false;
  TOOLINFOW ti = ToolRecord(m_text);
  ui.SendMessageW(m_tip.Window(), TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
  return true;
}

void CAvatarBallon::Show(const std::wstring& text, POINT tip) {
  platform::IUi& ui = m_plat.Ui();
  const HWND h = m_tip.Window();
  if (!h) return;
  m_text = text;
  TOOLINFOW ti = ToolRecord(m_text);
  ui.SendMessageW(h, TTM_SETMAXTIPWIDTH, 0, ui.GetSystemMetrics(SM_CXFULLSCREEN));
  ui.SendMessageW(h, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&ti));
  if (!m_title.empty())
    ui.SendMessageW(h, TTM_SETTITLEW, TTI_INFO, reinterpret_cast<LPARAM>(m_title.c_str()));
  ui.SendMessageW(h, TTM_TRACKPOSITION, 0,
                  MAKELPARAM(static_cast<WORD>(tip.x), static_cast<WORD>(tip.y)));
  ui.SendMessageW(h, TTM_TRACKACTIVATE, TRUE, reinterpret_cast<LPARAM>(&ti));
}

void CAvatarBallon::Hide() {
  if (const HWND h = m_tip.Window()) {
    TOOLINFOW ti = ToolRecord(m_text);
    m_plat.Ui().SendMessageW(h, TTM_TRACKACTIVATE, FALSE, reinterpret_cast<LPARAM>(&ti));
  }
  m_tip.Destroy();
}

}  // namespace tray
