// Registry: typed values, the two views of HKLM\SOFTWARE, and change notification.
#include <cstring>
#include <string>
#include <vector>

#include "tests/conformance/backend.h"

namespace conformance {
namespace {

// A key handle closed at the end of the scope.
class Key {
 public:
  Key(platform::IRegistry& reg, HKEY root, const std::wstring& path, REGSAM sam = 0) : m_reg(reg) {
    m_status = reg.RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | sam, nullptr,
                                   &m_key, nullptr);
  }
  ~Key() {
    if (m_key) m_reg.RegCloseKey(m_key);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  HKEY get() const { return m_key; }
  LSTATUS status() const { return m_status; }
  // Closes now (a test of what closing does).
  void Close() {
    m_reg.RegCloseKey(m_key);
    m_key = nullptr;
  }

 private:
  platform::IRegistry& m_reg;
  HKEY m_key = nullptr;
  LSTATUS m_status;
};

std::vector<BYTE> StringBytes(const std::wstring& s) {
  std::vector<BYTE> b((s.size() + 1) * sizeof(WCHAR));
  std::memcpy(b.data(), s.c_str(), b.size());
  return b;
}

class RegistryConformance : public ConformanceTest {
 protected:
  void SetUp() override {
    ConformanceTest::SetUp();
    m_base = B().Unique(L"Software\\VdConformanceTest");
  }
  void TearDown() override {
    Reg().RegDeleteTreeW(HKEY_CURRENT_USER, m_base.c_str());
    Reg().RegDeleteKeyExW(HKEY_CURRENT_USER, m_base.c_str(), 0, 0);
    ConformanceTest::TearDown();
  }
  platform::IRegistry& Reg() { return Plat().Registry(); }
  platform::IKernel& K() { return Plat().Kernel(); }

  // A fresh key handle watching with one filter: the first RegNotifyChangeKeyValue on a
  // handle fixes its filter under Wine, so every filter gets its own handle.
  struct Watch {
    Watch(RegistryConformance& t, const std::wstring& path, BOOL subtree, DWORD filter)
        : key(t.Reg(), HKEY_CURRENT_USER, path), k(t.K()) {
      event = k.CreateEventW(nullptr, TRUE, FALSE, nullptr);
      EXPECT_EQ(t.Reg().RegNotifyChangeKeyValue(key.get(), subtree, filter, event, TRUE),
                ERROR_SUCCESS);
    }
    ~Watch() { k.CloseHandle(event); }
    bool Fired(DWORD ms) { return k.WaitForSingleObject(event, ms) == WAIT_OBJECT_0; }
    Key key;
    platform::IKernel& k;
    HANDLE event;
  };

  std::wstring m_base;
};

TEST_F(RegistryConformance, ValuesKeepTheirTypeAndBytesAndSizesAreInBytes) {
  Key k(Reg(), HKEY_CURRENT_USER, m_base);
  ASSERT_EQ(k.status(), ERROR_SUCCESS);
  const DWORD dw = 0x12345678;
  const ULONGLONG qw = 0x1122334455667788ull;
  const auto sz = StringBytes(L"C:\\Vd\\Agent");
  const std::vector<BYTE> multi = [] {
    std::wstring m(L"one\0two\0", 8);
    return StringBytes(m);  // "one\0two\0\0"
  }();
  ASSERT_EQ(Reg().RegSetValueExW(k.get(), L"D", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dw),
                                 sizeof(dw)),
            ERROR_SUCCESS);
  ASSERT_EQ(Reg().RegSetValueExW(k.get(), L"Q", 0, REG_QWORD, reinterpret_cast<const BYTE*>(&qw),
                                 sizeof(qw)),
            ERROR_SUCCESS);
  ASSERT_EQ(
      Reg().RegSetValueExW(k.get(), L"S", 0, REG_SZ, sz.data(), static_cast<DWORD>(sz.size())),
      ERROR_SUCCESS);
  ASSERT_EQ(Reg().RegSetValueExW(k.get(), L"M", 0, REG_MULTI_SZ, multi.data(),
                                 static_cast<DWORD>(multi.size())),
            ERROR_SUCCESS);

