// COM class objects, OLE dates, shell associations, the process's application id and module
// handles: what the module start, the reminders and the web launcher rely on.
#include <atomic>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <string>
#include <thread>
#include <vector>

#include "platform/handles.h"
#include "tests/conformance/backend.h"

namespace conformance {
namespace {

bool SameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

std::wstring Lower(std::wstring s) {
  for (auto& c : s) c = static_cast<wchar_t>(std::towlower(c));
  return s;
}

// ---- OLE dates ----

struct DateCase {
  const wchar_t* text;
  ULONG flags;
  HRESULT hr;
  double date;  // when hr succeeds
};

// What a US-English user default accepts; dates count days from 1899-12-30.
const DateCase kDates[] = {
    {L"1899-12-30", VAR_DATEVALUEONLY, S_OK, 0.0},
    {L"2026-12-07", VAR_DATEVALUEONLY, S_OK, 46363.0},
    {L"12/7/2026", VAR_DATEVALUEONLY, S_OK, 46363.0},
    {L"2026/12/07", VAR_DATEVALUEONLY, S_OK, 46363.0},
    {L"1/2/2026", VAR_DATEVALUEONLY, S_OK, 46024.0},
    {L"2026-1-2", VAR_DATEVALUEONLY, S_OK, 46024.0},
    {L"  2026-12-07  ", VAR_DATEVALUEONLY, S_OK, 46363.0},
    {L"2028-02-29", VAR_DATEVALUEONLY, S_OK, 46812.0},
    {L"1800-01-01", VAR_DATEVALUEONLY, S_OK, -36522.0},
    {L"2026-12-07 13:45", VAR_DATEVALUEONLY, S_OK, 46363.0},
    {L"2026-12-07 13:45", 0, S_OK, 46363.0 + (13 * 60 + 45) / 1440.0},
    {L"not a date", VAR_DATEVALUEONLY, DISP_E_TYPEMISMATCH, 0},
    {L"", VAR_DATEVALUEONLY, DISP_E_TYPEMISMATCH, 0},
    {L"2026-13-40", VAR_DATEVALUEONLY, DISP_E_TYPEMISMATCH, 0},
    {L"2026-02-30", VAR_DATEVALUEONLY, DISP_E_TYPEMISMATCH, 0},
    {L"2100-02-29", VAR_DATEVALUEONLY, DISP_E_TYPEMISMATCH, 0},
    {L"12.7.2026", VAR_DATEVALUEONLY, DISP_E_TYPEMISMATCH, 0},
};

TEST_F(ConformanceTest, VarDateFromStrReadsTheUserDefaultLocalesDates) {
  for (const auto& c : kDates) {
    SCOPED_TRACE(testing::Message() << "\"" << std::string(c.text, c.text + std::wcslen(c.text))
                                    << "\" flags " << c.flags);
    DATE d = -12345.0;
    EXPECT_EQ(Plat().Com().VarDateFromStr(c.text, LOCALE_USER_DEFAULT, c.flags, &d), c.hr);
    if (SUCCEEDED(c.hr)) {
      EXPECT_NEAR(d, c.date, 1e-6);
    }
  }
}

// ---- Class objects ----

// A COM object that counts its references and the objects its factory made.
class CountedFactory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (SameGuid(riid, IID_IUnknown) || SameGuid(riid, IID_IClassFactory)) {
      *ppv = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    ++created;
    if (outer) return CLASS_E_NOAGGREGATION;
    return product.QueryInterface(riid, ppv);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

  // What CreateInstance hands out: the factory's one product object.
  struct Product final : IUnknown {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
      if (!SameGuid(riid, IID_IUnknown)) {
        *ppv = nullptr;
        return E_NOINTERFACE;
      }
      *ppv = this;
      AddRef();
      return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }
    std::atomic<long> refs{1};
  };

