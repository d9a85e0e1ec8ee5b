// The simulated shell's folders and links: known folders of each session's user, Windows'
// canonical paths, folder removal, and the link object that a Start menu shortcut is saved
// with.
#include <gtest/gtest.h>

#include <string>

#include "platform/handles.h"
#include "platform/shell_link.h"
#include "platform/sim/desktop.h"
#include "platform/sim/file_system.h"
#include "platform/sim/machine.h"
#include "platform/sim/process.h"
#include "platform/sim/process_com.h"
#include "platform/sim/session_manager.h"
#include "platform/sim/shell_link_object.h"

namespace {

class SimShellLinkTest : public ::testing::Test {
 protected:
  std::unique_ptr<sim::Process> NewProcess(DWORD session = 1) {
    auto p = m.CreateProcess({.sessionId = session, .is32Bit = false});
    EXPECT_EQ(p->Com().CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    return p;
  }
  // The folder's path, or the failing result as text.
  static std::wstring Folder(sim::Process& p, REFKNOWNFOLDERID id, DWORD flags = KF_FLAG_DEFAULT) {
    PWSTR path = nullptr;
    const HRESULT hr = p.Shell().SHGetKnownFolderPath(id, flags, nullptr, &path);
    std::wstring out = SUCCEEDED(hr) ? std::wstring(path) : L"hr " + std::to_wstring(hr);
    if (FAILED(hr)) {
      EXPECT_EQ(path, nullptr);
    }
    p.Com().CoTaskMemFree(path);
    return out;
  }
  static std::wstring Canonical(sim::Process& p, const wchar_t* in) {
    wchar_t buf[MAX_PATH] = L"?";
    if (!p.Shell().PathCanonicalizeW(buf, in))
      return L"error " + std::to_wstring(p.Kernel().GetLastError());
    return buf;
  }

  sim::Machine m;
};

TEST_F(SimShellLinkTest, KnownFoldersFollowTheSessionsUserAndAreFreedWithTaskMemory) {
  const DWORD bob = m.Sessions().CreateSession({.userName = L"bob"});
  auto alice = NewProcess(1);
  auto bobs = NewProcess(bob);
  const long before = sim::ProcessCom::LiveTaskAllocations();

  const std::wstring common = L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu";
  EXPECT_EQ(Folder(*alice, platform::kFolderIdCommonStartMenu), common);
  EXPECT_EQ(Folder(*bobs, platform::kFolderIdCommonStartMenu), common) << "shared by all users";
  EXPECT_TRUE(m.Files().Exists(common + L"\\Programs"));

  // A user's own folders are not there until made; the flags decide what that means.
  const std::wstring bobsPrograms =
      L"C:\\Users\\bob\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs";
  EXPECT_EQ(Folder(*bobs, platform::kFolderIdPrograms),
            L"hr " + std::to_wstring(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)));
  EXPECT_EQ(Folder(*bobs, platform::kFolderIdPrograms, KF_FLAG_DONT_VERIFY), bobsPrograms);
  EXPECT_FALSE(m.Files().Exists(bobsPrograms));
  EXPECT_EQ(Folder(*bobs, platform::kFolderIdPrograms, KF_FLAG_CREATE), bobsPrograms);
  EXPECT_TRUE(m.Files().Exists(bobsPrograms));
  EXPECT_EQ(Folder(*alice, platform::kFolderIdStartMenu, KF_FLAG_DONT_VERIFY),
            L"C:\\Users\\alice\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu");

  const GUID unknown = {0x12345678, 0x1, 0x2, {3, 4, 5, 6, 7, 8, 9, 10}};
  EXPECT_EQ(Folder(*alice, unknown),
            L"hr " + std::to_wstring(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)));
  EXPECT_EQ(sim::ProcessCom::LiveTaskAllocations(), before) << "every path was freed";
}

