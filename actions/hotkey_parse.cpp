#include "actions/hotkey_parse.h"

#include <cwctype>

namespace {

std::wstring_view Trim(std::wstring_view s) {
  while (!s.empty() && s.front() == L' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == L' ') s.remove_suffix(1);
  return s;
}

bool IsWord(std::wstring_view token, std::wstring_view word) {
  if (token.size() != word.size()) return false;
  for (size_t i = 0; i < token.size(); ++i)
    if (std::towupper(token[i]) != std::towupper(word[i])) return false;
  return true;
}

bool IsAsciiDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }
bool IsAsciiLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

// The key of one token; 0 when it names none.
UINT KeyOf(std::wstring_view token) {
  if (token.size() == 1) {
    // A single digit is that digit's key, not the virtual-key code of its value.
    if (IsAsciiDigit(token[0])) return static_cast<UINT>(token[0]);
    if (IsAsciiLetter(token[0])) return static_cast<UINT>(std::towupper(token[0]));
    return 0;
  }
  if (token.empty() || token.size() > 3) return 0;
  UINT value = 0;
  for (wchar_t c : token) {
    if (!IsAsciiDigit(c)) return 0;
    value = value * 10 + static_cast<UINT>(c - L'0');
  }
  return value >= 1 && value <= 254 ? value : 0;
}

}  // namespace

std::optional<CHotKeyCombination> ParseHotKey(std::wstring_view text) {
  CHotKeyCombination out;
  while (true) {
    const size_t plus = text.find(L'+');
    const std::wstring_view token = Trim(text.substr(0, plus));
    if (IsWord(token, L"Ctrl")) {
      out.modifiers |= MOD_CONTROL;
    } else if (IsWord(token, L"Alt")) {
      out.modifiers |= MOD_ALT;
    } else if (IsWord(token, L"Shift")) {
      out.modifiers |= MOD_SHIFT;
    } else if (IsWord(token, L"Win")) {
      out.modifiers |= MOD_WIN;
    } else if (UINT key = KeyOf(token)) {
      out.vk = key;
    } else {
      return std::nullopt;
    }
    if (plus == std::wstring_view::npos) break;
    text.remove_prefix(plus + 1);
  }
  if (out.modifiers == 0 || out.vk == 0) return std::nullopt;
  return out;
}
