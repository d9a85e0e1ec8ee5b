// Files of the simulated machine through a process's IKernel: creation dispositions,
// access, appending, the host mapping and the current folder.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "platform/handles.h"
#include "platform/sim/file_system.h"
#include "platform/sim/machine.h"
#include "platform/sim/process.h"

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

}  // namespace
