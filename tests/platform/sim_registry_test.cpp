// The simulated registry through a process's IRegistry: views, types, access, deletion,
// enumeration and change notification.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/handles.h"
#include "platform/sim/machine.h"
#include "platform/sim/process.h"
#include "platform/sim/registry_store.h"
#include "platform/sim/session_manager.h"

namespace {

using platform::UniqueHKey;

constexpr const wchar_t* kSuite = L"SOFTWARE\\Veridane";

std::vector<BYTE> Bytes(const std::wstring& s) {
  std::vector<BYTE> b((s.size() + 1) * sizeof(WCHAR), 0);
  std::memcpy(b.data(), s.c_str(), s.size() * sizeof(WCHAR));
  return b;
}

std::wstring ReadString(platform::IRegistry& r, HKEY key, const wchar_t* name) {
  DWORD type = 0, size = 0;
  if (r.RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return L"?";
  std::wstring s(size / sizeof(WCHAR), L'\0');
  r.RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(s.data()), &size);
  if (!s.empty() && s.back() == L'\0') s.pop_back();
  return s;
}

DWORD ReadDword(platform::IRegistry& r, HKEY key, const wchar_t* name) {
  DWORD v = 0, size = sizeof v, type = 0;
  EXPECT_EQ(r.RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&v), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, REG_DWORD);
  return v;
}

class SimRegistryTest : public ::testing::Test {
 protected:
  static sim::MachineDescription Description(bool is64BitWindows) {
    sim::MachineDescription d;
    d.is64BitWindows = is64BitWindows;
    return d;
  }
  explicit SimRegistryTest(bool is64BitWindows = true)
      : m_machine(Description(is64BitWindows)),
        m_agent32(m_machine.CreateProcess({.sessionId = 1, .is32Bit = true})),
        m_native(m_machine.CreateProcess({.sessionId = 1, .is32Bit = false})) {}

  platform::IRegistry& Reg32() { return m_agent32->Registry(); }
  platform::IRegistry& Reg64() { return m_native->Registry(); }
  sim::RegistryStore& Store() { return m_machine.Registry(); }

  sim::Machine m_machine;
  std::unique_ptr<sim::Process> m_agent32;
  std::unique_ptr<sim::Process> m_native;
};

// ---- Views --------------------------------------------------------------------------------

TEST_F(SimRegistryTest, ThirtyTwoBitProcessIsRedirectedUnlessItAsksForTheNativeView) {
  Store().SetDword(L"HKLM\\SOFTWARE\\Veridane", L"Where", 64);
  Store().SetDword(L"HKLM\\SOFTWARE\\WOW6432Node\\Veridane", L"Where", 32);

  UniqueHKey key(Reg32());
  ASSERT_EQ(Reg32().RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSuite, 0, KEY_READ, key.put()),
            ERROR_SUCCESS);
  EXPECT_EQ(ReadDword(Reg32(), key.get(), L"Where"), 32u);
  ASSERT_EQ(
      Reg32().RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSuite, 0, KEY_READ | KEY_WOW64_64KEY, key.put()),
      ERROR_SUCCESS);
  EXPECT_EQ(ReadDword(Reg32(), key.get(), L"Where"), 64u);

  // The view is chosen per call, from the full path: opening SOFTWARE (shared) and then a
  // sub-key of it still lands in the caller's view.
  UniqueHKey software(Reg32());
  ASSERT_EQ(Reg32().RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE", 0, KEY_READ | KEY_WOW64_64KEY,
                                  software.put()),
            ERROR_SUCCESS);
  ASSERT_EQ(Reg32().RegOpenKeyExW(software.get(), L"Veridane", 0, KEY_READ, key.put()),
            ERROR_SUCCESS);
  EXPECT_EQ(ReadDword(Reg32(), key.get(), L"Where"), 32u);
}

