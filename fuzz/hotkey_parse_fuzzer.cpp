// libFuzzer target for the hotkey parser: any text gives either no combination or one with
// at least one known modifier and a key code 1 to 254, never a crash; and a combination
// written back as text parses to itself.
#include <cstddef>
#include <cstdint>
#include <string>

#include "actions/hotkey_parse.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Two bytes per character, as the registry stores the setting (UTF-16LE).
  std::wstring text;
  for (std::size_t i = 0; i + 1 < size; i += 2)
    text.push_back(static_cast<wchar_t>(data[i] | (data[i + 1] << 8)));
  const auto c = ParseHotKey(text);
  if (!c) return 0;
  const UINT known = MOD_CONTROL | MOD_ALT | MOD_SHIFT | MOD_WIN;
  if (c->modifiers == 0 || (c->modifiers & ~known) != 0) __builtin_trap();
  if (c->vk < 1 || c->vk > 254) __builtin_trap();
  std::wstring back;
  if (c->modifiers & MOD_CONTROL) back += L"Ctrl+";
  if (c->modifiers & MOD_ALT) back += L"Alt+";
  if (c->modifiers & MOD_SHIFT) back += L"Shift+";
  if (c->modifiers & MOD_WIN) back += L"Win+";
  // Codes below 10 need two digits: a single digit is that digit's own key.
  back += (c->vk < 10 ? L"0" : L"") + std::to_wstring(c->vk);
  const auto again = ParseHotKey(back);
  if (!again || !(*again == *c)) __builtin_trap();
  return 0;
}
