// The suite's Windows stand-ins as the agent meets them under Wine: the runner records the
// command line it was started with, the fill-in component answers and replies as its
// description says, the sound utility, the password-manager server and the event-log
// component record their calls.
// Each stand-in writes "<name>.log" beside itself, here the build folder.
#include <windows.h>

#include <gtest/gtest.h>

#include <objbase.h>

#include <optional>
#include <string>
#include <vector>

#include "support/suite_components.h"
#include "support/vdeventlog_types.h"
#include "support/vdfp/vdfpapi_types.h"

namespace {

constexpr DWORD kGenerousMs = 30000;  // a bound for a hung program, never a speed claim

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

std::string Narrow(const std::wstring& w) {
  std::string s;
  for (wchar_t c : w) s += static_cast<char>(c);
  return s;
}

template <typename Pfn>
Pfn Proc(HMODULE m, const char* name) {
  return reinterpret_cast<Pfn>(reinterpret_cast<void (*)()>(::GetProcAddress(m, name)));
}

TEST(SuiteStandinsWine, TheRunnerRecordsItsWholeCommandLineAndExitsZero) {
  const std::wstring dir = OwnDir();
  ::DeleteFileW((dir + L"VDRunDll.log").c_str());
  const std::wstring exe = dir + kVDRunDllExe;
  std::wstring cmd = L"\"" + exe + L"\" \"" + dir + kVDFastConnectDll + L"\" VDFCRun";
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
  EXPECT_EQ(ReadText(dir + L"VDRunDll.log"), Narrow(cmd) + "\r\n");
}

TEST(SuiteStandinsWine, TheFillInComponentAnswersAndRepliesAsDescribed) {
  const std::wstring dir = OwnDir();
  ::DeleteFileW((dir + L"VDKws.log").c_str());
  // Read by the component at its first call in this process.
  WriteText(dir + L"SuiteStandIns.json", R"({"fillIn": {"commands": {
      "100": {"result": 1, "reply": [1, 1]}, "7": {"hr": "0x80004005"}}}})");
  HMODULE lib = ::LoadLibraryW((dir + L"VDKwsPlugin.dll").c_str());
  ASSERT_NE(lib, nullptr);
  auto init = Proc<PFN_VDKWSInit>(lib, "VDKWSInit");
  auto command = Proc<PFN_VDKWSCommand>(lib, "VDKWSCommand");
  auto terminate = Proc<PFN_VDKWSTerminate>(lib, "VDKWSTerminate");
  ASSERT_TRUE(init && command && terminate);
  HWND w =
      ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  ASSERT_NE(w, nullptr);
  ASSERT_EQ(init(w, kVDKwsReplyMessage), S_OK);
  DWORD result = 0;
  EXPECT_EQ(command(100, 0, &result), S_OK);
  EXPECT_EQ(result, 1u);
  EXPECT_EQ(command(7, 0, &result), E_FAIL);
  EXPECT_EQ(command(5, 0, &result), S_OK);
  EXPECT_EQ(result, 0u);
  MSG msg{};
  bool replied = false;
  const ULONGLONG until = ::GetTickCount64() + kGenerousMs;
  while (!replied && ::GetTickCount64() < until) {
    if (::PeekMessageW(&msg, w, kVDKwsReplyMessage, kVDKwsReplyMessage, PM_REMOVE)) {
      replied = true;
    } else {
      ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
    }
  }
  ASSERT_TRUE(replied);
  EXPECT_EQ(msg.wParam, 1u);
  EXPECT_EQ(msg.lParam, 1);
  terminate();
  ::DestroyWindow(w);
  EXPECT_EQ(ReadText(dir + L"VDKws.log"),
            "init message 1424\r\ncommand 100 param 0x0\r\ncommand 7 param 0x0\r\n"
            "command 5 param 0x0\r\nterminate\r\n");
  ::FreeLibrary(lib);
  ::DeleteFileW((dir + L"SuiteStandIns.json").c_str());
}