  std::atomic<long> refs{1};
  std::atomic<int> created{0};
  Product product;
};

// Classes no one registers anywhere: made for these tests only.
constexpr GUID kTestClsid = {
    0x6a1c47e2, 0x8b0d, 0x4f55, {0x9e, 0x31, 0x27, 0xd4, 0x0b, 0x6c, 0x51, 0xa8}};
constexpr GUID kUnknownClsid = {
    0x6a1c47e3, 0x8b0d, 0x4f55, {0x9e, 0x31, 0x27, 0xd4, 0x0b, 0x6c, 0x51, 0xa8}};

class ComConformance : public ConformanceTest {
 protected:
  platform::ICom& Com() { return Plat().Com(); }
  // Runs fn on a thread that never entered a COM apartment.
  void OnFreshThread(const std::function<void()>& fn) { std::thread(fn).join(); }
};

TEST_F(ComConformance, AThreadOutsideAnyApartmentIsRefused) {
  CountedFactory factory;
  OnFreshThread([&] {
    DWORD cookie = 77;
    EXPECT_EQ(Com().CoRegisterClassObject(kTestClsid, &factory, CLSCTX_LOCAL_SERVER,
                                          REGCLS_MULTIPLEUSE, &cookie),
              CO_E_NOTINITIALIZED);
    EXPECT_EQ(Com().CoRevokeClassObject(cookie), CO_E_NOTINITIALIZED);
    void* object = &factory;
    EXPECT_EQ(Com().CoCreateInstance(kTestClsid, nullptr, CLSCTX_ALL, IID_IUnknown, &object),
              CO_E_NOTINITIALIZED);
    EXPECT_EQ(object, nullptr);
  });
  EXPECT_EQ(factory.refs.load(), 1) << "a refused registration keeps no reference";
}

TEST_F(ComConformance, ARegisteredClassObjectMakesObjectsUntilItIsRevoked) {
  ASSERT_EQ(Com().CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
  CountedFactory factory;
  DWORD cookie = 0;
  ASSERT_EQ(Com().CoRegisterClassObject(kTestClsid, &factory, CLSCTX_LOCAL_SERVER,
                                        REGCLS_MULTIPLEUSE, &cookie),
            S_OK);
  EXPECT_NE(cookie, 0u);
  EXPECT_GT(factory.refs.load(), 1) << "COM holds the class object while it is registered";

  void* object = nullptr;
  ASSERT_EQ(Com().CoCreateInstance(kTestClsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, &object),
            S_OK);
  EXPECT_EQ(object, static_cast<IUnknown*>(&factory.product));
  EXPECT_EQ(factory.created.load(), 1);
  static_cast<IUnknown*>(object)->Release();

  // CLSCTX_ALL reaches it too: nothing in-process serves the class.
  object = nullptr;
  ASSERT_EQ(Com().CoCreateInstance(kTestClsid, nullptr, CLSCTX_ALL, IID_IUnknown, &object), S_OK);
  EXPECT_EQ(factory.created.load(), 2);
  static_cast<IUnknown*>(object)->Release();

  EXPECT_EQ(Com().CoRevokeClassObject(cookie), S_OK);
  object = &factory;
  EXPECT_EQ(Com().CoCreateInstance(kTestClsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, &object),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(factory.created.load(), 2);
  EXPECT_EQ(factory.product.refs.load(), 1) << "every product reference came back";
  Com().CoUninitialize();
  EXPECT_EQ(factory.refs.load(), 1) << "revoking gave the class object's reference back";
}

TEST_F(ComConformance, AnotherProcessReachesTheClassObjectWhileItIsRegistered) {
  ASSERT_EQ(Com().CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
  CountedFactory factory;
  DWORD cookie = 0;
  ASSERT_EQ(Com().CoRegisterClassObject(kTestClsid, &factory, CLSCTX_LOCAL_SERVER,
                                        REGCLS_MULTIPLEUSE, &cookie),
            S_OK);
  {
    // On Windows the peer is this process again, which reaches its own registration.
    auto peer = B().PeerInSameSession();
    ASSERT_TRUE(SUCCEEDED(peer->Com().CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    void* object = nullptr;
    EXPECT_EQ(peer->Com().CoCreateInstance(kTestClsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown,
                                           &object),
              S_OK);
    EXPECT_EQ(factory.created.load(), 1);
    if (object) static_cast<IUnknown*>(object)->Release();
    peer->Com().CoUninitialize();
  }
  EXPECT_EQ(Com().CoRevokeClassObject(cookie), S_OK);
  Com().CoUninitialize();
}

TEST_F(ComConformance, AnUnknownClassIsNotRegistered) {
  ASSERT_EQ(Com().CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
  for (DWORD context :
       {DWORD{CLSCTX_ALL}, DWORD{CLSCTX_LOCAL_SERVER}, DWORD{CLSCTX_INPROC_SERVER}}) {
    void* object = this;
    EXPECT_EQ(Com().CoCreateInstance(kUnknownClsid, nullptr, context, IID_IUnknown, &object),
              REGDB_E_CLASSNOTREG)
        << "context " << context;
    EXPECT_EQ(object, nullptr);
  }
  Com().CoUninitialize();
}

TEST_F(ComConformance, RevokingAnUnknownOrRevokedCookieFails) {
  SKIP_ON_WINE("Wine answers E_INVALIDARG where Windows answers CO_E_OBJNOTREG");
  ASSERT_EQ(Com().CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
  CountedFactory factory;
  DWORD cookie = 0;
  ASSERT_EQ(Com().CoRegisterClassObject(kTestClsid, &factory, CLSCTX_LOCAL_SERVER,
                                        REGCLS_MULTIPLEUSE, &cookie),
            S_OK);
  EXPECT_EQ(Com().CoRevokeClassObject(cookie), S_OK);
  EXPECT_EQ(Com().CoRevokeClassObject(cookie), CO_E_OBJNOTREG);
  EXPECT_EQ(Com().CoRevokeClassObject(cookie + 1000), CO_E_OBJNOTREG);
  Com().CoUninitialize();
}

// Fails once Wine answers as Windows does; then the test above can run there too.
TEST_F(ComConformance, WineRevokesAnUnknownCookieWithInvalidArg) {
  if (!B().IsWine()) GTEST_SKIP() << "Wine's own answer";
  ASSERT_EQ(Com().CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
  EXPECT_EQ(Com().CoRevokeClassObject(0x7FFF1234), E_INVALIDARG);
  Com().CoUninitialize();
}

// ---- Associations ----

class AssocConformance : public ConformanceTest {
 protected:
  void SetUp() override {
    ConformanceTest::SetUp();
    wchar_t temp[MAX_PATH];
    ASSERT_GT(Plat().Kernel().ExpandEnvironmentStringsW(L"%TEMP%", temp, MAX_PATH), 1u);
    m_folder = std::wstring(temp) + L"\\" + B().Unique(L"VdConformanceAssoc");
    const int made = Plat().Shell().SHCreateDirectoryExW(nullptr, m_folder.c_str(), nullptr);
    ASSERT_TRUE(made == ERROR_SUCCESS || made == ERROR_ALREADY_EXISTS) << made;
    m_program = m_folder + L"\\browser.exe";
    platform::UniqueFile f(Plat().Kernel(), Plat().Kernel().CreateFileW(
                                                m_program.c_str(), GENERIC_WRITE, 0, nullptr,
                                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(f);
    m_protocol = B().Unique(L"vdconformance");
  }
  void TearDown() override {
    for (const auto& [root, path] : m_keys) Plat().Registry().RegDeleteTreeW(root, path.c_str());
    Plat().Kernel().DeleteFileW(m_program.c_str());
    ConformanceTest::TearDown();
  }

  // Registers `command` as the open command of this test's protocol.
  void Register(HKEY root, const std::wstring& classes, const std::wstring& command) {
    const std::wstring key = classes + m_protocol;
    m_keys.emplace_back(root, key);
    platform::UniqueHKey k(Plat().Registry());
    ASSERT_EQ(
        Plat().Registry().RegCreateKeyExW(root, (key + L"\\shell\\open\\command").c_str(), 0,
                                          nullptr, 0, KEY_ALL_ACCESS, nullptr, k.put(), nullptr),
        ERROR_SUCCESS);
    ASSERT_EQ(Plat().Registry().RegSetValueExW(
                  k.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                  static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
  }
  void RegisterForMachine(const std::wstring& command) {
    Register(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\", command);
  }
  HRESULT Query(ASSOCF flags, wchar_t* out, DWORD* cch, const wchar_t* verb = L"open") {
    return Plat().Shell().AssocQueryStringW(flags, ASSOCSTR_EXECUTABLE, m_protocol.c_str(), verb,
                                            out, cch);
  }

  std::wstring m_folder;
  std::wstring m_program;
  std::wstring m_protocol;
  std::vector<std::pair<HKEY, std::wstring>> m_keys;
};

TEST_F(AssocConformance, TheExecutableIsTheQuotedFirstPartOfTheOpenCommand) {
  RegisterForMachine(L"\"" + m_program + L"\" -osint -url \"%1\"");
  wchar_t out[260];
  std::wmemset(out, L'#', 260);
  DWORD cch = 260;
  ASSERT_EQ(Query(ASSOCF_NOTRUNCATE, out, &cch), S_OK);
  EXPECT_EQ(Lower(out), Lower(m_program));
  // Windows tells how much it wrote; Wine leaves the count as it was.
  if (!B().IsWine()) {
    EXPECT_EQ(cch, m_program.size() + 1);
  }
}

TEST_F(AssocConformance, AnUnquotedCommandEndsAtItsFirstSpace) {
  ASSERT_EQ(m_program.find(L' '), std::wstring::npos) << "the temporary folder has a space";
  RegisterForMachine(m_program + L" %1");
  wchar_t out[260] = {};
  DWORD cch = 260;
  ASSERT_EQ(Query(ASSOCF_NOTRUNCATE, out, &cch), S_OK);
  EXPECT_EQ(Lower(out), Lower(m_program));
}

TEST_F(AssocConformance, ASmallBufferIsRefusedWithTheSizeNeeded) {
  RegisterForMachine(L"\"" + m_program + L"\" \"%1\"");
  const DWORD needed = static_cast<DWORD>(m_program.size() + 1);
  wchar_t out[8];
  std::wmemset(out, L'#', 8);
  DWORD cch = 5;
  EXPECT_EQ(Query(ASSOCF_NOTRUNCATE, out, &cch), E_POINTER);
  EXPECT_EQ(cch, needed);
  EXPECT_EQ(out[5], L'#') << "nothing written past the buffer";

  cch = 0;
  EXPECT_EQ(Query(ASSOCF_NOTRUNCATE, nullptr, &cch), S_FALSE) << "a size query";
  EXPECT_EQ(cch, needed);
}

TEST_F(AssocConformance, NoAssociationOrAMissingProgramFails) {
  wchar_t out[260] = {};
  DWORD cch = 260;
  EXPECT_EQ(Query(ASSOCF_NOTRUNCATE, out, &cch), HRESULT_FROM_WIN32(ERROR_NO_ASSOCIATION));
  RegisterForMachine(L"\"" + m_folder + L"\\nowhere.exe\" \"%1\"");
  cch = 260;
  EXPECT_EQ(Query(ASSOCF_NOTRUNCATE, out, &cch), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
}

TEST_F(AssocConformance, APerUserAssociationIsFound) {
  SKIP_ON_WINE("Wine does not merge HKCU\\Software\\Classes into the classes root");
  Register(HKEY_CURRENT_USER, L"Software\\Classes\\", L"\"" + m_program + L"\" \"%1\"");
  wchar_t out[260] = {};
  DWORD cch = 260;
  ASSERT_EQ(Query(ASSOCF_NOTRUNCATE, out, &cch), S_OK);
  EXPECT_EQ(Lower(out), Lower(m_program));
}

// Fails once Wine merges the per-user classes; then the test above can run there too.
TEST_F(AssocConformance, WineDoesNotSeePerUserAssociations) {
  if (!B().IsWine()) GTEST_SKIP() << "Wine's own answer";
  Register(HKEY_CURRENT_USER, L"Software\\Classes\\", L"\"" + m_program + L"\" \"%1\"");
  wchar_t out[260] = {};
  DWORD cch = 260;
  EXPECT_EQ(Query(ASSOCF_NOTRUNCATE, out, &cch), HRESULT_FROM_WIN32(ERROR_NO_ASSOCIATION));
}

// ---- The process's application user model id ----

TEST_F(ConformanceTest, AnApplicationUserModelIdOfUpTo128CharactersIsTaken) {
  EXPECT_EQ(Plat().Shell().SetCurrentProcessExplicitAppUserModelID(L"Veridane.Dashboard"), S_OK);
  const std::wstring longest(128, L'a');
  EXPECT_EQ(Plat().Shell().SetCurrentProcessExplicitAppUserModelID(longest.c_str()), S_OK);
}

TEST_F(ConformanceTest, AnEmptyOrTooLongApplicationUserModelIdIsRefused) {
  SKIP_ON_WINE("Wine takes any id without looking at it");
  const std::wstring tooLong(129, L'a');
  EXPECT_EQ(Plat().Shell().SetCurrentProcessExplicitAppUserModelID(tooLong.c_str()), E_INVALIDARG);
  EXPECT_EQ(Plat().Shell().SetCurrentProcessExplicitAppUserModelID(L""), E_INVALIDARG);
  EXPECT_EQ(Plat().Shell().SetCurrentProcessExplicitAppUserModelID(nullptr), E_INVALIDARG);
}

// Fails once Wine checks the id; then the test above can run there too.
TEST_F(ConformanceTest, WineTakesAnyApplicationUserModelId) {
  if (!B().IsWine()) GTEST_SKIP() << "Wine's own answer";
  const std::wstring tooLong(129, L'a');
  EXPECT_EQ(Plat().Shell().SetCurrentProcessExplicitAppUserModelID(tooLong.c_str()), S_OK);
}

// ---- Module handles ----

TEST_F(ConformanceTest, SystemLibrariesAreLoadedUnderAnySpellingOfTheirName) {
  platform::IModules& modules = Plat().Modules();
  platform::IKernel& kernel = Plat().Kernel();
  kernel.SetLastError(0xDEAD);
  HMODULE shell32 = modules.GetModuleHandleW(L"Shell32.dll");
  ASSERT_NE(shell32, nullptr);
  EXPECT_EQ(kernel.GetLastError(), 0xDEADu) << "success leaves the last error alone";
  for (const wchar_t* name : {L"SHELL32.DLL", L"shell32", L"C:\\Windows\\system32\\shell32.dll"}) {
    EXPECT_EQ(modules.GetModuleHandleW(name), shell32)
        << std::string(name, name + std::wcslen(name));
  }
  FARPROC query = modules.GetProcAddress(shell32, "SHQueryUserNotificationState");
  ASSERT_NE(query, nullptr);
  using Query = HRESULT(WINAPI*)(QUERY_USER_NOTIFICATION_STATE*);
  auto call = reinterpret_cast<Query>(reinterpret_cast<void (*)()>(query));
  QUERY_USER_NOTIFICATION_STATE state = QUNS_APP;
  EXPECT_EQ(call(&state), S_OK);
  EXPECT_EQ(state, QUNS_ACCEPTS_NOTIFICATIONS);

  kernel.SetLastError(0);
  EXPECT_EQ(modules.GetModuleHandleW(L"VdNoSuchLibrary.dll"), nullptr);
  EXPECT_EQ(kernel.GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

}  // namespace
}  // namespace conformance