TEST_F(SimShellLinkTest, PathCanonicalizeDropsDotsWithoutClimbingAboveTheRoot) {
  auto p = NewProcess();
  struct Case {
    const wchar_t* in;
    const wchar_t* out;
  } cases[] = {
      {L"C:\\ProgramData\\Start Menu\\Programs\\Veridane\\A.lnk",
       L"C:\\ProgramData\\Start Menu\\Programs\\Veridane\\A.lnk"},
      {L"C:\\a\\.\\b\\..\\c", L"C:\\a\\c"},
      {L"C:\\a\\b\\..\\..\\..\\..\\c", L"C:\\c"},
      {L"C:\\a\\b\\", L"C:\\a\\b\\"},
      {L"C:\\a\\b\\..", L"C:\\a"},
      {L"C:\\a\\.", L"C:\\a"},
      {L"C:\\..", L"C:\\"},
      {L"\\\\server\\share\\..\\x", L"\\\\server\\share\\x"},
      {L"\\a\\..\\b", L"\\b"},
      {L"a\\..\\b", L"b"},
      {L"..", L"\\"},
      {L"C:\\a.\\...\\b", L"C:\\a.\\...\\b"},
  };
  for (const auto& c : cases) EXPECT_EQ(Canonical(*p, c.in), c.out) << c.in;

  std::wstring longPath = L"C:";
  while (longPath.size() < MAX_PATH) longPath += L"\\folder";
  EXPECT_EQ(Canonical(*p, longPath.c_str()), L"error " + std::to_wstring(ERROR_FILENAME_EXCED_RANGE));
}

