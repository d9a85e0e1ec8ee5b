// Files of the simulated machine through a process's IKernel: creation dispositions,
// access, appending, the host mapping and the current folder; copies on the virtual clock,
// moves, network shares, and the shell's folder creation and older launch call.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "platform/handles.h"
#include "platform/sim/file_system.h"
#include "platform/sim/machine.h"
#include "platform/sim/process.h"
#include "platform/sim/process_shell.h"

namespace {

using platform::UniqueFile;

class SimFilesTest : public ::testing::Test {
 protected:
  SimFilesTest() : m_process(m_machine.CreateProcess({})), m_k(m_process->Kernel()) {}

  HANDLE Open(const std::wstring& path, DWORD access, DWORD disposition) {
    return m_k.CreateFileW(path.c_str(), access, FILE_SHARE_READ, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  void Write(HANDLE h, const std::string& s) {
    DWORD written = 0;
    ASSERT_TRUE(m_k.WriteFile(h, s.data(), static_cast<DWORD>(s.size()), &written, nullptr));
    ASSERT_EQ(written, s.size());
  }
  std::string ReadAll(HANDLE h) {
    std::string out(4096, '\0');
    DWORD read = 0;
    EXPECT_TRUE(m_k.ReadFile(h, out.data(), static_cast<DWORD>(out.size()), &read, nullptr));
    out.resize(read);
    return out;
  }
  std::string Host(const std::wstring& path) {
    std::ifstream in(m_machine.Files().HostPath(path), std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }

  sim::Machine m_machine;
  std::unique_ptr<sim::Process> m_process;
  platform::IKernel& m_k;
};

TEST_F(SimFilesTest, DispositionsFollowWindows) {
  const std::wstring path = L"C:\\ProgramData\\log.txt";
  struct Step {
    DWORD disposition;
    bool exists;  // before the call
    bool opens;
    DWORD error;  // last error afterwards
  };
  const Step steps[] = {
      {OPEN_EXISTING, false, false, ERROR_FILE_NOT_FOUND},
      {TRUNCATE_EXISTING, false, false, ERROR_FILE_NOT_FOUND},
      {CREATE_NEW, false, true, ERROR_SUCCESS},
      {CREATE_NEW, true, false, ERROR_FILE_EXISTS},
      {CREATE_ALWAYS, true, true, ERROR_ALREADY_EXISTS},
      {OPEN_ALWAYS, true, true, ERROR_ALREADY_EXISTS},
      {OPEN_EXISTING, true, true, ERROR_SUCCESS},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.disposition);
    ASSERT_EQ(m_machine.Files().Exists(path), s.exists);
    m_k.SetLastError(12345);
    UniqueFile f(m_k, Open(path, GENERIC_READ | GENERIC_WRITE, s.disposition));
    EXPECT_EQ(static_cast<bool>(f), s.opens);
    EXPECT_EQ(m_k.GetLastError(), s.error);
  }
}

TEST_F(SimFilesTest, OpeningOnlyExistingFilesTellsMissingFileFromMissingFolder) {
  EXPECT_EQ(Open(L"C:\\ProgramData\\none.txt", GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(m_k.GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Open(L"C:\\NoFolder\\none.txt", GENERIC_WRITE, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(m_k.GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(Open(L"Q:\\x.txt", GENERIC_WRITE, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(m_k.GetLastError(), ERROR_PATH_NOT_FOUND);
  // A folder is not a file.
  EXPECT_EQ(Open(L"C:\\ProgramData", GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(m_k.GetLastError(), ERROR_ACCESS_DENIED);
}

TEST_F(SimFilesTest, CreateAlwaysAndTruncateEmptyTheFileOpenAlwaysKeepsIt) {
  const std::wstring path = L"C:\\ProgramData\\data.bin";
  m_machine.Files().WriteFile(path, "previous");
  {
    UniqueFile f(m_k, Open(path, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS));
    EXPECT_EQ(ReadAll(f.get()), "previous");
  }
  {
    UniqueFile f(m_k, Open(path, GENERIC_WRITE, TRUNCATE_EXISTING));
    ASSERT_TRUE(f);
    LARGE_INTEGER size{};
    ASSERT_TRUE(m_k.GetFileSizeEx(f.get(), &size));
    EXPECT_EQ(size.QuadPart, 0);
  }
  m_machine.Files().WriteFile(path, "previous");
  {
    UniqueFile f(m_k, Open(path, GENERIC_WRITE, CREATE_ALWAYS));
    Write(f.get(), "new");
  }
  EXPECT_EQ(Host(path), "new");
  // Truncating needs write access.
  EXPECT_EQ(Open(path, GENERIC_READ, TRUNCATE_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(m_k.GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(SimFilesTest, AccessModesAndTheFilePointer) {
  const std::wstring path = L"C:\\ProgramData\\rw.txt";
  UniqueFile w(m_k, Open(path, GENERIC_WRITE, CREATE_ALWAYS));
  Write(w.get(), "0123456789");
  char buf[4];
  DWORD read = 0;
  EXPECT_FALSE(m_k.ReadFile(w.get(), buf, 4, &read, nullptr));
  EXPECT_EQ(m_k.GetLastError(), ERROR_ACCESS_DENIED);

  UniqueFile r(m_k, Open(path, GENERIC_READ, OPEN_EXISTING));
  LARGE_INTEGER to{}, at{};
  to.QuadPart = -3;
  ASSERT_TRUE(m_k.SetFilePointerEx(r.get(), to, &at, FILE_END));
  EXPECT_EQ(at.QuadPart, 7);
  EXPECT_EQ(ReadAll(r.get()), "789");
  EXPECT_EQ(ReadAll(r.get()), "");  // end of file: success with nothing read
  to.QuadPart = -20;
  EXPECT_FALSE(m_k.SetFilePointerEx(r.get(), to, &at, FILE_CURRENT));
  EXPECT_EQ(m_k.GetLastError(), ERROR_NEGATIVE_SEEK);
  DWORD written = 0;
  EXPECT_FALSE(m_k.WriteFile(r.get(), "x", 1, &written, nullptr));
  EXPECT_EQ(m_k.GetLastError(), ERROR_ACCESS_DENIED);

  // Writing in the middle overwrites.
  to.QuadPart = 2;
  ASSERT_TRUE(m_k.SetFilePointerEx(w.get(), to, nullptr, FILE_BEGIN));
  Write(w.get(), "ab");
  EXPECT_EQ(Host(path), "01ab456789");
}

TEST_F(SimFilesTest, AppendOnlyWritesLandAtTheEndAndReachTheHostAtOnce) {
  const std::wstring path = L"C:\\ProgramData\\Agent.log";
  UniqueFile a(m_k, Open(path, FILE_APPEND_DATA, OPEN_ALWAYS));
  UniqueFile b(m_k, Open(path, FILE_APPEND_DATA, OPEN_ALWAYS));
  Write(a.get(), "one ");
  EXPECT_EQ(Host(path), "one ");  // a reader on the host sees it while the handle is open
  Write(b.get(), "two ");
  LARGE_INTEGER start{};
  ASSERT_TRUE(m_k.SetFilePointerEx(a.get(), start, nullptr, FILE_BEGIN));
  Write(a.get(), "three");
  EXPECT_EQ(Host(path), "one two three");
}

TEST_F(SimFilesTest, WindowsPathsMapToLowerCaseHostPaths) {
  auto& fs = m_machine.Files();
  EXPECT_EQ(fs.HostPath(L"C:\\Program Files\\Veridane\\VdAgent.EXE"),
            m_machine.Description().diskRoot / "c" / "program files" / "veridane" / "vdagent.exe");
  EXPECT_EQ(fs.HostPath(L"c:/ProgramData/./x/../Y.txt"),
            m_machine.Description().diskRoot / "c" / "programdata" / "y.txt");
  EXPECT_TRUE(fs.HostPath(L"\\\\server\\share\\x").empty());
  {
    UniqueFile f(m_k, Open(L"C:\\ProgramData\\MixedCase.TXT", GENERIC_WRITE, CREATE_NEW));
    Write(f.get(), "x");
  }
  UniqueFile again(m_k, Open(L"c:\\programdata\\mixedcase.txt", GENERIC_READ, OPEN_EXISTING));
  EXPECT_TRUE(again);
  EXPECT_EQ(sim::FileSystem::FullPath(L"D:\\Work", L"..\\a\\.\\b. "), L"D:\\a\\b");
  EXPECT_EQ(sim::FileSystem::FullPath(L"C:\\Work", L"\\Root.txt"), L"C:\\Root.txt");
}

TEST_F(SimFilesTest, CurrentFolderResolvesRelativePaths) {
  // A process starts in its program's folder, which exists.
  WCHAR buf[MAX_PATH];
  DWORD n = m_k.GetCurrentDirectoryW(MAX_PATH, buf);
  EXPECT_EQ(std::wstring(buf, n), L"C:\\Program Files\\Veridane\\Agent");
  EXPECT_EQ(m_k.GetFileAttributesW(buf), FILE_ATTRIBUTE_DIRECTORY);
  // Too small a buffer: the size needed, with the zero.
  EXPECT_EQ(m_k.GetCurrentDirectoryW(5, buf), n + 1);

  ASSERT_TRUE(m_k.CreateDirectoryW(L"C:\\Work", nullptr));
  EXPECT_FALSE(m_k.CreateDirectoryW(L"C:\\Work", nullptr));
  EXPECT_EQ(m_k.GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_FALSE(m_k.CreateDirectoryW(L"C:\\No\\Such", nullptr));
  EXPECT_EQ(m_k.GetLastError(), ERROR_PATH_NOT_FOUND);
  ASSERT_TRUE(m_k.SetCurrentDirectoryW(L"C:\\work\\"));
  n = m_k.GetCurrentDirectoryW(MAX_PATH, buf);
  EXPECT_EQ(std::wstring(buf, n), L"C:\\work");
  {
    UniqueFile f(m_k, Open(L"rel.txt", GENERIC_WRITE, CREATE_NEW));
    Write(f.get(), "relative");
  }
  EXPECT_EQ(Host(L"C:\\Work\\REL.txt"), "relative");
  EXPECT_EQ(m_k.GetFileAttributesW(L"rel.txt"), FILE_ATTRIBUTE_ARCHIVE);

  EXPECT_FALSE(m_k.SetCurrentDirectoryW(L"C:\\Missing"));
  EXPECT_EQ(m_k.GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(m_k.SetCurrentDirectoryW(L"rel.txt"));
  EXPECT_EQ(m_k.GetLastError(), ERROR_DIRECTORY);
  n = m_k.GetCurrentDirectoryW(MAX_PATH, buf);
  EXPECT_EQ(std::wstring(buf, n), L"C:\\work");
}

TEST_F(SimFilesTest, DeletingAndAskingForAttributes) {
  m_machine.Files().WriteFile(L"C:\\ProgramData\\gone.txt", "x");
  EXPECT_EQ(m_k.GetFileAttributesW(L"C:\\ProgramData\\gone.txt"), FILE_ATTRIBUTE_ARCHIVE);
  EXPECT_TRUE(m_k.DeleteFileW(L"C:\\ProgramData\\GONE.txt"));
  EXPECT_EQ(m_k.GetFileAttributesW(L"C:\\ProgramData\\gone.txt"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(m_k.GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(m_k.DeleteFileW(L"C:\\ProgramData\\gone.txt"));
  EXPECT_EQ(m_k.GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(m_k.GetFileAttributesW(L"C:\\Nope\\gone.txt"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(m_k.GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_FALSE(m_k.DeleteFileW(L"C:\\ProgramData"));
  EXPECT_EQ(m_k.GetLastError(), ERROR_ACCESS_DENIED);
}

TEST_F(SimFilesTest, FileHandlesBelongToTheirProcess) {
  UniqueFile f(m_k, Open(L"C:\\ProgramData\\mine.txt", GENERIC_WRITE, CREATE_ALWAYS));
  auto other = m_machine.CreateProcess({});
  DWORD written = 0;
  EXPECT_FALSE(other->Kernel().WriteFile(f.get(), "x", 1, &written, nullptr));
  EXPECT_EQ(other->Kernel().GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(other->Kernel().CloseHandle(f.get()));
  // Closing twice is refused the second time.
  HANDLE h = f.release();
  EXPECT_TRUE(m_k.CloseHandle(h));
  EXPECT_FALSE(m_k.CloseHandle(h));
  EXPECT_EQ(m_k.GetLastError(), ERROR_INVALID_HANDLE);
}

// ---- Copies ----------------------------------------------------------------------------------

// What the progress routine saw: (reason, bytes so far, total, virtual time).
struct Progress {
  sim::Machine* machine = nullptr;
  std::vector<std::tuple<DWORD, LONGLONG, LONGLONG, ULONGLONG>> calls{};
  // Answer PROGRESS_CANCEL once the copy has run this long (virtual ms), as the kiosk
  // refresh does after 2 s.
  ULONGLONG cancelAfterMs = ~0ull;
  ULONGLONG startMs = 0;
  BOOL* setFlagAfterSecondChunk = nullptr;

  static DWORD CALLBACK Routine(LARGE_INTEGER total, LARGE_INTEGER transferred, LARGE_INTEGER,
                                LARGE_INTEGER, DWORD, DWORD reason, HANDLE source, HANDLE target,
                                LPVOID data) {
    auto* self = static_cast<Progress*>(data);
    EXPECT_NE(source, nullptr);
    EXPECT_NE(target, nullptr);
    const ULONGLONG now = self->machine->GetClock().NowMs();
    self->calls.emplace_back(reason, transferred.QuadPart, total.QuadPart, now);
    if (self->setFlagAfterSecondChunk && self->calls.size() == 3)
      *self->setFlagAfterSecondChunk = TRUE;
    return now - self->startMs >= self->cancelAfterMs ? PROGRESS_CANCEL : PROGRESS_CONTINUE;
  }
};

TEST_F(SimFilesTest, CopyTakesVirtualTimePerChunkAndReportsEachOne) {
  auto& fs = m_machine.Files();
  fs.SetCopySpeed(1024);  // 1 KiB per ms: a 64 KiB chunk takes 64 ms
  const std::string content(200 * 1024 + 5, 'x');
  fs.WriteFile(L"C:\\Scripts\\big.vbs", content);
  m_machine.AdvanceBy(1000);
  Progress p{&m_machine};
  p.startMs = 1000;
  ASSERT_TRUE(m_k.CopyFileExW(L"C:\\Scripts\\big.vbs", L"C:\\ProgramData\\big.vbs",
                              &Progress::Routine, &p, nullptr, 0));
  const LONGLONG total = static_cast<LONGLONG>(content.size());
  const std::vector<std::tuple<DWORD, LONGLONG, LONGLONG, ULONGLONG>> expected = {
      {CALLBACK_STREAM_SWITCH, 0, total, 1000},
      {CALLBACK_CHUNK_FINISHED, 65536, total, 1064},
      {CALLBACK_CHUNK_FINISHED, 131072, total, 1128},
      {CALLBACK_CHUNK_FINISHED, 196608, total, 1192},
      {CALLBACK_CHUNK_FINISHED, total, total, 1200},
  };
  EXPECT_EQ(p.calls, expected);
  EXPECT_EQ(fs.ReadFile(L"C:\\ProgramData\\big.vbs"), content);
  EXPECT_EQ(m_machine.GetClock().NowMs(), 1200u);
  // The source's handles were the caller's for the copy only.
  EXPECT_EQ(m_machine.Objects().HandleCount(m_process->Pid()), 0u);

  // At the default speed a small file takes no time at all.
  fs.SetCopySpeed(1024 * 1024);
  fs.WriteFile(L"C:\\Scripts\\small.vbs", "WScript.Quit 0");
  ASSERT_TRUE(m_k.CopyFileExW(L"C:\\Scripts\\small.vbs", L"C:\\ProgramData\\small.vbs", nullptr,
                              nullptr, nullptr, 0));
  EXPECT_EQ(m_machine.GetClock().NowMs(), 1200u);
}

TEST_F(SimFilesTest, CancelledCopyLeavesNoFileNotEvenTheOneItReplaced) {
  auto& fs = m_machine.Files();
  fs.SetCopySpeed(64);  // 1024 ms per 64 KiB chunk
  fs.WriteFile(L"C:\\Scripts\\big.vbs", std::string(300 * 1024, 'n'));
  fs.WriteFile(L"C:\\Temp\\big.vbs", "previous copy");
  Progress p{&m_machine};
  p.cancelAfterMs = 2000;
  EXPECT_FALSE(m_k.CopyFileExW(L"C:\\Scripts\\big.vbs", L"C:\\Temp\\big.vbs", &Progress::Routine,
                               &p, nullptr, 0));
  EXPECT_EQ(m_k.GetLastError(), static_cast<DWORD>(ERROR_REQUEST_ABORTED));
  ASSERT_EQ(p.calls.size(), 3u);  // the switch, then chunks at 1024 and 2048 ms
  EXPECT_EQ(std::get<3>(p.calls.back()), 2048u);
  EXPECT_FALSE(fs.Exists(L"C:\\Temp\\big.vbs"));

  // The caller's flag stops it the same way.
  BOOL cancel = FALSE;
  Progress flagged{&m_machine};
  flagged.setFlagAfterSecondChunk = &cancel;
  EXPECT_FALSE(m_k.CopyFileExW(L"C:\\Scripts\\big.vbs", L"C:\\Temp\\big.vbs", &Progress::Routine,
                               &flagged, &cancel, 0));
  EXPECT_EQ(m_k.GetLastError(), static_cast<DWORD>(ERROR_REQUEST_ABORTED));
  EXPECT_EQ(flagged.calls.size(), 3u);
  EXPECT_FALSE(fs.Exists(L"C:\\Temp\\big.vbs"));
}

TEST_F(SimFilesTest, CopyRefusals) {
  auto& fs = m_machine.Files();
  fs.WriteFile(L"C:\\Scripts\\a.vbs", "new");
  fs.WriteFile(L"C:\\Temp\\a.vbs", "old");
  EXPECT_FALSE(m_k.CopyFileExW(L"C:\\Scripts\\a.vbs", L"C:\\Temp\\a.vbs", nullptr, nullptr, nullptr,
                               COPY_FILE_FAIL_IF_EXISTS));
  EXPECT_EQ(m_k.GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
  EXPECT_EQ(fs.ReadFile(L"C:\\Temp\\a.vbs"), "old");
  EXPECT_FALSE(
      m_k.CopyFileExW(L"C:\\Scripts\\none.vbs", L"C:\\Temp\\b.vbs", nullptr, nullptr, nullptr, 0));
  EXPECT_EQ(m_k.GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(fs.Exists(L"C:\\Temp\\b.vbs"));
  EXPECT_FALSE(m_k.CopyFileExW(L"C:\\Scripts\\a.vbs", L"C:\\No\\Folder\\a.vbs", nullptr, nullptr,
                               nullptr, 0));
  EXPECT_EQ(m_k.GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  // Without the flag an existing file is replaced.
  ASSERT_TRUE(m_k.CopyFileExW(L"\\\\?\\C:\\Scripts\\a.vbs", L"\\\\?\\C:\\Temp\\a.vbs", nullptr,
                              nullptr, nullptr, 0));
  EXPECT_EQ(fs.ReadFile(L"C:\\Temp\\a.vbs"), "new");
}

// ---- Network shares ----------------------------------------------------------------------------

TEST_F(SimFilesTest, SharesMapOntoTheDiskAndCopiesFromThemWaitTheirLatency) {
  auto& fs = m_machine.Files();
  fs.AddShare(L"\\\\corp.example\\SYSVOL", 40);
  const std::wstring script = L"\\\\corp.example\\sysvol\\corp.example\\scripts\\unlock.vbs";
  fs.WriteFile(script, "WScript.Quit 0");
  EXPECT_EQ(fs.HostPath(L"\\\\CORP.example\\sysvol\\x\\..\\Y.txt"),
            m_machine.Description().diskRoot / "unc" / "corp.example" / "sysvol" / "y.txt");
  EXPECT_EQ(m_k.GetFileAttributesW(script.c_str()), FILE_ATTRIBUTE_ARCHIVE);
  EXPECT_EQ(m_k.GetFileAttributesW(L"\\\\?\\UNC\\corp.example\\sysvol\\corp.example\\scripts"),
            FILE_ATTRIBUTE_DIRECTORY);

  ASSERT_TRUE(m_k.CopyFileExW(script.c_str(), L"C:\\Windows\\Temp\\unlock.vbs", nullptr, nullptr,
                              nullptr, 0));
  EXPECT_EQ(m_machine.GetClock().NowMs(), 40u);
  EXPECT_EQ(fs.ReadFile(L"C:\\Windows\\Temp\\unlock.vbs"), "WScript.Quit 0");

  // An unknown server is not found; a known server says it has no such share.
  EXPECT_FALSE(m_k.CopyFileExW(L"\\\\other.example\\sysvol\\x.vbs", L"C:\\Temp\\x.vbs", nullptr,
                               nullptr, nullptr, 0));
  EXPECT_EQ(m_k.GetLastError(), static_cast<DWORD>(ERROR_BAD_NETPATH));
  EXPECT_EQ(m_k.GetFileAttributesW(L"\\\\corp.example\\netlogon\\x.vbs"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(m_k.GetLastError(), static_cast<DWORD>(ERROR_BAD_NET_NAME));
  EXPECT_FALSE(fs.Exists(L"C:\\Temp\\x.vbs"));
}

// ---- Moves -------------------------------------------------------------------------------------

TEST_F(SimFilesTest, MoveReplacesOnlyWhenAskedAndCopiesAcrossVolumesOnlyWhenAllowed) {
  auto& fs = m_machine.Files();
  fs.WriteFile(L"C:\\Temp\\unlock.vbs", "current");
  fs.WriteFile(L"C:\\Temp\\unlock.vbs.tmp", "older");
  EXPECT_FALSE(m_k.MoveFileExW(L"C:\\Temp\\unlock.vbs", L"C:\\Temp\\unlock.vbs.tmp", 0));
  EXPECT_EQ(m_k.GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(fs.ReadFile(L"C:\\Temp\\unlock.vbs.tmp"), "older");
  ASSERT_TRUE(m_k.MoveFileExW(L"C:\\Temp\\unlock.vbs", L"\\\\?\\C:\\Temp\\unlock.vbs.tmp",
                              MOVEFILE_REPLACE_EXISTING));
  EXPECT_FALSE(fs.Exists(L"C:\\Temp\\unlock.vbs"));
  EXPECT_EQ(fs.ReadFile(L"C:\\Temp\\unlock.vbs.tmp"), "current");

  EXPECT_FALSE(
      m_k.MoveFileExW(L"C:\\Temp\\gone.vbs", L"C:\\Temp\\x.vbs", MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(m_k.GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  // A folder is never replaced by a file.
  ASSERT_TRUE(m_k.CreateDirectoryW(L"C:\\Temp\\Folder", nullptr));
  EXPECT_FALSE(
      m_k.MoveFileExW(L"C:\\Temp\\unlock.vbs.tmp", L"C:\\Temp\\Folder", MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(m_k.GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

  // Another volume: only as a copy, when allowed.
  fs.AddShare(L"\\\\files\\drop");
  EXPECT_FALSE(m_k.MoveFileExW(L"C:\\Temp\\unlock.vbs.tmp", L"\\\\files\\drop\\u.vbs", 0));
  EXPECT_EQ(m_k.GetLastError(), static_cast<DWORD>(ERROR_NOT_SAME_DEVICE));
  ASSERT_TRUE(m_k.MoveFileExW(L"C:\\Temp\\unlock.vbs.tmp", L"\\\\files\\drop\\u.vbs",
                              MOVEFILE_COPY_ALLOWED));
  EXPECT_FALSE(fs.Exists(L"C:\\Temp\\unlock.vbs.tmp"));
  EXPECT_EQ(fs.ReadFile(L"\\\\files\\drop\\u.vbs"), "current");
}

// ---- Shell: folders and the older launch call ------------------------------------------------

TEST_F(SimFilesTest, ShellMakesEveryMissingFolderOfARootedPath) {
  platform::IShell& shell = m_process->Shell();
  const std::wstring folder = L"C:\\Users\\alice\\AppData\\Local\\Temp\\VDScripts\\KioskUnlock";
  EXPECT_FALSE(m_machine.Files().Exists(L"C:\\Users\\alice\\AppData\\Local\\Temp\\VDScripts"));
  EXPECT_EQ(shell.SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr), ERROR_SUCCESS);
  EXPECT_EQ(m_k.GetFileAttributesW(folder.c_str()), FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(shell.SHCreateDirectoryExW(nullptr, (folder + L"\\").c_str(), nullptr),
            ERROR_ALREADY_EXISTS);
  EXPECT_EQ(m_k.GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(shell.SHCreateDirectoryExW(nullptr, L"VDScripts\\KioskUnlock", nullptr),
            ERROR_BAD_PATHNAME);
  EXPECT_EQ(shell.SHCreateDirectoryExW(nullptr, L"", nullptr), ERROR_BAD_PATHNAME);
  // A file on the way stops it with the step's error.
  m_machine.Files().WriteFile(L"C:\\Temp\\file", "x");
  EXPECT_EQ(shell.SHCreateDirectoryExW(nullptr, L"C:\\Temp\\file\\sub", nullptr),
            ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(shell.SHCreateDirectoryExW(nullptr, L"\\\\nowhere\\share\\x", nullptr),
            ERROR_BAD_NETPATH);
  EXPECT_EQ(shell.SHCreateDirectoryExW(nullptr, L"\\\\?\\C:\\Deep\\er\\still", nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(m_k.GetFileAttributesW(L"C:\\Deep\\er\\still"), FILE_ATTRIBUTE_DIRECTORY);
}

TEST_F(SimFilesTest, OlderShellLaunchCallStartsAndRecordsLikeTheNewerOne) {
  platform::IShell& shell = m_process->Shell();
  m_machine.Files().WriteFile(L"C:\\Program Files\\Veridane\\Console.exe", "");
  const auto ok = reinterpret_cast<INT_PTR>(
      shell.ShellExecuteW(nullptr, L"open", L"C:\\Program Files\\Veridane\\Console.exe",
                          L"-mode:UserReset", nullptr, SW_SHOWNORMAL));
  EXPECT_GT(ok, 32);
  const auto missing = reinterpret_cast<INT_PTR>(shell.ShellExecuteW(
      nullptr, nullptr, L"C:\\Nowhere\\x.exe", nullptr, nullptr, SW_SHOWNORMAL));
  EXPECT_EQ(missing, SE_ERR_FNF);
  EXPECT_EQ(m_k.GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  const auto launched = sim::LaunchedPrograms(m_machine.GetDesktop(), 1);
  ASSERT_EQ(launched.size(), 1u);
  EXPECT_EQ(launched[0].path, L"C:\\Program Files\\Veridane\\Console.exe");
  EXPECT_EQ(launched[0].arguments, L"-mode:UserReset");
  const auto calls = sim::ShellExecuteCalls(*m_process);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].verb, L"open");
  EXPECT_EQ(calls[0].show, SW_SHOWNORMAL);
  EXPECT_TRUE(calls[0].started);
  EXPECT_EQ(calls[1].file, L"C:\\Nowhere\\x.exe");
  EXPECT_FALSE(calls[1].started);
}

}  // namespace
