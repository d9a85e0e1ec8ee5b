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

#include <optional>
#include <string_view>

#include "core/agent_process.h"

struct CHotKeyCombination {
  UINT modifiers = 0;  // MOD_CONTROL | MOD_ALT | MOD_SHIFT | MOD_WIN
  UINT vk = 0;
  bool operator==(const CHotKeyCombination&) const = default;
};

// Tokens compared without case: "Ctrl", "Alt", "Shift", "Win" add their modifier; a letter
// (either case) is its upper-case key, a digit its own key, a decimal number 1 to 254 a
// virtual-key code. The last key wins. Empty without a modifier, without a key or with any
// other token.
std::optional<CHotKeyCombination> ParseHotKey(std::wstring_view text);

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
