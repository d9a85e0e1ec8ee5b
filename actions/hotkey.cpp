#include "actions/hotkey.h"

#include <string>

#include "support/settings/settings_section.h"
#include "support/trace/trace.h"

void CReadHotKey::Register(HWND hwnd) {
  VDTraceNS::CScope ts("CReadHotKey::Register");
  m_hwnd = hwnd;
  const std::wstring text = CKwAppSettings(m_process.Platform()).GetOpenSecurityManager();
  if (text.empty()) {
    m_parsed = false;
    ts.Msg("No hotkey combination");
    return;
  }
  const auto combination = ParseHotKey(text);
  m_parsed = combination.has_value();
  if (!combination) {
    ts.Msg(L"Failed to parseHotkey: %ls.", text.c_str());
    return;
  }
  m_combination = *combination;
  m_registered = m_process.Platform().Ui().RegisterHotKey(hwnd, kHotKeyId, m_combination.modifiers,
                                                          m_combination.vk) != FALSE;
  ts.Msg(L"HotKey (%ls) %ls.", text.c_str(), m_registered ? L"registered" : L"not registered");
}

void CReadHotKey::Reregister(HWND hwnd) {
  if (m_parsed) {
    if (m_hwnd) m_process.Platform().Ui().UnregisterHotKey(m_hwnd, kHotKeyId);
    m_registered = false;
  }
  Register(hwnd);
}

void CReadHotKey::Unregister() {
  if (!m_registered) return;
  m_process.Platform().Ui().UnregisterHotKey(m_hwnd, kHotKeyId);
  m_registered = false;
}
