// The stand-in VDFPApi.dll as a Windows program meets it: which machine description it reads,
// and how it answers when the one named cannot be used. The library is built once per loaded
// module, so each case loads a copy of the DLL under a name of its own.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "tests/wine/debug_output_monitor.h"

namespace {

using PfnInit = HRESULT(WINAPI*)();
using PfnAuthDomainEnum = HRESULT(WINAPI*)(DWORD*, LPWSTR**);
using PfnBufferFree = void(WINAPI*)(LPVOID);

constexpr DWORD kGenerousMs = 30000;  // a bound for a hung call, never a speed claim
constexpr const wchar_t* kKey = L"SOFTWARE\\Veridane\\StandIns\\VDFPApi";
constexpr const wchar_t* kValue = L"DescriptionFile";
constexpr const wchar_t* kVariable = L"VDFP_STANDIN_DESCRIPTION";
constexpr HRESULT kInvalidData = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);

std::wstring OwnDir() {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring p(path);
  return p.substr(0, p.find_last_of(L'\\') + 1);
}

std::string Narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }

// A fresh copy of the library: its own process-wide instance, built on its first call.
class Library {
 public:
  explicit Library(const std::wstring& copyPath) {
    if (::CopyFileW((OwnDir() + L"VDFPApi.dll").c_str(), copyPath.c_str(), FALSE))
      m_module = ::LoadLibraryW(copyPath.c_str());
  }
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;
  ~Library() {
    // A call still running inside (a hung one) keeps the module.
    if (m_module && !m_hung) ::FreeLibrary(m_module);
  }
  bool Loaded() const { return m_module != nullptr; }

  // VDFPInit on a thread of the given stack size; nothing when it did not return in time.
  std::optional<HRESULT> Init(SIZE_T stack = 0) {
    return Bounded(stack, [](Library& l) { return Proc<PfnInit>(l, "VDFPInit")(); });
  }
  // The authentication domains the library reports, or its failure code.
  std::optional<HRESULT> Domains(std::vector<std::wstring>& out) {
    m_domains = &out;
    return Bounded(0, [](Library& l) {
      DWORD n = 0;
      LPWSTR* names = nullptr;
      const HRESULT hr = Proc<PfnAuthDomainEnum>(l, "VDFPAuthDomainEnum")(&n, &names);
      if (SUCCEEDED(hr)) {
        for (DWORD i = 0; i < n; ++i) l.m_domains->push_back(names[i]);
        Proc<PfnBufferFree>(l, "VDFPBufferFree")(names);
      }
      return hr;
    });
  }

 private:
  template <typename Pfn>
  static Pfn Proc(Library& l, const char* name) {
    return reinterpret_cast<Pfn>(reinterpret_cast<void (*)()>(::GetProcAddress(l.m_module, name)));
  }

  struct Job {
    Library* lib;
    HRESULT (*call)(Library&);
    HRESULT hr;
  };
  static DWORD WINAPI RunJob(LPVOID p) {
    auto* j = static_cast<Job*>(p);
    j->hr = j->call(*j->lib);
    return 0;
  }

  std::optional<HRESULT> Bounded(SIZE_T stack, HRESULT (*call)(Library&)) {
    auto* job = new Job{this, call, E_FAIL};
    HANDLE t = ::CreateThread(nullptr, stack, &Library::RunJob, job,
                              stack ? STACK_SIZE_PARAM_IS_A_RESERVATION : 0, nullptr);
    if (!t) {
      delete job;
      return std::nullopt;
    }
    const bool done = ::WaitForSingleObject(t, kGenerousMs) == WAIT_OBJECT_0;
    ::CloseHandle(t);
    if (!done) {
      m_hung = true;  // the job stays with the thread that never ended
      return std::nullopt;
    }
    const HRESULT hr = job->hr;
    delete job;
    return hr;
  }

  HMODULE m_module = nullptr;
  bool m_hung = false;
  std::vector<std::wstring>* m_domains = nullptr;
};