  struct Expect {
    const wchar_t* name;
    DWORD type;
    std::vector<BYTE> bytes;
  };
  const std::vector<Expect> expected = {
      {L"D", REG_DWORD, {0x78, 0x56, 0x34, 0x12}},
      {L"Q", REG_QWORD, {0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11}},
      {L"s", REG_SZ, sz},  // value names ignore case
      {L"M", REG_MULTI_SZ, multi},
  };
  for (const auto& e : expected) {
    SCOPED_TRACE(testing::Message() << "value " << static_cast<char>(e.name[0]));
    DWORD type = 0, size = 0;
    ASSERT_EQ(Reg().RegQueryValueExW(k.get(), e.name, nullptr, &type, nullptr, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, e.type);
    EXPECT_EQ(size, e.bytes.size());
    std::vector<BYTE> small(e.bytes.size() - 1);
    DWORD smallSize = static_cast<DWORD>(small.size());
    EXPECT_EQ(Reg().RegQueryValueExW(k.get(), e.name, nullptr, &type, small.data(), &smallSize),
              ERROR_MORE_DATA);
    EXPECT_EQ(smallSize, e.bytes.size());
    std::vector<BYTE> data(e.bytes.size() + 8, 0xCC);
    DWORD dataSize = static_cast<DWORD>(data.size());
    ASSERT_EQ(Reg().RegQueryValueExW(k.get(), e.name, nullptr, &type, data.data(), &dataSize),
              ERROR_SUCCESS);
    data.resize(dataSize);
    EXPECT_EQ(data, e.bytes);
  }

  DWORD values = 0;
  ASSERT_EQ(Reg().RegQueryInfoKeyW(k.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                   &values, nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(values, 4u);
  EXPECT_EQ(Reg().RegDeleteValueW(k.get(), L"D"), ERROR_SUCCESS);
  DWORD size = 0;
  EXPECT_EQ(Reg().RegQueryValueExW(k.get(), L"D", nullptr, nullptr, nullptr, &size),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Reg().RegDeleteValueW(k.get(), L"D"), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryConformance, ThirtyTwoBitViewOfSoftwareLivesUnderWow6432Node) {
  // A 64-bit process on 64-bit Windows.
  EXPECT_FALSE(Reg().IsWow64Process());
  EXPECT_TRUE(Reg().Is64BitWindows());
  const std::wstring name = B().Unique(L"VdConformanceTest");
  const std::wstring path = L"SOFTWARE\\" + name;
  {
    Key k32(Reg(), HKEY_LOCAL_MACHINE, path, KEY_WOW64_32KEY);
    ASSERT_EQ(k32.status(), ERROR_SUCCESS) << "writing HKLM needs an administrator";
    const DWORD v = 32;
    ASSERT_EQ(Reg().RegSetValueExW(k32.get(), L"View", 0, REG_DWORD,
                                   reinterpret_cast<const BYTE*>(&v), sizeof(v)),
              ERROR_SUCCESS);
  }
  HKEY h = nullptr;
  EXPECT_EQ(
      Reg().RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &h),
      ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(Reg().RegOpenKeyExW(HKEY_LOCAL_MACHINE, (L"SOFTWARE\\WOW6432Node\\" + name).c_str(), 0,
                                KEY_READ | KEY_WOW64_64KEY, &h),
            ERROR_SUCCESS);
  DWORD v = 0, size = sizeof(v);
  EXPECT_EQ(
      Reg().RegQueryValueExW(h, L"View", nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &size),
      ERROR_SUCCESS);
  EXPECT_EQ(v, 32u);
  Reg().RegCloseKey(h);
  // No view flag: a 64-bit process sees the 64-bit view.
  EXPECT_EQ(Reg().RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &h),
            ERROR_FILE_NOT_FOUND);

  EXPECT_EQ(Reg().RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), KEY_WOW64_64KEY, 0),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Reg().RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), KEY_WOW64_32KEY, 0),
            ERROR_SUCCESS);
  EXPECT_EQ(
      Reg().RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | KEY_WOW64_32KEY, &h),
      ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryConformance, CurrentUserSoftwareIsTheSameInBothViews) {
  {
    Key k32(Reg(), HKEY_CURRENT_USER, m_base + L"\\Shared", KEY_WOW64_32KEY);
    ASSERT_EQ(k32.status(), ERROR_SUCCESS);
  }
  HKEY h = nullptr;
  ASSERT_EQ(Reg().RegOpenKeyExW(HKEY_CURRENT_USER, (m_base + L"\\Shared").c_str(), 0,
                                KEY_READ | KEY_WOW64_64KEY, &h),
            ERROR_SUCCESS);
  Reg().RegCloseKey(h);
}