TEST_F(SimRegistryTest, NativeProcessReachesTheThirtyTwoBitViewOnlyOnRequest) {
  UniqueHKey key(Reg64());
  ASSERT_EQ(Reg64().RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Veridane\\Agent", 0, nullptr, 0,
                                    KEY_WRITE | KEY_WOW64_32KEY, nullptr, key.put(), nullptr),
            ERROR_SUCCESS);
  DWORD one = 1;
  ASSERT_EQ(Reg64().RegSetValueExW(key.get(), L"Flag", 0, REG_DWORD, reinterpret_cast<BYTE*>(&one),
                                   sizeof one),
            ERROR_SUCCESS);
  EXPECT_EQ(Store().GetDword(L"HKLM\\SOFTWARE\\WOW6432Node\\Veridane\\Agent", L"Flag"), 1u);
  EXPECT_FALSE(Store().KeyExists(L"HKLM\\SOFTWARE\\Veridane\\Agent"));
  EXPECT_EQ(Reg64().RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Veridane\\Agent", 0, KEY_READ,
                                  key.put()),
            ERROR_FILE_NOT_FOUND);
  // The 32-bit program sees it in its own view without asking.
  EXPECT_EQ(Reg32().RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Veridane\\Agent", 0, KEY_READ,
                                  key.put()),
            ERROR_SUCCESS);
}

TEST_F(SimRegistryTest, KeysOutsideSoftwareAndTheUserHiveAreShared) {
  Store().SetDword(L"HKLM\\SYSTEM\\CurrentControlSet\\Services\\VDHost", L"Start", 2);
  UniqueHKey key(Reg32());
  ASSERT_EQ(
      Reg32().RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\VDHost", 0,
                            KEY_READ, key.put()),
      ERROR_SUCCESS);
  EXPECT_EQ(ReadDword(Reg32(), key.get(), L"Start"), 2u);

  ASSERT_EQ(Reg32().RegCreateKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\Veridane\\Applications", 0,
                                    nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr),
            ERROR_SUCCESS);
  const std::wstring sid = m_machine.Sessions().UserSid(1);
  EXPECT_TRUE(Store().KeyExists(L"HKU\\" + sid + L"\\SOFTWARE\\Veridane\\Applications"));
  UniqueHKey native(Reg64());
  EXPECT_EQ(Reg64().RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Veridane\\Applications", 0,
                                  KEY_READ | KEY_WOW64_32KEY, native.put()),
            ERROR_SUCCESS);
}

TEST_F(SimRegistryTest, ClassIdsOfThirtyTwoBitProgramsLiveUnderClassesWow6432Node) {
  UniqueHKey key(Reg32());
  ASSERT_EQ(Reg32().RegCreateKeyExW(HKEY_CLASSES_ROOT, L"CLSID\\{A24611C3}\\LocalServer32", 0,
                                    nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr),
            ERROR_SUCCESS);
  EXPECT_TRUE(Store().KeyExists(L"HKLM\\SOFTWARE\\Classes\\Wow6432Node\\CLSID\\{A24611C3}"));
  EXPECT_FALSE(Store().KeyExists(L"HKLM\\SOFTWARE\\Classes\\CLSID\\{A24611C3}"));
  // File-type keys are shared between the views.
  ASSERT_EQ(Reg32().RegCreateKeyExW(HKEY_CLASSES_ROOT, L".vdx", 0, nullptr, 0, KEY_WRITE, nullptr,
                                    key.put(), nullptr),
            ERROR_SUCCESS);
  EXPECT_TRUE(Store().KeyExists(L"HKCR\\.vdx"));
}

TEST_F(SimRegistryTest, UserHiveFollowsTheSessionOfTheProcess) {
  auto other = m_machine.CreateProcess({.sessionId = 2});
  UniqueHKey key(Reg32());
  ASSERT_EQ(Reg32().RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Mine", 0, nullptr, 0,
                                    KEY_ALL_ACCESS, nullptr, key.put(), nullptr),
            ERROR_SUCCESS);
  UniqueHKey theirs(other->Registry());
  EXPECT_EQ(other->Registry().RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Mine", 0, KEY_READ,
                                            theirs.put()),
            ERROR_FILE_NOT_FOUND);
}

class SimRegistry32BitWindowsTest : public SimRegistryTest {
 protected:
  SimRegistry32BitWindowsTest() : SimRegistryTest(false) {}
};

TEST_F(SimRegistry32BitWindowsTest, ViewFlagsChangeNothing) {
  EXPECT_FALSE(Reg32().IsWow64Process());
  EXPECT_FALSE(Reg32().Is64BitWindows());
  Store().SetDword(L"HKLM\\SOFTWARE\\Veridane", L"Where", 1);
  for (REGSAM view : {0u, KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
    UniqueHKey key(Reg32());
    ASSERT_EQ(Reg32().RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSuite, 0, KEY_READ | view, key.put()),
              ERROR_SUCCESS)
        << view;
    EXPECT_EQ(ReadDword(Reg32(), key.get(), L"Where"), 1u);
  }
  EXPECT_FALSE(Store().KeyExists(L"HKLM\\SOFTWARE\\WOW6432Node"));
}

