// Kernel and shell: started programs and their exit codes, copies, moves, folders with
// their parents, "\\?\" paths, computer names and well-known SIDs.
#include <cwchar>
#include <string>
#include <vector>

#include "platform/handles.h"
#include "tests/conformance/backend.h"

namespace conformance {
namespace {

using platform::UniqueFile;
using platform::UniqueHandle;

class FilesProcessConformance : public ConformanceTest {
 protected:
  void SetUp() override {
    ConformanceTest::SetUp();
    wchar_t temp[MAX_PATH];
    const DWORD n = K().ExpandEnvironmentStringsW(L"%TEMP%", temp, MAX_PATH);
    ASSERT_GT(n, 1u);
    m_folder = std::wstring(temp) + L"\\" + B().Unique(L"VdConformanceFiles");
    const int made = Plat().Shell().SHCreateDirectoryExW(nullptr, m_folder.c_str(), nullptr);
    ASSERT_TRUE(made == ERROR_SUCCESS || made == ERROR_ALREADY_EXISTS) << made;
  }
  void TearDown() override {
    for (const auto& f : m_files) K().DeleteFileW(f.c_str());
    ConformanceTest::TearDown();
  }

  platform::IKernel& K() { return Plat().Kernel(); }
  // A path in this test's own folder; the file is deleted afterwards.
  std::wstring In(const std::wstring& name) {
    m_files.push_back(m_folder + L"\\" + name);
    return m_files.back();
  }
  void Write(const std::wstring& path, const std::string& bytes) {
    UniqueFile f(K(), K().CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(f) << K().GetLastError();
    DWORD written = 0;
    ASSERT_TRUE(
        K().WriteFile(f.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
  }
  // The file's content, or "<missing>".
  std::string Read(const std::wstring& path) {
    UniqueFile f(K(), K().CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!f) return "<missing>";
    std::string out(512 * 1024, '\0');
    DWORD read = 0;
    EXPECT_TRUE(K().ReadFile(f.get(), out.data(), static_cast<DWORD>(out.size()), &read, nullptr));
    out.resize(read);
    return out;
  }
  // CreateProcessW as the agent calls it; the last error on failure.
  BOOL Start(const wchar_t* application, const wchar_t* commandLine, PROCESS_INFORMATION* pi) {
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    std::wstring line = commandLine ? commandLine : L"";
    *pi = PROCESS_INFORMATION{};
    return K().CreateProcessW(application, commandLine ? line.data() : nullptr, nullptr, nullptr,
                              FALSE, NORMAL_PRIORITY_CLASS, nullptr, nullptr, &si, pi);
  }

  std::wstring m_folder;
  std::vector<std::wstring> m_files;
};

// ---- Programs ----------------------------------------------------------------------------------

TEST_F(FilesProcessConformance, StartingAScriptOrAMissingFileFails) {
  const std::wstring script = In(L"unlock.vbs");
  Write(script, "WScript.Quit 7\r\n");
  PROCESS_INFORMATION pi;
  K().SetLastError(0xCCCC);
  EXPECT_FALSE(Start(script.c_str(), nullptr, &pi));
  EXPECT_EQ(K().GetLastError(), static_cast<DWORD>(ERROR_BAD_EXE_FORMAT));
  K().SetLastError(0xCCCC);
  EXPECT_FALSE(Start(In(L"missing.exe").c_str(), nullptr, &pi));
  EXPECT_EQ(K().GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(FilesProcessConformance, ProcessHandleSignalsAtTheEndAndGivesTheExitCode) {
  PROCESS_INFORMATION pi;
  ASSERT_TRUE(Start(nullptr, L"cmd.exe /c exit 7", &pi)) << K().GetLastError();
  UniqueHandle process(K(), pi.hProcess), thread(K(), pi.hThread);
  EXPECT_NE(pi.dwProcessId, 0u);
  EXPECT_NE(pi.dwProcessId, K().GetCurrentProcessId());
  ASSERT_EQ(K().WaitForSingleObject(pi.hProcess, 20000), WAIT_OBJECT_0);
  DWORD code = 0xCCCCCCCC;
  ASSERT_TRUE(K().GetExitCodeProcess(pi.hProcess, &code));
  EXPECT_EQ(code, 7u);
  // An ended program stays signalled, its thread too.
  EXPECT_EQ(K().WaitForSingleObject(pi.hProcess, 0), WAIT_OBJECT_0);
  EXPECT_EQ(K().WaitForSingleObject(pi.hThread, 20000), WAIT_OBJECT_0);
}

TEST_F(FilesProcessConformance, LongPathPrefixWorksForPrograms) {
  wchar_t system[MAX_PATH];
  ASSERT_GT(K().GetSystemDirectoryW(system, MAX_PATH), 0u);
  const std::wstring cmd = L"\\\\?\\" + std::wstring(system) + L"\\cmd.exe";
  PROCESS_INFORMATION pi;
  ASSERT_TRUE(Start(cmd.c_str(), L"cmd.exe /c exit 3", &pi)) << K().GetLastError();
  UniqueHandle process(K(), pi.hProcess), thread(K(), pi.hThread);
  ASSERT_EQ(K().WaitForSingleObject(pi.hProcess, 20000), WAIT_OBJECT_0);
  DWORD code = 0;
  ASSERT_TRUE(K().GetExitCodeProcess(pi.hProcess, &code));
  EXPECT_EQ(code, 3u);
}

// ---- Copies, moves and folders -----------------------------------------------------------------

TEST_F(FilesProcessConformance, CopyAndMoveKeepOrReplaceAsAsked) {
  const std::wstring source = In(L"source.vbs");
  const std::wstring local = In(L"local.vbs");
  const std::wstring saved = In(L"local.vbs.tmp");
  Write(source, "new");
  Write(local, "current");

  K().SetLastError(0xCCCC);
  EXPECT_FALSE(K().CopyFileExW(source.c_str(), local.c_str(), nullptr, nullptr, nullptr,
                               COPY_FILE_FAIL_IF_EXISTS));
  EXPECT_EQ(K().GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
  EXPECT_EQ(Read(local), "current");
  K().SetLastError(0xCCCC);
  EXPECT_FALSE(K().CopyFileExW(In(L"none.vbs").c_str(), In(L"none-copy.vbs").c_str(), nullptr,
                               nullptr, nullptr, 0));
  EXPECT_EQ(K().GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(Read(m_folder + L"\\none-copy.vbs"), "<missing>");

  // The kiosk refresh: the current copy moves aside, the source is copied over.
  Write(saved, "older");
  K().SetLastError(0xCCCC);
  EXPECT_FALSE(K().MoveFileExW(local.c_str(), saved.c_str(), 0));
  EXPECT_EQ(K().GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  ASSERT_TRUE(K().MoveFileExW(local.c_str(), saved.c_str(), MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(Read(local), "<missing>");
  EXPECT_EQ(Read(saved), "current");
  ASSERT_TRUE(K().CopyFileExW((L"\\\\?\\" + source).c_str(), (L"\\\\?\\" + local).c_str(), nullptr,
                              nullptr, nullptr, 0));
  EXPECT_EQ(Read(local), "new");
  K().SetLastError(0xCCCC);
  EXPECT_FALSE(K().MoveFileExW(In(L"gone.vbs").c_str(), local.c_str(), MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(K().GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(FilesProcessConformance, ShellCreatesEveryMissingParent) {
  platform::IShell& shell = Plat().Shell();
  const std::wstring deep = m_folder + L"\\VDScripts\\KioskUnlock";
  const int first = shell.SHCreateDirectoryExW(nullptr, deep.c_str(), nullptr);
  EXPECT_TRUE(first == ERROR_SUCCESS || first == ERROR_ALREADY_EXISTS) << first;
  EXPECT_EQ(K().GetFileAttributesW(deep.c_str()) & FILE_ATTRIBUTE_DIRECTORY,
            static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(shell.SHCreateDirectoryExW(nullptr, deep.c_str(), nullptr), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(shell.SHCreateDirectoryExW(nullptr, L"VDScripts\\KioskUnlock", nullptr),
            ERROR_BAD_PATHNAME);
  // A file in the new folder is reachable at once.
  const std::wstring file = deep + L"\\unlock.vbs";
  m_files.push_back(file);
  Write(file, "x");
  EXPECT_EQ(Read(file), "x");
}

// Counts the progress routine's calls and cancels at the first chunk when asked.
struct CopyProgress {
  int streamSwitches = 0;
  int chunks = 0;
  LONGLONG lastTransferred = -1;
  LONGLONG total = -1;
  bool cancel = false;
  static DWORD CALLBACK Routine(LARGE_INTEGER total, LARGE_INTEGER transferred, LARGE_INTEGER,
                                LARGE_INTEGER, DWORD, DWORD reason, HANDLE, HANDLE, LPVOID data) {
    auto* self = static_cast<CopyProgress*>(data);
    if (reason == CALLBACK_STREAM_SWITCH) ++self->streamSwitches;
    if (reason == CALLBACK_CHUNK_FINISHED) ++self->chunks;
    self->lastTransferred = transferred.QuadPart;
    self->total = total.QuadPart;
    return self->cancel && reason == CALLBACK_CHUNK_FINISHED ? PROGRESS_CANCEL : PROGRESS_CONTINUE;
  }
};

constexpr const char* kWineNoProgress =
    "Wine never calls CopyFileExW's progress routine (cancel is ignored too)";

TEST_F(FilesProcessConformance, CopyReportsItsProgressAndCanBeCancelled) {
  SKIP_ON_WINE(kWineNoProgress);
  const std::wstring source = In(L"large.bin");
  const std::string content(300 * 1024, 'L');
  Write(source, content);
  CopyProgress done;
  ASSERT_TRUE(K().CopyFileExW(source.c_str(), In(L"large-copy.bin").c_str(), &CopyProgress::Routine,
                              &done, nullptr, 0));
  EXPECT_EQ(done.streamSwitches, 1);
  EXPECT_GE(done.chunks, 1);
  EXPECT_EQ(done.lastTransferred, static_cast<LONGLONG>(content.size()));
  EXPECT_EQ(done.total, static_cast<LONGLONG>(content.size()));

  const std::wstring target = In(L"large-cancelled.bin");
  Write(target, "previous");
  CopyProgress cancelled;
  cancelled.cancel = true;
  K().SetLastError(0xCCCC);
  EXPECT_FALSE(K().CopyFileExW(source.c_str(), target.c_str(), &CopyProgress::Routine, &cancelled,
                               nullptr, 0));
  EXPECT_EQ(K().GetLastError(), static_cast<DWORD>(ERROR_REQUEST_ABORTED));
  EXPECT_EQ(cancelled.chunks, 1);
  // No partial copy stays, and the file it replaced is gone with it.
  EXPECT_EQ(Read(target), "<missing>");
}

// Fails once Wine calls the routine: the test above may then run there too.
TEST_F(FilesProcessConformance, WineStillCopiesWithoutCallingTheProgressRoutine) {
  if (!B().IsWine()) GTEST_SKIP() << "a check of Wine's gap";
  const std::wstring source = In(L"wine.bin");
  Write(source, std::string(300 * 1024, 'W'));
  CopyProgress progress;
  progress.cancel = true;
  EXPECT_TRUE(K().CopyFileExW(source.c_str(), In(L"wine-copy.bin").c_str(), &CopyProgress::Routine,
                              &progress, nullptr, 0));
  EXPECT_EQ(progress.streamSwitches + progress.chunks, 0);
}

// ---- Names and SIDs ----------------------------------------------------------------------------

TEST_F(FilesProcessConformance, ComputerNamesSizeTheirBufferAsDocumented) {
  wchar_t plain[64];
  DWORD plainSize = 64;
  ASSERT_TRUE(K().GetComputerNameW(plain, &plainSize));
  for (COMPUTER_NAME_FORMAT type :
       {ComputerNameNetBIOS, ComputerNameDnsHostname, ComputerNameDnsFullyQualified}) {
    SCOPED_TRACE(type);
    DWORD size = 0;
    K().SetLastError(0xCCCC);
    EXPECT_FALSE(K().GetComputerNameExW(type, nullptr, &size));
    EXPECT_EQ(K().GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
    ASSERT_GT(size, 1u);
    std::vector<wchar_t> buffer(size + 1, L'\x2222');
    const DWORD needed = size;
    ASSERT_TRUE(K().GetComputerNameExW(type, buffer.data(), &size));
    EXPECT_EQ(size, needed - 1);
    EXPECT_EQ(std::wcslen(buffer.data()), size);
    EXPECT_EQ(buffer[needed], L'\x2222') << "wrote past the room it asked for";
    if (type == ComputerNameNetBIOS) {
      EXPECT_EQ(std::wstring(buffer.data()), plain);
    }
  }
  // Outside a domain the domain is empty; inside it is a name. Either way the call works.
  wchar_t domain[256];
  DWORD size = 256;
  EXPECT_TRUE(K().GetComputerNameExW(ComputerNameDnsDomain, domain, &size));
  EXPECT_EQ(std::wcslen(domain), size);
}

TEST_F(FilesProcessConformance, WellKnownSidsAndMembershipCalls) {
  struct Row {
    WELL_KNOWN_SID_TYPE type;
    DWORD size;
  };
  for (const Row& row : {Row{WinLocalSystemSid, 12}, Row{WinBuiltinAdministratorsSid, 16}}) {
    SCOPED_TRACE(row.type);
    DWORD size = 0;
    K().SetLastError(0xCCCC);
    EXPECT_FALSE(K().CreateWellKnownSid(row.type, nullptr, nullptr, &size));
    EXPECT_EQ(K().GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(size, row.size);
    BYTE sid[SECURITY_MAX_SID_SIZE];
    size = sizeof(sid);
    ASSERT_TRUE(K().CreateWellKnownSid(row.type, nullptr, sid, &size));
    EXPECT_EQ(size, row.size);
    EXPECT_EQ(sid[0], 1) << "revision";
    EXPECT_EQ(sid[7], 5) << "NT authority";
    // Whether this test runs as an administrator is the machine's business; the call works.
    BOOL member = 2;
    EXPECT_TRUE(K().CheckTokenMembership(nullptr, sid, &member));
    EXPECT_TRUE(member == TRUE || member == FALSE);
  }
}

}  // namespace
}  // namespace conformance