TEST(SuiteStandinsWine, SoundsAndThePasswordManagerRecordTheirCalls) {
  const std::wstring dir = OwnDir();
  ::DeleteFileW((dir + L"VDNXUtils.log").c_str());
  ::DeleteFileW((dir + L"VDPwdMgr.log").c_str());
  HMODULE sounds = ::LoadLibraryW((dir + kVDNXUtilsLibrary).c_str());
  ASSERT_NE(sounds, nullptr);
  auto play = Proc<PFN_VDPlayEventSound>(sounds, kVDPlayEventSoundExport);
  ASSERT_NE(play, nullptr);
  EXPECT_EQ(play(1), S_OK);
  EXPECT_EQ(play(3), S_OK);
  ::FreeLibrary(sounds);
  EXPECT_EQ(ReadText(dir + L"VDNXUtils.log"), "sound success\r\nsound quality\r\n");

  // Registered under HKLM: Wine does not merge HKCU classes into HKCR.
  const wchar_t* key =
      L"SOFTWARE\\Classes\\CLSID\\{FA676DEB-D10A-4D84-925D-66B4C232D571}\\InprocServer32";
  const std::wstring server = dir + L"VDPwdMgr.dll";
  ASSERT_EQ(::RegSetKeyValueW(HKEY_LOCAL_MACHINE, key, nullptr, REG_SZ, server.c_str(),
                              static_cast<DWORD>((server.size() + 1) * sizeof(wchar_t))),
            ERROR_SUCCESS);
  ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  IVDPasswordManager* pm = nullptr;
  const HRESULT hr = ::CoCreateInstance(CLSID_VDPasswordManager, nullptr, CLSCTX_INPROC_SERVER,
                                        IID_IVDPasswordManager, reinterpret_cast<void**>(&pm));
  EXPECT_EQ(hr, S_OK);
  if (pm) {
    EXPECT_EQ(pm->ShowMiniDashboard(1), S_OK);
    EXPECT_EQ(pm->InitUserTrainingTool(), S_OK);
    pm->Release();
  }
  ::CoUninitialize();
  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE,
                   L"SOFTWARE\\Classes\\CLSID\\{FA676DEB-D10A-4D84-925D-66B4C232D571}");
  EXPECT_EQ(ReadText(dir + L"VDPwdMgr.log"),
            "mini dashboard opened trained 1\r\nmini dashboard closed\r\ntraining tool\r\n");
}

// The event-log component as the agent reaches it (registered class, its writer): each accepted
// event is one line of VDEvtLog.log; a refused one writes nothing and answers its error.
TEST(SuiteStandinsWine, TheEventLogComponentWritesAcceptedEventsBesideItself) {
  const std::wstring dir = OwnDir();
  const std::wstring log = dir + L"VDEvtLog.log";
  ::DeleteFileW(log.c_str());
  const wchar_t* classKey = L"SOFTWARE\\Classes\\CLSID\\{337779A6-4848-428E-BE47-5C1C951794A7}";
  const std::wstring server = dir + L"VDEvtLog.dll";
  ASSERT_EQ(::RegSetKeyValueW(
                HKEY_LOCAL_MACHINE, (std::wstring(classKey) + L"\\InprocServer32").c_str(), nullptr,
                REG_SZ, server.c_str(), static_cast<DWORD>((server.size() + 1) * sizeof(wchar_t))),
            ERROR_SUCCESS);
  ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  IVDEventLog* writer = nullptr;
  EXPECT_EQ(::CoCreateInstance(CLSID_VDEventLog, nullptr, CLSCTX_INPROC_SERVER, IID_IVDEventLog,
                               reinterpret_cast<void**>(&writer)),
            S_OK);
  if (writer) {
    LPCWSTR strings[] = {L"alice", L"second"};
    EXPECT_EQ(writer->ReportEvent(L"src", 1, 4, 0x1300, 0x41101305, 1, strings, 0, nullptr), S_OK);
    // Refused: no source, a null insertion string, strings counted without an array.
    LPCWSTR withNull[] = {L"bob", nullptr};
    EXPECT_EQ(writer->ReportEvent(nullptr, 1, 4, 0x1300, 0x41101306, 0, nullptr, 0, nullptr),
              E_INVALIDARG);
    EXPECT_EQ(writer->ReportEvent(L"src", 1, 4, 0x1300, 0x41101306, 2, withNull, 0, nullptr),
              E_POINTER);
    EXPECT_EQ(writer->ReportEvent(L"src", 1, 4, 0x1300, 0x41101306, 1, nullptr, 0, nullptr),
              E_POINTER);
    EXPECT_EQ(writer->ReportEvent(L"src", 1, 2, 0x1300, 0x81101301, 2, strings, 0, nullptr), S_OK);
    EXPECT_EQ(writer->ReportEvent(L"src", 1, 4, 0x1300, 0x41101308, 0, nullptr, 0, nullptr), S_OK);
    writer->Release();
  }
  ::CoUninitialize();
  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, classKey);
  EXPECT_EQ(ReadText(log),
            "src: event 0x41101305 (information, category 0x1300) \"alice\"\r\n"
            "src: event 0x81101301 (warning, category 0x1300) \"alice\", \"second\"\r\n"
            "src: event 0x41101308 (information, category 0x1300)\r\n");

  // Its DllGetClassObject serves its own class only.
  HMODULE dll = ::LoadLibraryW(server.c_str());
  ASSERT_NE(dll, nullptr);
  auto getClassObject = Proc<LPFNGETCLASSOBJECT>(dll, "DllGetClassObject");
  ASSERT_NE(getClassObject, nullptr);
  void* factory = reinterpret_cast<void*>(1);
  EXPECT_EQ(getClassObject(CLSID_VDPasswordManager, IID_IClassFactory, &factory),
            CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(factory, nullptr);
  ::FreeLibrary(dll);
}