TEST_F(SimRegistryTest, ProcessesAnswerTheirOwnBitness) {
  EXPECT_TRUE(Reg32().IsWow64Process());
  EXPECT_FALSE(Reg64().IsWow64Process());
  EXPECT_TRUE(Reg32().Is64BitWindows());
  EXPECT_TRUE(Reg64().Is64BitWindows());
}

// ---- Values -------------------------------------------------------------------------------

TEST_F(SimRegistryTest, EveryTypeRoundTripsWithItsSize) {
  UniqueHKey key(Reg32());
  ASSERT_EQ(Reg32().RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Types", 0, nullptr, 0,
                                    KEY_ALL_ACCESS, nullptr, key.put(), nullptr),
            ERROR_SUCCESS);
  const DWORD dword = 0xDEADBEEF;
  const ULONGLONG qword = 0x0123456789ABCDEFull;
  const std::vector<BYTE> binary = {0, 1, 2, 0xFF};
  const std::vector<BYTE> sz = Bytes(L"text");
  const std::vector<BYTE> expand = Bytes(L"%SystemRoot%\\x");
  std::vector<BYTE> multi = Bytes(std::wstring(L"a\0bc\0", 5));  // "a", "bc", then two zeros
  struct Case {
    const wchar_t* name;
    DWORD type;
    std::vector<BYTE> data;
  };
  const std::vector<Case> cases = {
      {L"sz", REG_SZ, sz},
      {L"expand", REG_EXPAND_SZ, expand},
      {L"dword",
       REG_DWORD,
       {reinterpret_cast<const BYTE*>(&dword), reinterpret_cast<const BYTE*>(&dword) + 4}},
      {L"qword",
       REG_QWORD,
       {reinterpret_cast<const BYTE*>(&qword), reinterpret_cast<const BYTE*>(&qword) + 8}},
      {L"binary", REG_BINARY, binary},
      {L"multi", REG_MULTI_SZ, multi},
      {L"", REG_SZ, Bytes(L"default value")},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(Reg32().RegSetValueExW(key.get(), c.name, 0, c.type, c.data.data(),
                                     static_cast<DWORD>(c.data.size())),
              ERROR_SUCCESS);
  }
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DWORD type = 0, size = 0;
    // Null data: type and size only.
    ASSERT_EQ(Reg32().RegQueryValueExW(key.get(), c.name, nullptr, &type, nullptr, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, c.type);
    EXPECT_EQ(size, c.data.size());
    std::vector<BYTE> out(size + 8, 0xCC);
    DWORD cb = static_cast<DWORD>(out.size());
    ASSERT_EQ(Reg32().RegQueryValueExW(key.get(), c.name, nullptr, &type, out.data(), &cb),
              ERROR_SUCCESS);
    EXPECT_EQ(cb, c.data.size());
    out.resize(cb);
    EXPECT_EQ(out, c.data);
  }
  // The default value is also reached with a null name.
  EXPECT_EQ(ReadString(Reg32(), key.get(), nullptr), L"default value");
  // String data is counted in WCHAR units of the native width.
  DWORD size = 0;
  Reg32().RegQueryValueExW(key.get(), L"sz", nullptr, nullptr, nullptr, &size);
  EXPECT_EQ(size, 5 * sizeof(WCHAR));
}

TEST_F(SimRegistryTest, SmallBufferAndMissingValueAnswerLikeWindows) {
  Store().SetString(L"HKLM\\SOFTWARE\\WOW6432Node\\Veridane", L"VeridanePath",
                    L"C:\\Program Files\\Veridane");
  UniqueHKey key(Reg32());
  ASSERT_EQ(Reg32().RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSuite, 0, KEY_READ, key.put()),
            ERROR_SUCCESS);
  WCHAR small[4];
  DWORD cb = sizeof small, type = 0;
  EXPECT_EQ(Reg32().RegQueryValueExW(key.get(), L"veridanepath", nullptr, &type,
                                     reinterpret_cast<BYTE*>(small), &cb),
            ERROR_MORE_DATA);
  EXPECT_EQ(cb, (std::wstring(L"C:\\Program Files\\Veridane").size() + 1) * sizeof(WCHAR));
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(Reg32().RegQueryValueExW(key.get(), L"Missing", nullptr, &type, nullptr, &cb),
            ERROR_FILE_NOT_FOUND);
  UniqueHKey sub(Reg32());
  EXPECT_EQ(Reg32().RegOpenKeyExW(key.get(), L"NoSuchKey", 0, KEY_READ, sub.put()),
            ERROR_FILE_NOT_FOUND);
}

