// The toast library, quick-link and console stand-ins as the agent meets them under Wine:
// loaded by path, called with automation strings, the toast completed once from the library's
// own thread while it keeps itself loaded, and every call logged beside the stand-in (here
// the build folder).
#include <windows.h>

#include <gtest/gtest.h>

#include <oleauto.h>

#include <atomic>
#include <string>

#include "support/suite_components.h"
#include "support/toast_contract.h"

namespace {

constexpr DWORD kGenerousMs = 30000;  // a bound for a hung thread, never a speed claim

std::wstring OwnDir() {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring p(path);
  return p.substr(0, p.find_last_of(L'\\') + 1);
}

std::string ReadText(const std::wstring& path) {
  HANDLE f = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return {};
  std::string text(1 << 16, '\0');
  DWORD n = 0;
  ::ReadFile(f, text.data(), static_cast<DWORD>(text.size()), &n, nullptr);
  ::CloseHandle(f);
  text.resize(n);
  return text;
}

void WriteText(const std::wstring& path, const std::string& text) {
  HANDLE f = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  DWORD n = 0;
  ::WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &n, nullptr);
  ::CloseHandle(f);
}

template <typename Pfn>
Pfn Proc(HMODULE m, const char* name) {
  return reinterpret_cast<Pfn>(reinterpret_cast<void (*)()>(::GetProcAddress(m, name)));
}

struct Probe {
  std::atomic<int> calls{0};
  std::atomic<INT32> result{-1};
  std::atomic<DWORD> thread{0};
  HANDLE done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ~Probe() { ::CloseHandle(done); }
};

HRESULT WINAPI OnToastDone(void* context, INT32 result) {
  auto* probe = static_cast<Probe*>(context);
  probe->result = result;
  probe->thread = ::GetCurrentThreadId();
  ++probe->calls;
  ::SetEvent(probe->done);
  return S_OK;
}

// True once no thread of the library keeps it loaded after our own FreeLibrary.
bool UnloadedWithin(DWORD ms) {
  const ULONGLONG until = ::GetTickCount64() + ms;
  while (::GetModuleHandleW(L"VDWinRTUtils.dll")) {
    if (::GetTickCount64() > until) return false;
    ::Sleep(10);
  }
  return true;
}

class ToastLibraryWine : public ::testing::Test {
 protected:
  void SetUp() override {
    ::DeleteFileW((m_dir + L"VDWinRTUtils.log").c_str());
    ::DeleteFileW((m_dir + L"VDWinRTUtils.answer").c_str());
    m_lib = ::LoadLibraryW((m_dir + L"VDWinRTUtils.dll").c_str());
    ASSERT_NE(m_lib, nullptr) << ::GetLastError();
    m_show = Proc<PFN_WinRT_DisplayToast>(m_lib, kWinRTDisplayToastExport);
    ASSERT_NE(m_show, nullptr);
  }
  void TearDown() override {
    if (m_lib) ::FreeLibrary(m_lib);
    // A completion thread may still be on its way out: the next case starts unloaded.
    EXPECT_TRUE(UnloadedWithin(kGenerousMs));
    ::DeleteFileW((m_dir + L"VDWinRTUtils.answer").c_str());
  }
  HRESULT Show(Probe* probe, const wchar_t* title, const wchar_t* button, const wchar_t* param,
               bool withCompletion = true) {
    BSTR t = ::SysAllocString(title), m = ::SysAllocString(L"Text"), b = ::SysAllocString(button),
         p = ::SysAllocString(param), id = ::SysAllocString(L"0000002A");
    const HRESULT hr =
        m_show(42, t, m, nullptr, b, id, 0, p, withCompletion ? &OnToastDone : nullptr, probe);
    for (BSTR s : {t, m, b, p, id}) ::SysFreeString(s);
    return hr;
  }
  std::string Log() { return ReadText(m_dir + L"VDWinRTUtils.log"); }

  const std::wstring m_dir = OwnDir();
  HMODULE m_lib = nullptr;
  PFN_WinRT_DisplayToast m_show = nullptr;
};