// Runs a program of the build folder; its exit code, or nothing when it did not end in time.
std::optional<DWORD> RunHost(const std::wstring& args, PROCESS_INFORMATION* keep = nullptr) {
  const std::wstring exe = OwnDir() + L"VDHostStandIn.exe";
  std::wstring cmd = L"\"" + exe + L"\" " + args;
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  if (!::CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi))
    return std::nullopt;
  ::CloseHandle(pi.hThread);
  if (keep) {
    *keep = pi;
    return 0;
  }
  std::optional<DWORD> code;
  if (::WaitForSingleObject(pi.hProcess, kGenerousMs) == WAIT_OBJECT_0) {
    DWORD c = 0;
    ::GetExitCodeProcess(pi.hProcess, &c);
    code = c;
  }
  ::CloseHandle(pi.hProcess);
  return code;
}

TEST(SuiteStandinsWine, ATouchFromTheHostProgramReachesTheLibrarysAcquisition) {
  EXPECT_EQ(RunHost(L"-touch alice"), std::optional<DWORD>(2u)) << "no library loaded anywhere yet";
  PROCESS_INFORMATION host{};
  ASSERT_TRUE(RunHost(L"-run 60000", &host));
  // The host is up once its readiness event is signalled.
  bool up = false;
  for (const ULONGLONG until = ::GetTickCount64() + kGenerousMs; !up && ::GetTickCount64() < until;
       ::Sleep(50)) {
    HANDLE e = ::OpenEventW(SYNCHRONIZE, FALSE, L"Global\\{AA2FD877-ED65-4499-9C86-D90FB5CC1F9D}");
    up = e && ::WaitForSingleObject(e, 0) == WAIT_OBJECT_0;
    if (e) ::CloseHandle(e);
  }
  ASSERT_TRUE(up);

  HMODULE vdfp = ::LoadLibraryW((OwnDir() + L"VDFPApi.dll").c_str());
  ASSERT_NE(vdfp, nullptr);
  using PfnInit = HRESULT(WINAPI*)();
  using PfnCreate = HRESULT(WINAPI*)(DWORD, const GUID*, DWORD, HWND, UINT, HVDFPACQUISITION*);
  using PfnAcq = HRESULT(WINAPI*)(HVDFPACQUISITION);
  ASSERT_EQ(Proc<PfnInit>(vdfp, "VDFPInit")(), S_OK);
  HWND w =
      ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  const GUID any{};
  HVDFPACQUISITION acq = nullptr;
  ASSERT_EQ(
      Proc<PfnCreate>(vdfp, "VDFPCreateAcquisition")(3, &any, 2, w, VDFP_READER_MESSAGE, &acq),
      S_OK);
  ASSERT_EQ(Proc<PfnAcq>(vdfp, "VDFPStartAcquisition")(acq), S_OK);

  EXPECT_EQ(RunHost(L"-touch alice"), std::optional<DWORD>(0u));
  std::vector<WPARAM> codes;
  for (const ULONGLONG until = ::GetTickCount64() + kGenerousMs;
       codes.size() < 3 && ::GetTickCount64() < until;) {
    MSG msg;
    if (::PeekMessageW(&msg, w, VDFP_READER_MESSAGE, VDFP_READER_MESSAGE, PM_REMOVE)) {
      codes.push_back(msg.wParam);
    } else {
      ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
    }
  }
  EXPECT_EQ(codes,
            (std::vector<WPARAM>{VDFP_WN_FINGER_TOUCHED, VDFP_WN_IMAGE_READY, VDFP_WN_COMPLETED}));

  Proc<PfnAcq>(vdfp, "VDFPStopAcquisition")(acq);
  Proc<PfnAcq>(vdfp, "VDFPDestroyAcquisition")(acq);
  Proc<PfnInit>(vdfp, "VDFPTerm")();
  ::DestroyWindow(w);
  ::TerminateProcess(host.hProcess, 0);
  ::WaitForSingleObject(host.hProcess, kGenerousMs);
  ::CloseHandle(host.hProcess);
}

}  // namespace