TEST_F(SimRegistryTest, NamesCompareWithoutCaseAndKeepTheirOwn) {
  UniqueHKey key(Reg32());
  ASSERT_EQ(Reg32().RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Veridane\\KwAppSettings", 0,
                                    nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr),
            ERROR_SUCCESS);
  DWORD disposition = 0;
  UniqueHKey again(Reg32());
  ASSERT_EQ(Reg32().RegCreateKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\VERIDANE\\kwappsettings", 0,
                                    nullptr, 0, KEY_ALL_ACCESS, nullptr, again.put(), &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
  UniqueHKey parent(Reg32());
  ASSERT_EQ(
      Reg32().RegOpenKeyExW(HKEY_CURRENT_USER, L"software\\veridane", 0, KEY_READ, parent.put()),
      ERROR_SUCCESS);
  WCHAR name[64];
  DWORD cch = 64;
  ASSERT_EQ(Reg32().RegEnumKeyExW(parent.get(), 0, name, &cch, nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(std::wstring(name, cch), L"KwAppSettings");
}

TEST_F(SimRegistryTest, AccessRightsOfTheHandleAreChecked) {
  Store().SetDword(L"HKU\\" + m_machine.Sessions().UserSid(1) + L"\\Software\\A", L"v", 1);
  UniqueHKey writeOnly(Reg32());
  ASSERT_EQ(
      Reg32().RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\A", 0, KEY_SET_VALUE, writeOnly.put()),
      ERROR_SUCCESS);
  DWORD size = 0;
  EXPECT_EQ(Reg32().RegQueryValueExW(writeOnly.get(), L"v", nullptr, nullptr, nullptr, &size),
            ERROR_ACCESS_DENIED);
  UniqueHKey readOnly(Reg32());
  ASSERT_EQ(Reg32().RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\A", 0, KEY_READ, readOnly.put()),
            ERROR_SUCCESS);
  DWORD v = 2;
  EXPECT_EQ(Reg32().RegSetValueExW(readOnly.get(), L"v", 0, REG_DWORD, reinterpret_cast<BYTE*>(&v),
                                   sizeof v),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(Reg32().RegDeleteValueW(readOnly.get(), L"v"), ERROR_ACCESS_DENIED);
  UniqueHKey sub(Reg32());
  EXPECT_EQ(Reg32().RegCreateKeyExW(readOnly.get(), L"New", 0, nullptr, 0, KEY_READ, nullptr,
                                    sub.put(), nullptr),
            ERROR_ACCESS_DENIED);
  WCHAR name[8];
  DWORD cch = 8;
  EXPECT_EQ(
      Reg32().RegEnumKeyExW(writeOnly.get(), 0, name, &cch, nullptr, nullptr, nullptr, nullptr),
      ERROR_ACCESS_DENIED);
  EXPECT_EQ(Reg32().RegQueryValueExW(reinterpret_cast<HKEY>(0x4444), L"v", nullptr, nullptr,
                                     nullptr, &size),
            ERROR_INVALID_HANDLE);
}

// ---- Deletion, enumeration, key information ------------------------------------------------

TEST_F(SimRegistryTest, DeletingAKeyWithSubKeysIsRefusedAndOpenHandlesSeeItGone) {
  Store().CreateKey(L"HKLM\\SOFTWARE\\Veridane\\Parent\\Child");
  UniqueHKey child(Reg64());
  ASSERT_EQ(Reg64().RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Veridane\\Parent\\Child", 0,
                                  KEY_READ, child.put()),
            ERROR_SUCCESS);
  EXPECT_EQ(Reg64().RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Veridane\\Parent",
                                    KEY_WOW64_64KEY, 0),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(Reg64().RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Veridane\\Parent\\Child",
                                    KEY_WOW64_64KEY, 0),
            ERROR_SUCCESS);
  DWORD size = 0;
  EXPECT_EQ(Reg64().RegQueryValueExW(child.get(), L"x", nullptr, nullptr, nullptr, &size),
            ERROR_KEY_DELETED);
  UniqueHKey again(Reg64());
  EXPECT_EQ(Reg64().RegOpenKeyExW(child.get(), L"", 0, KEY_READ, again.put()), ERROR_KEY_DELETED);
  // Re-creating the key gives a new key; the old handle stays dead.
  Store().CreateKey(L"HKLM\\SOFTWARE\\Veridane\\Parent\\Child");
  EXPECT_EQ(Reg64().RegQueryValueExW(child.get(), L"x", nullptr, nullptr, nullptr, &size),
            ERROR_KEY_DELETED);
  EXPECT_EQ(Reg64().RegCloseKey(child.release()), ERROR_SUCCESS);
  // A 32-bit deletion in the 64-bit view, through the view flag.
  Store().CreateKey(L"HKLM\\SOFTWARE\\Veridane\\Only64");
  EXPECT_EQ(Reg32().RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Veridane\\Only64", 0, 0),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Reg32().RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Veridane\\Only64",
                                    KEY_WOW64_64KEY, 0),
            ERROR_SUCCESS);
}

