// The stand-in VDSCApi.dll as a Windows program meets it: initialised with a window, it posts
// the card events VDCardStandIn.exe asks for, with the reader's name; the card it then
// describes and identifies is the one described in the machine description file.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "support/vdfp/vdsc_api.h"

namespace {

constexpr DWORD kGenerousMs = 30000;  // a bound for a lost event, never a speed claim
constexpr UINT kCardMsg = 0x52C;

std::wstring OwnDir() {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring p(path);
  return p.substr(0, p.find_last_of(L'\\') + 1);
}

struct Event {
  WPARAM code;
  std::wstring reader;
};
std::vector<Event> g_events;

LRESULT CALLBACK Proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == kCardMsg) {
    // The name is read while the message is handled, as the agent does.
    g_events.push_back({wp, lp ? reinterpret_cast<const wchar_t*>(lp) : L"(null)"});
    return 0;
  }
  return ::DefWindowProcW(h, msg, wp, lp);
}

// Runs VDCardStandIn.exe with `args`, handling this thread's messages meanwhile; its exit code.
DWORD Drive(const std::wstring& args) {
  std::wstring cmd = L"\"" + OwnDir() + L"VDCardStandIn.exe\" " + args;
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  if (!::CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi))
    return 0xFFFFFFFF;
  for (DWORD waited = 0; waited < kGenerousMs; waited += 20) {
    if (::MsgWaitForMultipleObjects(1, &pi.hProcess, FALSE, 20, QS_ALLINPUT) == WAIT_OBJECT_0)
      break;
    MSG m;
    while (::PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&m);
  }
  DWORD code = 0xFFFFFFFF;
  ::GetExitCodeProcess(pi.hProcess, &code);
  ::CloseHandle(pi.hThread);
  ::CloseHandle(pi.hProcess);
  return code;
}

// Handles messages until `count` events arrived (or the generous bound passed).
std::vector<Event> TakeEvents(std::size_t count) {
  for (DWORD waited = 0; g_events.size() < count && waited < kGenerousMs; waited += 20) {
    MSG m;
    while (::PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&m);
    if (g_events.size() < count) ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
  return std::exchange(g_events, {});
}

template <typename Pfn>
Pfn Proc(HMODULE m, const char* name) {
  return reinterpret_cast<Pfn>(reinterpret_cast<void (*)()>(::GetProcAddress(m, name)));
}

TEST(VdscApiStandIn, EventsFromTheDriverReachTheSubscribersWindow) {
  const std::wstring file = OwnDir() + L"vdscapi_standin_case.json";
  {
    std::ofstream out(std::string(file.begin(), file.end()), std::ios::trunc);
    out << R"({"users": [{"name": "alice", "enrolled": ["Password", "Contactless card"]}],
               "cardReaders": [{"name": "Wine Reader"}],
               "cards": [{"name": "badge", "type": 2, "id": 4660, "owner": "alice"}]})";
  }
  ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Veridane\\StandIns\\VDFPApi",
                       L"DescriptionFile");
  ::SetEnvironmentVariableW(L"VDFP_STANDIN_DESCRIPTION", file.c_str());

  HMODULE lib = ::LoadLibraryW((OwnDir() + L"VDSCApi.dll").c_str());
  ASSERT_NE(lib, nullptr);
  for (const char* name : kVDSCApiExports) EXPECT_NE(::GetProcAddress(lib, name), nullptr) << name;
  WNDCLASSW wc{};
  wc.lpfnWndProc = &Proc;
  wc.lpszClassName = L"VdscCaseWindow";
  ::RegisterClassW(&wc);
  HWND w = ::CreateWindowW(L"VdscCaseWindow", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                           nullptr, nullptr);
  ASSERT_NE(w, nullptr);
  VDSC_INIT init{VDSC_INIT_VERSION, w, kCardMsg, VDSC_INIT_EVENTS};
  ASSERT_EQ(Proc<PFN_VDSCInit>(lib, "VDSCInit")(&init), S_OK);

  EXPECT_EQ(Drive(L"insert \"Wine Reader\" badge"), 0u);
  auto events = TakeEvents(2);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].code, VDSC_EVENT_CARD_INSERTED);
  EXPECT_EQ(events[1].code, VDSC_EVENT_CARD_READY);
  EXPECT_EQ(events[0].reader, L"Wine Reader");

  VDSC_CARD_INFO ci{};
  ci.dwVersion = VDSC_CARD_INFO_VERSION;
  BSTR text = nullptr;
  ASSERT_EQ(Proc<PFN_VDSCGetCardInfo>(lib, "VDSCGetCardInfo")(L"Wine Reader", &text, &ci), S_OK);
  EXPECT_EQ(ci.dwCardType, VDSC_CARD_CONTACTLESS);
  EXPECT_EQ(ci.dwCardId, 4660u);
  ::SysFreeString(text);
  BSTR name = nullptr;
  ASSERT_EQ(Proc<PFN_VDSCTokenIdentify>(lib, "VDSCTokenIdentify")(L"Wine Reader", VDSC_NAME_SAM,
                                                                 &name),
            S_OK);
  EXPECT_STREQ(name, L"VDSIM-PC\\alice");
  ::SysFreeString(name);

  EXPECT_EQ(Drive(L"remove \"Wine Reader\""), 0u);
  events = TakeEvents(1);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].code, VDSC_EVENT_CARD_REMOVED);
  // Refused requests say so, and post nothing.
  EXPECT_EQ(Drive(L"remove \"Wine Reader\""), 3u);
  EXPECT_EQ(Drive(L"insert \"No Reader\" badge"), 3u);
  EXPECT_EQ(Drive(L"shake \"Wine Reader\""), 1u);

  EXPECT_EQ(Proc<PFN_VDSCTerm>(lib, "VDSCTerm")(), S_OK);
  EXPECT_EQ(Drive(L"insert \"Wine Reader\" badge"), 0u) << "the library's readers stay";
  EXPECT_TRUE(TakeEvents(0).empty());
  ::DestroyWindow(w);
  ::SetEnvironmentVariableW(L"VDFP_STANDIN_DESCRIPTION", nullptr);
  ::DeleteFileW(file.c_str());
}

}  // namespace
