// Parsing the agent's hotkey setting: modifier words and one key joined with "+". Free of
// any platform, so that the fuzzer can take it alone.
//
//   auto c = ParseHotKey(L"Ctrl+Win+72");   // MOD_CONTROL | MOD_WIN, 'H'
#pragma once

#include <optional>
#include <string_view>

#include "platform/win_types.h"

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