TEST_F(SimRegistryTest, DeleteTreeRemovesEverythingBelow) {
  Store().SetDword(L"HKLM\\SOFTWARE\\Veridane\\T\\A\\B", L"v", 1);
  Store().SetDword(L"HKLM\\SOFTWARE\\Veridane\\T", L"top", 1);
  UniqueHKey t(Reg64());
  ASSERT_EQ(Reg64().RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Veridane\\T", 0, KEY_ALL_ACCESS,
                                  t.put()),
            ERROR_SUCCESS);
  // Emptying the key itself keeps the key.
  ASSERT_EQ(Reg64().RegDeleteTreeW(t.get(), nullptr), ERROR_SUCCESS);
  EXPECT_TRUE(Store().KeyExists(L"HKLM\\SOFTWARE\\Veridane\\T"));
  EXPECT_TRUE(Store().SubKeyNames(L"HKLM\\SOFTWARE\\Veridane\\T").empty());
  EXPECT_TRUE(Store().ValueNames(L"HKLM\\SOFTWARE\\Veridane\\T").empty());
  Store().CreateKey(L"HKLM\\SOFTWARE\\Veridane\\T\\X\\Y");
  ASSERT_EQ(Reg64().RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Veridane\\T"), ERROR_SUCCESS);
  EXPECT_FALSE(Store().KeyExists(L"HKLM\\SOFTWARE\\Veridane\\T"));
  EXPECT_EQ(Reg64().RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Veridane\\T"),
            ERROR_FILE_NOT_FOUND);
}