TEST_F(ToastLibraryWine, ItCompletesOnceFromItsOwnThreadAndStaysLoadedUntilThen) {
  WriteText(m_dir + L"VDWinRTUtils.answer", "5 20\n");
  Probe probe;
  ASSERT_EQ(Show(&probe, L"Title", L"Open", L"ManageCredentials"), S_OK);
  // The caller may let go of the library at once; the completion still comes.
  ::FreeLibrary(m_lib);
  m_lib = nullptr;
  ASSERT_EQ(::WaitForSingleObject(probe.done, kGenerousMs), WAIT_OBJECT_0);
  EXPECT_EQ(probe.result, kToastResultButton);
  EXPECT_NE(probe.thread, ::GetCurrentThreadId());
  ASSERT_TRUE(UnloadedWithin(kGenerousMs));  // its thread has ended: nothing more can come
  EXPECT_EQ(probe.calls, 1);
  EXPECT_EQ(Log(),
            "show 0000002A \"Title\" \"Text\" button \"Open\" param \"ManageCredentials\"\r\n"
            "ended 5\r\n");
}

TEST_F(ToastLibraryWine, WithoutAnAnswerAToastTimesOut) {
  Probe probe;
  ASSERT_EQ(Show(&probe, L"", nullptr, nullptr), S_OK);
  ASSERT_EQ(::WaitForSingleObject(probe.done, kGenerousMs), WAIT_OBJECT_0);
  EXPECT_EQ(probe.result, kToastResultTimedOut);
  EXPECT_EQ(Log(), "show 0000002A \"\" \"Text\"\r\nended 3\r\n");
}

TEST_F(ToastLibraryWine, RefusedDisplaysStartNoThreadAndAreLogged) {
  Probe probe;
  EXPECT_EQ(Show(&probe, nullptr, nullptr, nullptr), E_INVALIDARG);
  EXPECT_EQ(Show(&probe, L"T", nullptr, nullptr, false), E_INVALIDARG);
  WriteText(m_dir + L"VDWinRTUtils.answer", "0 0 0x80004005\n");
  EXPECT_EQ(Show(&probe, L"T", nullptr, L"X"), E_FAIL);
  // Nothing holds the library once we let go: no completion is on its way.
  ::FreeLibrary(m_lib);
  m_lib = nullptr;
  EXPECT_EQ(::GetModuleHandleW(L"VDWinRTUtils.dll"), nullptr);
  EXPECT_EQ(probe.calls, 0);
  EXPECT_EQ(Log(), "refused 0x80070057\r\nrefused 0x80070057\r\nrefused 0x80004005\r\n");
}

TEST(QuickLinksWine, EachLaunchIsLogged) {
  const std::wstring dir = OwnDir();
  ::DeleteFileW((dir + L"VdMiniOnlineIds.log").c_str());
  HMODULE lib = ::LoadLibraryW((dir + kVdMiniOnlineIdsLibrary).c_str());
  ASSERT_NE(lib, nullptr) << ::GetLastError();
  auto launch = Proc<PFN_LaunchQuickLink>(lib, kLaunchQuickLinkExport);
  ASSERT_NE(launch, nullptr);
  BSTR entry = ::SysAllocString(L"{6A1B}");
  EXPECT_EQ(launch(entry, 7), S_OK);
  EXPECT_EQ(launch(nullptr, -1), S_OK);
  ::SysFreeString(entry);
  ::FreeLibrary(lib);
  EXPECT_EQ(ReadText(dir + L"VdMiniOnlineIds.log"), "quick-link {6A1B} 7\r\nquick-link  -1\r\n");
}

TEST(ConsoleStandInWine, ItLogsItsCommandLineAndExitsZero) {
  const std::wstring dir = OwnDir();
  const std::wstring exe = dir + L"Veridane.Lumera.Console.exe";
  ::DeleteFileW((dir + L"Veridane.Lumera.Console.log").c_str());
  std::wstring cmd = L"\"" + exe + L"\" -mode:UserReset";
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(::CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &si, &pi))
      << ::GetLastError();
  ASSERT_EQ(::WaitForSingleObject(pi.hProcess, kGenerousMs), WAIT_OBJECT_0);
  DWORD code = 99;
  ::GetExitCodeProcess(pi.hProcess, &code);
  ::CloseHandle(pi.hThread);
  ::CloseHandle(pi.hProcess);
  EXPECT_EQ(code, 0u);
  std::string expected;
  for (wchar_t c : cmd) expected += static_cast<char>(c);
  EXPECT_EQ(ReadText(dir + L"Veridane.Lumera.Console.log"), expected + "\r\n");
}

}  // namespace
