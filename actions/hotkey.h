// The agent's hotkey ("OpenSecurityManager" in "KwAppSettings", "Ctrl+Win+72" by default):
// modifier words and one key joined with "+".
//
//   CReadHotKey hotkey(process);
//   hotkey.Register(hwnd);          // at ready
//   hotkey.Reregister(hwnd);        // at "VdSettingsChanged"
//   hotkey.Unregister();            // at disposal
//
// Window thread only.
#pragma once

#include "actions/hotkey_parse.h"
#include "core/agent_process.h"

class CReadHotKey {
 public:
  static constexpr int kHotKeyId = 1;

  explicit CReadHotKey(core::CAgentProcess& process) : m_process(process) {}

  // Reads the setting, parses it and registers it for `hwnd`. Settings failures are raised
  // as CResultError.
  void Register(HWND hwnd);
  // After a settings change: the old combination goes (only when the last parse succeeded),
  // then Register.
  void Reregister(HWND hwnd);
  // UnregisterHotKey when a combination is registered; safe to run twice.
  void Unregister();

  bool LastParseSucceeded() const { return m_parsed; }
  bool IsRegistered() const { return m_registered; }

 private:
  core::CAgentProcess& m_process;
  HWND m_hwnd = nullptr;
  CHotKeyCombination m_combination;
  bool m_parsed = false;
  bool m_registered = false;
};
