// The built VdAgentRes.dll under Wine: it carries every text of the agent's table, word for
// word, and the branding strings read them through the real Win32 calls.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

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

}  // namespace