class VdfpStandinWine : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* n = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    m_dir = OwnDir() + L"vdfpapi-cases\\";
    ::CreateDirectoryW(m_dir.c_str(), nullptr);
    m_dir += std::wstring(n, n + std::strlen(n)) + L"\\";
    ::CreateDirectoryW(m_dir.c_str(), nullptr);
    // The host is up: the library serves calls while this event is signalled.
    m_hostReady =
        ::CreateEventW(nullptr, TRUE, TRUE, L"Global\\{AA2FD877-ED65-4499-9C86-D90FB5CC1F9D}");
    ASSERT_NE(m_hostReady, nullptr);
    ::SetEvent(m_hostReady);
    ClearNames();
    ASSERT_TRUE(m_monitor.Listening());
  }
  void TearDown() override {
    // Later programs of the prefix (the agent's cases) must meet the default machine.
    ClearNames();
    ::CloseHandle(m_hostReady);
  }

  static void ClearNames() {
    ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kKey, kValue);
    ::SetEnvironmentVariableW(kVariable, nullptr);
  }
  static void NameInRegistry(const std::wstring& path, DWORD type = REG_SZ) {
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                &key, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(::RegSetValueExW(key, kValue, 0, type, reinterpret_cast<const BYTE*>(path.c_str()),
                               static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
    ::RegCloseKey(key);
  }
  std::wstring Write(const wchar_t* name, const std::string& json) {
    const std::wstring path = m_dir + name;
    std::ofstream(Narrow(path), std::ios::binary) << json;
    return path;
  }
  std::wstring Copy(const wchar_t* name) { return m_dir + name; }

  std::wstring m_dir;
  HANDLE m_hostReady = nullptr;
  DebugOutputMonitor m_monitor;
};

// The file named in the registry is the machine, whether the value is a REG_SZ or a
// REG_EXPAND_SZ to expand; without a name the built-in machine ("OS") is.
TEST_F(VdfpStandinWine, TheRegistryNamesTheMachineDescription) {
  {
    Library lib(Copy(L"default.dll"));
    ASSERT_TRUE(lib.Loaded());
    EXPECT_EQ(lib.Init(), S_OK);
    std::vector<std::wstring> domains;
    EXPECT_EQ(lib.Domains(domains), S_OK);
    EXPECT_EQ(domains, std::vector<std::wstring>{L"OS"});
  }
  NameInRegistry(Write(L"plain.json", R"({"domains": [{"name": "PLAIN"}]})"));
  {
    Library lib(Copy(L"plain.dll"));
    EXPECT_EQ(lib.Init(), S_OK);
    std::vector<std::wstring> domains;
    EXPECT_EQ(lib.Domains(domains), S_OK);
    EXPECT_EQ(domains, std::vector<std::wstring>{L"PLAIN"});
  }
  Write(L"expanded.json", R"({"domains": [{"name": "EXPANDED"}, {"name": "OS"}]})");
  ::SetEnvironmentVariableW(L"VD_CASE_DIR", m_dir.c_str());
  NameInRegistry(L"%VD_CASE_DIR%expanded.json", REG_EXPAND_SZ);
  {
    Library lib(Copy(L"expanded.dll"));
    EXPECT_EQ(lib.Init(), S_OK);
    std::vector<std::wstring> domains;
    EXPECT_EQ(lib.Domains(domains), S_OK);
    EXPECT_EQ(domains, (std::vector<std::wstring>{L"EXPANDED", L"OS"}));
  }
  EXPECT_FALSE(m_monitor.Saw("VDFPApi stand-in")) << m_monitor.All();
}

// A description that cannot be used is never replaced by the default machine: the library
// says why on the debug output, and every call, the first and each later one, fails with
// one code.
TEST_F(VdfpStandinWine, AnUnusableDescriptionFailsEveryCallWithOneCode) {
  const std::wstring missing = m_dir + L"missing.json";
  NameInRegistry(missing);
  {
    Library lib(Copy(L"missing.dll"));
    EXPECT_EQ(lib.Init(), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(m_monitor.SawWithin("cannot read " + Narrow(missing))) << m_monitor.All();
  }
  ClearNames();
  // Named by the environment, as a test harness would.
  ::SetEnvironmentVariableW(kVariable, Write(L"cut.json", R"({"users": [)").c_str());
  {
    Library lib(Copy(L"cut.dll"));
    EXPECT_EQ(lib.Init(), kInvalidData);
    EXPECT_EQ(lib.Init(), kInvalidData);
    std::vector<std::wstring> domains;
    EXPECT_EQ(lib.Domains(domains), kInvalidData);
    EXPECT_TRUE(m_monitor.SawWithin("cut.json: not JSON")) << m_monitor.All();
  }
}

// A policy value nested far deeper than any machine needs is refused, on a thread with the
// usual 1 MiB of stack, instead of ending the process.
TEST_F(VdfpStandinWine, ADeeplyNestedPolicyIsRefused) {
  std::string json = R"({"policySettings": [{"name": "Deep", )";
  for (int i = 0; i < 10000; ++i) json += R"("type": 11, "items": [{)";
  json += R"("type": 4, "value": 1})";
  for (int i = 0; i < 10000; ++i) json += "]}";
  json += "]}";
  ::SetEnvironmentVariableW(kVariable, Write(L"deep.json", json).c_str());
  Library lib(Copy(L"deep.dll"));
  EXPECT_EQ(lib.Init(1 << 20), kInvalidData);
  EXPECT_TRUE(m_monitor.SawWithin("policy nested deeper than 64 levels")) << m_monitor.All();
}

}  // namespace
