// The built VdAgentRes.dll under Wine: it carries every text of the agent's table, word for
// word, and the branding strings read them through the real Win32 calls; its tray icons load
// at the small-icon size with the pixels of the table the simulated machine uses.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/res/agent_dialogs.h"
#include "app/res/agent_icons.h"
#include "app/res/agent_strings.h"
#include "platform/win32/win32_platform.h"
#include "support/branding_strings.h"

namespace {

// The folder of this test program, where the build puts VdAgentRes.dll too.
std::wstring OwnFolder() {
  wchar_t path[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring s(path, n);
  return s.substr(0, s.find_last_of(L'\\'));
}

TEST(AgentResourceModule, HoldsEveryTextOfTheTable) {
  const std::wstring path = OwnFolder() + L"\\VdAgentRes.dll";
  HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr) << GetLastError();
  for (const auto& [id, text] : app_res::kAgentStrings) {
    SCOPED_TRACE(id);
    wchar_t buf[1024];
    wmemset(buf, L'\xCCCC', 1024);
    const int n = LoadStringW(module, id, buf, 1024);
    EXPECT_EQ(std::wstring(buf, n > 0 ? n : 0), text);
  }
  FreeLibrary(module);
}

TEST(AgentResourceModule, GivesTheBalloonTextsThroughTheBrandingStrings) {
  platform::win32::CWin32Platform plat;
  support::CBrandingStrings strings(plat, OwnFolder());
  for (const auto& [id, text] : app_res::kAgentStrings) {
    if (id != IDS_READER_CONNECTED_TEXT && id != IDS_READER_CONNECTED_TITLE &&
        id != IDS_NO_DRIVERS_TITLE && id != IDS_NO_DRIVERS_TEXT)
      continue;
    SCOPED_TRACE(id);
    EXPECT_EQ(strings.String(id), text);
  }
}

// The tray's new texts are there under the numbers the tray asks for.
TEST(AgentResourceModule, HoldsTheTrayTexts) {
  const std::wstring path = OwnFolder() + L"\\VdAgentRes.dll";
  HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr) << GetLastError();
  for (UINT id : {131u, 193u, 535u, 536u}) {
    SCOPED_TRACE(id);
    wchar_t buf[256] = {};
    EXPECT_GT(LoadStringW(module, id, buf, 256), 0);
  }
  // The tooltip fits the notification record's 127 characters.
  wchar_t tip[256] = {};
  EXPECT_LE(LoadStringW(module, 131, tip, 256), 127);
  FreeLibrary(module);
}

INT_PTR CALLBACK QuietDialogProc(HWND, UINT msg, WPARAM, LPARAM) { return msg == WM_INITDIALOG; }

// Each prompt's template, made into a (hidden) dialog, shows the table's caption and controls:
// the resource script and the simulated module are built from the same rows.
TEST(AgentResourceModule, PromptTemplatesHoldTheTablesCaptionsAndControls) {
  const std::wstring path = OwnFolder() + L"\\VdAgentRes.dll";
  HMODULE module = LoadLibraryExW(path.c_str(), nullptr, 0);
  ASSERT_NE(module, nullptr) << GetLastError();
  for (const auto& d : app_res::kAgentDialogs) {
    SCOPED_TRACE(d.id);
    HWND dlg = CreateDialogParamW(module, MAKEINTRESOURCEW(d.id), nullptr, &QuietDialogProc, 0);
    ASSERT_NE(dlg, nullptr) << GetLastError();
    wchar_t buf[512] = {};
    GetWindowTextW(dlg, buf, 512);
    EXPECT_EQ(std::wstring(buf), d.caption);
    for (const auto& c : app_res::PromptControls(d)) {
      SCOPED_TRACE(c.id);
      HWND item = GetDlgItem(dlg, c.id);
      ASSERT_NE(item, nullptr);
      GetWindowTextW(item, buf, 512);
      EXPECT_EQ(std::wstring(buf), c.text);
      const LONG_PTR kind = GetWindowLongPtrW(item, GWL_STYLE) & BS_TYPEMASK;
      if (c.kind == app_res::PromptControlKind::CheckBox) {
        EXPECT_EQ(kind, BS_AUTOCHECKBOX);
      }
    }
    DestroyWindow(dlg);
  }
  FreeLibrary(module);
}

// Each tray icon loads as the tray loads it (LoadImageW at 16x16 with LR_COLOR) and shows the
// table's 16-pixel picture: opaque pixels in their colour, transparent ones masked.
TEST(AgentResourceModule, TrayIconsLoadWithTheTablesPixels) {
  const std::wstring path = OwnFolder() + L"\\VdAgentRes.dll";
  HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr) << GetLastError();
  HDC screen = GetDC(nullptr);
  for (const auto& image : app_res::kAgentIcons) {
    if (image.size != 16) continue;
    SCOPED_TRACE(image.id);
    HICON icon = static_cast<HICON>(
        LoadImageW(module, MAKEINTRESOURCEW(image.id), IMAGE_ICON, 16, 16, LR_COLOR));
    ASSERT_NE(icon, nullptr) << GetLastError();
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    ASSERT_NE(info.hbmColor, nullptr);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = 16;
    bi.bmiHeader.biHeight = -16;  // top row first
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    std::vector<DWORD> colour(16 * 16), mask(16 * 16);
    ASSERT_EQ(GetDIBits(screen, info.hbmColor, 0, 16, colour.data(), &bi, DIB_RGB_COLORS), 16);
    ASSERT_EQ(GetDIBits(screen, info.hbmMask, 0, 16, mask.data(), &bi, DIB_RGB_COLORS), 16);
    int wrong = 0;
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x) {
        const std::uint32_t want = app_res::IconPixel(image, x, y);
        const DWORD got = colour[y * 16 + x];
        const bool masked = (mask[y * 16 + x] & 0xFFFFFFu) != 0;
        const bool ok = (want >> 24) ? !masked && (got & 0xFFFFFFu) == (want & 0xFFFFFFu) : masked;
        if (!ok && ++wrong <= 3)
          ADD_FAILURE() << "pixel " << x << "," << y << " want " << std::hex << want << " got "
                        << got << (masked ? " masked" : "");
      }
    EXPECT_EQ(wrong, 0);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    DestroyIcon(icon);
  }
  ReleaseDC(nullptr, screen);
  FreeLibrary(module);
}

}  // namespace