TEST_F(SimRegistryTest, EnumerationAndKeyInformationAgree) {
  const std::wstring path = L"HKLM\\SOFTWARE\\WOW6432Node\\Veridane\\Products";
  Store().CreateKey(path + L"\\Zeta");
  Store().CreateKey(path + L"\\alpha");
  Store().CreateKey(path + L"\\Lumera Mobile Enrollment");
  Store().SetString(path, L"Version", L"5.2");
  Store().SetDword(path, L"LongestValueName", 7);
  UniqueHKey key(Reg32());
  ASSERT_EQ(Reg32().RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Veridane\\Products", 0, KEY_READ,
                                  key.put()),
            ERROR_SUCCESS);
  DWORD subKeys = 0, maxSub = 0, values = 0, maxName = 0, maxData = 0;
  ASSERT_EQ(Reg32().RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subKeys, &maxSub,
                                     nullptr, &values, &maxName, &maxData, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(subKeys, 3u);
  EXPECT_EQ(maxSub, std::wstring(L"Lumera Mobile Enrollment").size());
  EXPECT_EQ(values, 2u);
  EXPECT_EQ(maxName, std::wstring(L"LongestValueName").size());
  EXPECT_EQ(maxData, 4 * sizeof(WCHAR));  // "5.2" and its zero

  std::vector<std::wstring> names;
  for (DWORD i = 0;; ++i) {
    WCHAR name[64];
    DWORD cch = 64;
    const LSTATUS s =
        Reg32().RegEnumKeyExW(key.get(), i, name, &cch, nullptr, nullptr, nullptr, nullptr);
    if (s == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(s, ERROR_SUCCESS);
    names.emplace_back(name, cch);
  }
  EXPECT_EQ(names, (std::vector<std::wstring>{L"alpha", L"Lumera Mobile Enrollment", L"Zeta"}));
  // A name buffer one character short of the zero.
  WCHAR shortName[24];
  DWORD cch = 24;
  EXPECT_EQ(
      Reg32().RegEnumKeyExW(key.get(), 1, shortName, &cch, nullptr, nullptr, nullptr, nullptr),
      ERROR_MORE_DATA);

  // Values come in creation order, with type and data.
  WCHAR vname[32];
  DWORD vcch = 32, type = 0, cb = 0;
  ASSERT_EQ(Reg32().RegEnumValueW(key.get(), 0, vname, &vcch, nullptr, &type, nullptr, &cb),
            ERROR_SUCCESS);
  EXPECT_EQ(std::wstring(vname, vcch), L"Version");
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(cb, 4 * sizeof(WCHAR));
  vcch = 32;
  DWORD data = 0;
  cb = 2;
  EXPECT_EQ(Reg32().RegEnumValueW(key.get(), 1, vname, &vcch, nullptr, &type,
                                  reinterpret_cast<BYTE*>(&data), &cb),
            ERROR_MORE_DATA);
  EXPECT_EQ(cb, 4u);
  vcch = 32;
  EXPECT_EQ(Reg32().RegEnumValueW(key.get(), 2, vname, &vcch, nullptr, &type, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);
}

TEST_F(SimRegistryTest, SeedHelpersReadBackTypedValuesOnly) {
  const std::wstring path = L"HKLM\\SOFTWARE\\Veridane\\Tracing";
  Store().SetString(path, L"TracePath", L"%ProgramData%\\Veridane", REG_EXPAND_SZ);
  Store().SetString(path, L"DoTrace", L"1");  // wrong type on purpose
  Store().SetBinary(path, L"Blob", {1, 2, 3});
  EXPECT_EQ(Store().GetString(path, L"tracepath"), L"%ProgramData%\\Veridane");
  EXPECT_EQ(Store().GetDword(path, L"DoTrace"), std::nullopt);
  EXPECT_EQ(Store().GetString(path, L"Blob"), std::nullopt);
  EXPECT_EQ(Store().GetValue(path, L"Blob")->second, (std::vector<BYTE>{1, 2, 3}));
  EXPECT_TRUE(Store().DeleteValue(path, L"Blob"));
  EXPECT_FALSE(Store().DeleteValue(path, L"Blob"));
  EXPECT_TRUE(Store().DeleteKey(L"HKLM\\SOFTWARE\\Veridane"));
  EXPECT_FALSE(Store().KeyExists(path));
  EXPECT_THROW(Store().SetDword(L"HKXX\\Software", L"v", 1), std::invalid_argument);
}

// ---- Change notification -------------------------------------------------------------------

class SimRegistryNotifyTest : public SimRegistryTest {
 protected:
  SimRegistryNotifyTest() : m_event(Kernel().CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    Store().CreateKey(L"HKLM\\SOFTWARE\\Policies\\Veridane\\Lumera\\Sub\\Deep");
  }
  ~SimRegistryNotifyTest() override { Kernel().CloseHandle(m_event); }

  platform::IKernel& Kernel() { return m_native->Kernel(); }
  bool Signalled() {
    const bool s = Kernel().WaitForSingleObject(m_event, 0) == WAIT_OBJECT_0;
    Kernel().ResetEvent(m_event);
    return s;
  }
  HKEY OpenPolicies() {
    HKEY key = nullptr;
    EXPECT_EQ(Reg64().RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Policies\\Veridane\\Lumera", 0,
                                    KEY_READ | KEY_WOW64_64KEY, &key),
              ERROR_SUCCESS);
    return key;
  }
  LSTATUS Arm(HKEY key, bool subtree, DWORD filter) {
    return Reg64().RegNotifyChangeKeyValue(key, subtree, filter, m_event, TRUE);
  }

  const std::wstring kPolicies = L"HKLM\\SOFTWARE\\Policies\\Veridane\\Lumera";
  HANDLE m_event;
};

TEST_F(SimRegistryNotifyTest, LastSetFilterSeesValuesButNotNewKeys) {
  UniqueHKey key(Reg64(), OpenPolicies());
  ASSERT_EQ(Arm(key.get(), false, REG_NOTIFY_CHANGE_LAST_SET), ERROR_SUCCESS);
  Store().CreateKey(kPolicies + L"\\NewSub");
  EXPECT_FALSE(Signalled());
  Store().SetDword(kPolicies, L"LockUponSmartcardRemoval", 1);
  EXPECT_TRUE(Signalled());
  // One shot: the next change goes unseen until the watch is armed again.
  Store().SetDword(kPolicies, L"LockUponSmartcardRemoval", 0);
  EXPECT_FALSE(Signalled());
  ASSERT_EQ(Arm(key.get(), false, REG_NOTIFY_CHANGE_LAST_SET), ERROR_SUCCESS);
  Store().DeleteValue(kPolicies, L"LockUponSmartcardRemoval");
  EXPECT_TRUE(Signalled());
}

TEST_F(SimRegistryNotifyTest, NameFilterSeesSubKeysComingAndGoing) {
  UniqueHKey key(Reg64(), OpenPolicies());
  ASSERT_EQ(Arm(key.get(), false, REG_NOTIFY_CHANGE_NAME), ERROR_SUCCESS);
  Store().SetDword(kPolicies, L"v", 1);
  EXPECT_FALSE(Signalled());
  Store().CreateKey(kPolicies + L"\\Added");
  EXPECT_TRUE(Signalled());
  ASSERT_EQ(Arm(key.get(), false, REG_NOTIFY_CHANGE_NAME), ERROR_SUCCESS);
  UniqueHKey policies(Reg64(), OpenPolicies());
  EXPECT_EQ(Reg64().RegDeleteKeyExW(policies.get(), L"Added", KEY_WOW64_64KEY, 0), ERROR_SUCCESS);
  EXPECT_TRUE(Signalled());
}

TEST_F(SimRegistryNotifyTest, ChangesBelowTheKeyCountOnlyWithTheSubtreeFlag) {
  UniqueHKey key(Reg64(), OpenPolicies());
  ASSERT_EQ(Arm(key.get(), false, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET),
            ERROR_SUCCESS);
  Store().SetDword(kPolicies + L"\\Sub\\Deep", L"v", 1);
  Store().CreateKey(kPolicies + L"\\Sub\\Deep\\Deeper");
  EXPECT_FALSE(Signalled());
  UniqueHKey watched(Reg64(), OpenPolicies());
  ASSERT_EQ(Arm(watched.get(), true, REG_NOTIFY_CHANGE_LAST_SET), ERROR_SUCCESS);
  Store().SetDword(kPolicies + L"\\Sub\\Deep", L"v", 2);
  EXPECT_TRUE(Signalled());
  // A change made by another process through its own handle counts the same.
  ASSERT_EQ(Arm(watched.get(), true, REG_NOTIFY_CHANGE_NAME), ERROR_SUCCESS);
  UniqueHKey created(Reg32());
  ASSERT_EQ(Reg32().RegCreateKeyExW(
                HKEY_LOCAL_MACHINE, L"SOFTWARE\\Policies\\Veridane\\Lumera\\Sub\\FromAgent", 0,
                nullptr, 0, KEY_WRITE | KEY_WOW64_64KEY, nullptr, created.put(), nullptr),
            ERROR_SUCCESS);
  EXPECT_TRUE(Signalled());
}

TEST_F(SimRegistryNotifyTest, ClosingTheKeySignalsAPendingWatch) {
  HKEY key = OpenPolicies();
  ASSERT_EQ(Arm(key, true, REG_NOTIFY_CHANGE_LAST_SET), ERROR_SUCCESS);
  EXPECT_FALSE(Signalled());
  EXPECT_EQ(Reg64().RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_TRUE(Signalled());
  // Closing another handle to the same key does not touch this one's watch.
  UniqueHKey a(Reg64(), OpenPolicies());
  HKEY b = OpenPolicies();
  ASSERT_EQ(Arm(a.get(), false, REG_NOTIFY_CHANGE_LAST_SET), ERROR_SUCCESS);
  Reg64().RegCloseKey(b);
  EXPECT_FALSE(Signalled());
}

TEST_F(SimRegistryNotifyTest, DeletedKeySignalsAndCannotBeArmedAgain) {
  UniqueHKey deep(Reg64());
  ASSERT_EQ(
      Reg64().RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Policies\\Veridane\\Lumera\\Sub\\Deep",
                            0, KEY_READ | KEY_WOW64_64KEY, deep.put()),
      ERROR_SUCCESS);
  ASSERT_EQ(Arm(deep.get(), false, REG_NOTIFY_CHANGE_LAST_SET), ERROR_SUCCESS);
  EXPECT_TRUE(Store().DeleteKey(kPolicies + L"\\Sub"));
  EXPECT_TRUE(Signalled());
  EXPECT_EQ(Arm(deep.get(), false, REG_NOTIFY_CHANGE_LAST_SET), ERROR_KEY_DELETED);
}

TEST_F(SimRegistryNotifyTest, PredefinedKeysCanBeWatchedToo) {
  ASSERT_EQ(Arm(HKEY_CURRENT_USER, true, REG_NOTIFY_CHANGE_LAST_SET), ERROR_SUCCESS);
  Store().SetDword(L"HKU\\" + m_machine.Sessions().UserSid(2) + L"\\Software\\X", L"v", 1);
  EXPECT_FALSE(Signalled());  // another user's hive
  Store().SetDword(L"HKU\\" + m_machine.Sessions().UserSid(1) + L"\\Software\\X", L"v", 1);
  EXPECT_TRUE(Signalled());
  // Closing a predefined key is allowed and does not disturb a watch on it.
  ASSERT_EQ(Arm(HKEY_CURRENT_USER, true, REG_NOTIFY_CHANGE_LAST_SET), ERROR_SUCCESS);
  EXPECT_EQ(Reg64().RegCloseKey(HKEY_CURRENT_USER), ERROR_SUCCESS);
  EXPECT_FALSE(Signalled());
  // A whole root is never emptied.
  EXPECT_EQ(Reg64().RegDeleteTreeW(HKEY_LOCAL_MACHINE, nullptr), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(Store().KeyExists(kPolicies));
}

TEST_F(SimRegistryNotifyTest, BadArgumentsAreRefused) {
  UniqueHKey key(Reg64(), OpenPolicies());
  EXPECT_EQ(
      Reg64().RegNotifyChangeKeyValue(key.get(), FALSE, REG_NOTIFY_CHANGE_LAST_SET, m_event, FALSE),
      ERROR_INVALID_PARAMETER);
  EXPECT_EQ(Arm(key.get(), false, 0), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(Reg64().RegNotifyChangeKeyValue(key.get(), FALSE, REG_NOTIFY_CHANGE_LAST_SET,
                                            reinterpret_cast<HANDLE>(0x7770), TRUE),
            ERROR_INVALID_HANDLE);
  UniqueHKey noNotify(Reg64());
  ASSERT_EQ(Reg64().RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Policies", 0, KEY_QUERY_VALUE,
                                  noNotify.put()),
            ERROR_SUCCESS);
  EXPECT_EQ(Arm(noNotify.get(), false, REG_NOTIFY_CHANGE_LAST_SET), ERROR_ACCESS_DENIED);
}

TEST_F(SimRegistryNotifyTest, EndingTheProcessClosesItsKeysAndFiresTheirWatches) {
  auto other = m_machine.CreateProcess({.sessionId = 1, .is32Bit = false});
  HKEY key = nullptr;
  ASSERT_EQ(
      other->Registry().RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Policies", 0, KEY_READ, &key),
      ERROR_SUCCESS);
  // The watch holds the event of this test's process... only through its own handle, so
  // give the other process a handle to a named event instead.
  HANDLE mine = Kernel().CreateEventW(nullptr, TRUE, FALSE, L"Global\\KeyGone");
  HANDLE theirs = other->Kernel().CreateEventW(nullptr, TRUE, FALSE, L"Global\\KeyGone");
  ASSERT_EQ(other->Registry().RegNotifyChangeKeyValue(key, TRUE, REG_NOTIFY_CHANGE_LAST_SET, theirs,
                                                      TRUE),
            ERROR_SUCCESS);
  other.reset();
  EXPECT_EQ(Kernel().WaitForSingleObject(mine, 0), WAIT_OBJECT_0);
  Kernel().CloseHandle(mine);
}

}  // namespace
