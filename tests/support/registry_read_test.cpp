// The typed registry helpers over values another program stored: with or without the
// terminator, with zeros inside, at and past the length limit, of another type.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/sim/machine.h"
#include "platform/sim/process.h"
#include "platform/sim/registry_store.h"
#include "support/registry_read.h"
#include "support/trace/trace.h"
#include "support/trace/trace_config.h"

namespace {

constexpr const wchar_t* kPath = L"SOFTWARE\\Veridane\\Test";

std::vector<BYTE> Units(const std::wstring& units) {
  std::vector<BYTE> b(units.size() * sizeof(wchar_t));
  if (!b.empty()) std::memcpy(b.data(), units.data(), b.size());
  return b;
}

class RegistryReadTest : public ::testing::Test {
 protected:
  void SetUp() override { VDTraceNS::Bind(nullptr); }
  std::optional<std::wstring> Read(DWORD type, std::vector<BYTE> data, DWORD maxChars) {
    machine.Registry().SetValue(std::wstring(L"HKLM\\") + kPath, L"V", type, std::move(data));
    platform::IRegistry& reg = process->Registry();
    return support::ReadString(reg, HKEY_LOCAL_MACHINE, kPath, L"V", support::SuiteView(reg),
                               maxChars);
  }

  sim::Machine machine;
  std::unique_ptr<sim::Process> process = machine.CreateProcess({.sessionId = 1});
  sim::CurrentProcessScope scope{process.get()};
};

TEST_F(RegistryReadTest, StringIsWhatPrecedesTheFirstZeroWithinTheLimit) {
  using namespace std::string_literals;
  struct Case {
    const char* name;
    DWORD type;
    std::wstring stored;  // exactly the units stored
    DWORD maxChars;
    std::optional<std::wstring> expected;
  };
  const Case cases[] = {
      {"terminated", REG_SZ, L"alice\0"s, 16, L"alice"},
      {"expand, not expanded", REG_EXPAND_SZ, L"%TEMP%\0"s, 16, L"%TEMP%"},
      {"no terminator", REG_SZ, L"alice"s, 16, L"alice"},
      {"zero inside ends it", REG_SZ, L"alice\0evil\0"s, 16, L"alice"},
      {"zero inside, tail past the limit", REG_SZ, L"ab\0cdefgh"s, 8, L"ab"},
      {"exactly the limit, terminated", REG_SZ, L"abcd\0"s, 4, L"abcd"},
      {"exactly the limit, no terminator", REG_SZ, L"abcd"s, 4, L"abcd"},
      {"one past the limit, no terminator", REG_SZ, L"abcde"s, 4, std::nullopt},
      {"one past the limit, terminated", REG_SZ, L"abcde\0"s, 4, std::nullopt},
      {"empty", REG_SZ, L""s, 4, L""},
      {"another type", REG_BINARY, L"abc\0"s, 16, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Read(c.type, Units(c.stored), c.maxChars), c.expected);
  }
}

TEST_F(RegistryReadTest, OddByteCountKeepsOnlyWholeCharacters) {
  std::vector<BYTE> data = Units(L"xy");
  data.push_back(0x41);  // half a character
  EXPECT_EQ(Read(REG_SZ, data, 16), std::optional<std::wstring>(L"xy"));
}

// The tracing settings read their file names the same way, whatever the byte count.
TEST_F(RegistryReadTest, TraceStringTakesWholeCharactersBeforeTheFirstZero) {
  using namespace std::string_literals;
  struct Case {
    const char* name;
    std::vector<BYTE> stored;
    std::wstring expected;
  };
  std::vector<BYTE> odd = Units(L"C:\\t.trc3\0"s);
  odd.push_back(0x41);
  std::vector<BYTE> oddUnterminated = Units(L"C:\\t.trc3"s);
  oddUnterminated.push_back(0x41);
  const Case cases[] = {
      {"terminated", Units(L"C:\\t.trc3\0"s), L"C:\\t.trc3"},
      {"no terminator", Units(L"C:\\t.trc3"s), L"C:\\t.trc3"},
      {"zero inside", Units(L"C:\\t\0.trc3\0"s), L"C:\\t"},
      {"odd byte count after the terminator", odd, L"C:\\t.trc3"},
      {"odd byte count, no terminator: the half character is no character", oddUnterminated,
       L"C:\\t.trc3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    machine.Registry().SetValue(std::wstring(L"HKLM\\") + VDTraceNS::kTracingKey, L"FileName",
                                REG_SZ, c.stored);
    EXPECT_EQ(VDTraceNS::ReadTraceString(*process, L"FileName"), c.expected);
  }
}

}  // namespace