TEST_F(SimShellLinkTest, RemoveDirectoryRefusesAFolderThatHoldsSomething) {
  auto p = NewProcess();
  m.Files().WriteFile(L"C:\\Data\\Full\\file.txt", "x");
  ASSERT_TRUE(m.Files().Exists(L"C:\\Data\\Full"));
  auto& k = p->Kernel();
  EXPECT_FALSE(k.RemoveDirectoryW(L"C:\\Data\\Full"));
  EXPECT_EQ(k.GetLastError(), static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
  EXPECT_TRUE(m.Files().Exists(L"C:\\Data\\Full\\file.txt"));
  EXPECT_FALSE(k.RemoveDirectoryW(L"C:\\Data\\Full\\file.txt"));
  EXPECT_EQ(k.GetLastError(), static_cast<DWORD>(ERROR_DIRECTORY));
  EXPECT_FALSE(k.RemoveDirectoryW(L"C:\\Data\\Missing"));
  EXPECT_EQ(k.GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  ASSERT_TRUE(k.DeleteFileW(L"C:\\Data\\Full\\file.txt"));
  EXPECT_TRUE(k.RemoveDirectoryW(L"C:\\Data\\Full"));
  EXPECT_FALSE(m.Files().Exists(L"C:\\Data\\Full"));
  EXPECT_TRUE(m.Files().Exists(L"C:\\Data")) << "only the folder named goes";
}

TEST_F(SimShellLinkTest, ALinkSavesWhatWasSetAndCommitted) {
  auto p = NewProcess();
  platform::ComPtr<IShellLinkW> link;
  ASSERT_EQ(p->Com().CoCreateInstance(platform::kClsidShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                      platform::kIidShellLinkW, link.put_void()),
            S_OK);
  EXPECT_EQ(sim::LiveShellLinks(), 1);
  EXPECT_EQ(link->SetPath(L"C:\\App\\App.exe"), S_OK);
  EXPECT_EQ(link->SetArguments(L"/OpenConsole"), S_OK);
  EXPECT_EQ(link->SetWorkingDirectory(L"C:\\App"), S_OK);
  EXPECT_EQ(link->SetDescription(L"50% more\nlines"), S_OK);
  EXPECT_EQ(link->SetIconLocation(L"C:\\App\\App.exe", -3), S_OK);

  platform::ComPtr<IShellLinkDataList> data;
  ASSERT_EQ(link->QueryInterface(platform::kIidShellLinkDataList, data.put_void()), S_OK);
  DWORD flags = 0;
  ASSERT_EQ(data->GetFlags(&flags), S_OK);
  EXPECT_EQ(flags & SLDF_HAS_EXP_ICON_SZ, SLDF_HAS_EXP_ICON_SZ) << "an icon brings the block";

  platform::ComPtr<IPropertyStore> store;
  ASSERT_EQ(link->QueryInterface(platform::kIidPropertyStore, store.put_void()), S_OK);
  wchar_t id[] = L"Veridane.Test";
  PROPVARIANT v{};
  v.vt = VT_LPWSTR;
  v.pwszVal = id;
  EXPECT_EQ(store->SetValue(platform::kPKeyAppUserModelId, v), S_OK);
  // a string where a CLSID belongs is refused
  EXPECT_EQ(store->SetValue(platform::kPKeyAppUserModelToastActivatorClsid, v), E_INVALIDARG);

  platform::ComPtr<IPersistFile> file;
  ASSERT_EQ(link->QueryInterface(platform::kIidPersistFile, file.put_void()), S_OK);
  const std::wstring folder = L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\T";
  EXPECT_EQ(file->Save((folder + L"\\A.lnk").c_str(), TRUE),
            HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)) << "the folder is the caller's to make";
  ASSERT_EQ(p->Kernel().CreateDirectoryW(folder.c_str(), nullptr), TRUE);

  // Saved before the commit: the id is not in the file.
  ASSERT_EQ(file->Save((folder + L"\\A.lnk").c_str(), TRUE), S_OK);
  auto saved = sim::ReadShellLink(m.Files(), folder + L"\\A.lnk");
  ASSERT_TRUE(saved);
  EXPECT_EQ(saved->target, L"C:\\App\\App.exe");
  EXPECT_EQ(saved->arguments, L"/OpenConsole");
  EXPECT_EQ(saved->workingDirectory, L"C:\\App");
  EXPECT_EQ(saved->description, L"50% more\nlines");
  EXPECT_EQ(saved->iconPath, L"C:\\App\\App.exe");
  EXPECT_EQ(saved->iconIndex, -3);
  EXPECT_TRUE(saved->hasExpandableIconBlock);
  EXPECT_EQ(saved->appUserModelId, L"");

  ASSERT_EQ(data->RemoveDataBlock(EXP_SZ_ICON_SIG), S_OK);
  ASSERT_EQ(data->SetFlags(flags & ~SLDF_HAS_EXP_ICON_SZ), S_OK);
  CLSID activator = {0xA24611C3, 0xA363, 0x4950, {0xB9, 0x31, 0x72, 0x0A, 0x16, 0x18, 0xD9, 0x8A}};
  v.vt = VT_CLSID;
  v.puuid = &activator;
  EXPECT_EQ(store->SetValue(platform::kPKeyAppUserModelToastActivatorClsid, v), S_OK);
  EXPECT_EQ(store->Commit(), S_OK);
  ASSERT_EQ(file->Save((folder + L"\\A.lnk").c_str(), TRUE), S_OK);
  saved = sim::ReadShellLink(m.Files(), folder + L"\\A.lnk");
  ASSERT_TRUE(saved);
  EXPECT_FALSE(saved->hasExpandableIconBlock);
  EXPECT_EQ(saved->flags & SLDF_HAS_EXP_ICON_SZ, 0u);
  EXPECT_EQ(saved->appUserModelId, L"Veridane.Test");
  ASSERT_TRUE(saved->toastActivatorClsid);
  EXPECT_TRUE(*saved->toastActivatorClsid == activator);
  // The user sees each save, with what the link now holds.
  std::vector<std::wstring> shown;
  for (const auto& e : m.GetDesktop().Events())
    if (e.kind == sim::desktop_kind::kShortcut && e.sessionId == 1) shown.push_back(e.text);
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[1], folder + L"\\A.lnk: \"C:\\App\\App.exe\" /OpenConsole, icon "
                      L"C:\\App\\App.exe,-3, AppUserModelID Veridane.Test, activator "
                      L"{A24611C3-A363-4950-B931-720A1618D98A}");

  // Another object reads the file back whole.
  platform::ComPtr<IPersistFile> again;
  ASSERT_EQ(p->Com().CoCreateInstance(platform::kClsidShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                      platform::kIidPersistFile, again.put_void()),
            S_OK);
  ASSERT_EQ(again->Load((folder + L"\\A.lnk").c_str(), STGM_READ), S_OK);
  platform::ComPtr<IShellLinkW> reread;
  ASSERT_EQ(again->QueryInterface(platform::kIidShellLinkW, reread.put_void()), S_OK);
  wchar_t args[4];
  EXPECT_EQ(reread->GetArguments(args, 4), S_OK);
  EXPECT_EQ(std::wstring(args), L"/Op") << "cut to the buffer, terminated";

  link.reset();
  data.reset();
  store.reset();
  file.reset();
  again.reset();
  reread.reset();
  EXPECT_EQ(sim::LiveShellLinks(), 0);
}

TEST_F(SimShellLinkTest, ALinkIsOnlyInProcessAndNotAggregated) {
  auto p = NewProcess();
  void* object = nullptr;
  EXPECT_EQ(p->Com().CoCreateInstance(platform::kClsidShellLink, nullptr, CLSCTX_LOCAL_SERVER,
                                      platform::kIidShellLinkW, &object),
            REGDB_E_CLASSNOTREG);
  IUnknown* outer = reinterpret_cast<IUnknown*>(&object);
  EXPECT_EQ(p->Com().CoCreateInstance(platform::kClsidShellLink, outer, CLSCTX_INPROC_SERVER,
                                      IID_IUnknown, &object),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(object, nullptr);
  EXPECT_FALSE(sim::ParseShellLink("MZ not a link"));
}

}  // namespace