TEST_F(RegistryConformance, LastSetFilterFiresOnceForAValueWrittenThroughAnotherHandle) {
  Key writer(Reg(), HKEY_CURRENT_USER, m_base);
  Watch w(*this, m_base, FALSE, REG_NOTIFY_CHANGE_LAST_SET);
  EXPECT_FALSE(w.Fired(100));
  const DWORD v = 1;
  ASSERT_EQ(Reg().RegSetValueExW(writer.get(), L"V", 0, REG_DWORD,
                                 reinterpret_cast<const BYTE*>(&v), sizeof(v)),
            ERROR_SUCCESS);
  EXPECT_TRUE(w.Fired(5000));

  // One signal per registration: not re-armed, a further change says nothing...
  K().ResetEvent(w.event);
  ASSERT_EQ(Reg().RegSetValueExW(writer.get(), L"V", 0, REG_DWORD,
                                 reinterpret_cast<const BYTE*>(&v), sizeof(v)),
            ERROR_SUCCESS);
  EXPECT_FALSE(w.Fired(200));
  // ...until the same filter is asked for again on the same handle.
  ASSERT_EQ(
      Reg().RegNotifyChangeKeyValue(w.key.get(), FALSE, REG_NOTIFY_CHANGE_LAST_SET, w.event, TRUE),
      ERROR_SUCCESS);
  ASSERT_EQ(Reg().RegDeleteValueW(writer.get(), L"V"), ERROR_SUCCESS);
  EXPECT_TRUE(w.Fired(5000));
}

TEST_F(RegistryConformance, NameFilterIgnoresValuesAndSeesSubKeys) {
  Key writer(Reg(), HKEY_CURRENT_USER, m_base);
  Watch names(*this, m_base, FALSE, REG_NOTIFY_CHANGE_NAME);
  const DWORD v = 1;
  ASSERT_EQ(Reg().RegSetValueExW(writer.get(), L"V", 0, REG_DWORD,
                                 reinterpret_cast<const BYTE*>(&v), sizeof(v)),
            ERROR_SUCCESS);
  EXPECT_FALSE(names.Fired(200));
  Key sub(Reg(), HKEY_CURRENT_USER, m_base + L"\\Sub");
  ASSERT_EQ(sub.status(), ERROR_SUCCESS);
  EXPECT_TRUE(names.Fired(5000));
}

TEST_F(RegistryConformance, ChangesBelowTheKeyNeedASubtreeWatch) {
  Key sub(Reg(), HKEY_CURRENT_USER, m_base + L"\\Below");
  Watch flat(*this, m_base, FALSE, REG_NOTIFY_CHANGE_LAST_SET);
  Watch tree(*this, m_base, TRUE, REG_NOTIFY_CHANGE_LAST_SET);
  const DWORD v = 7;
  ASSERT_EQ(Reg().RegSetValueExW(sub.get(), L"V", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v),
                                 sizeof(v)),
            ERROR_SUCCESS);
  EXPECT_TRUE(tree.Fired(5000));
  EXPECT_FALSE(flat.Fired(200));
}

TEST_F(RegistryConformance, ClosingAWatchedKeySignalsItsEvent) {
  // How a watcher thread is told to stop.
  Watch w(*this, m_base, TRUE, REG_NOTIFY_CHANGE_LAST_SET | REG_NOTIFY_CHANGE_NAME);
  EXPECT_FALSE(w.Fired(100));
  w.key.Close();
  EXPECT_TRUE(w.Fired(5000));
}

}  // namespace
}  // namespace conformance
