// Branding strings on a simulated machine: which module a text comes from, that a long text
// comes whole, and that each module is loaded once and freed with its owner.
#include "support/branding_strings.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "platform/sim/machine.h"
#include "platform/sim/module_table.h"
#include "platform/sim/process.h"
#include "platform/sim/registry_store.h"
#include "support/trace/trace_sink.h"
#include "tests/core/suite_install.h"

namespace {

using support::CBrandingStrings;

constexpr wchar_t kBrandingKey[] = L"HKLM\\SOFTWARE\\Veridane\\Branding\\Common";
constexpr wchar_t kBrandDll[] = L"C:\\Program Files\\Veridane\\Brand.dll";
constexpr wchar_t kProductFolder[] = L"C:\\Program Files\\Veridane\\Agent";
constexpr wchar_t kAgentRes[] = L"C:\\Program Files\\Veridane\\Agent\\VdAgentRes.dll";

// The process's modules, counting loads and frees by the path asked for.
class CountingModules final : public platform::IModules {
 public:
  explicit CountingModules(platform::IModules& inner) : m_inner(inner) {}
  HMODULE LoadLibraryExW(LPCWSTR path, HANDLE file, DWORD flags) override {
    ++loads[path];
    if (flags != LOAD_LIBRARY_AS_DATAFILE) ++notAsData;
    HMODULE h = m_inner.LoadLibraryExW(path, file, flags);
    if (h) m_paths[h] = path;
    return h;
  }
  FARPROC GetProcAddress(HMODULE h, LPCSTR name) override {
    return m_inner.GetProcAddress(h, name);
  }
  HMODULE GetModuleHandleW(LPCWSTR name) override { return m_inner.GetModuleHandleW(name); }
  BOOL FreeLibrary(HMODULE h) override {
    ++frees[m_paths[h]];
    return m_inner.FreeLibrary(h);
  }
  int LoadStringW(HINSTANCE h, UINT id, LPWSTR buf, int cch) override {
    return m_inner.LoadStringW(h, id, buf, cch);
  }

  std::map<std::wstring, int> loads, frees;
  int notAsData = 0;

 private:
  platform::IModules& m_inner;
  std::map<HMODULE, std::wstring> m_paths;
};

// A simulated process whose modules are counted.
struct CountingPlatform final : public platform::IPlatform {
  explicit CountingPlatform(sim::Process& p) : m_p(p), modules(p.Modules()) {}
  platform::IRegistry& Registry() override { return m_p.Registry(); }
  platform::IKernel& Kernel() override { return m_p.Kernel(); }
  platform::IUi& Ui() override { return m_p.Ui(); }
  platform::ISessions& Sessions() override { return m_p.Sessions(); }
  platform::ICom& Com() override { return m_p.Com(); }
  platform::IModules& Modules() override { return modules; }
  platform::IShell& Shell() override { return m_p.Shell(); }
  platform::ICrypt& Crypt() override { return m_p.Crypt(); }
  platform::IGdi& Gdi() override { return m_p.Gdi(); }

  sim::Process& m_p;
  CountingModules modules;
};

class BrandingStringsTest : public ::testing::Test {
 protected:
  void InstallBrand(sim::ModuleTable::Strings strings) {
    machine.Modules().Install(kBrandDll, {}, std::move(strings));
    machine.Registry().SetString(kBrandingKey, L"DLLPath", kBrandDll);
  }
  void InstallAgentRes(sim::ModuleTable::Strings strings) {
    machine.Modules().Install(kAgentRes, {}, std::move(strings));
  }

  VDTraceNS::CRecordingSink sink;
  sim::Machine machine;
  std::unique_ptr<sim::Process> process = machine.CreateProcess({});
  CountingPlatform plat{*process};
};

TEST_F(BrandingStringsTest, TheBrandingModuleWinsAndTheAgentsModuleIsNotEvenLoaded) {
  InstallBrand({{124, L"Brand title"}});
  InstallAgentRes({{124, L"Agent title"}});
  CBrandingStrings strings(plat, kProductFolder);
  EXPECT_EQ(strings.String(124), L"Brand title");
  EXPECT_EQ(plat.modules.loads[kAgentRes], 0);
  EXPECT_EQ(plat.modules.notAsData, 0) << "a resource module must not run code";
}

TEST_F(BrandingStringsTest, WithoutAUsableBrandingModuleTheAgentsModuleGivesTheText) {
  struct Case {
    const char* name;
    void (*arrange)(sim::Machine&);
  } cases[] = {
      {"no DLLPath", [](sim::Machine&) {}},
      {"empty DLLPath",
       [](sim::Machine& m) { m.Registry().SetString(kBrandingKey, L"DLLPath", L""); }},
      {"DLLPath not a string",
       [](sim::Machine& m) {
         m.Modules().Install(kBrandDll, {}, {{605, L"Brand"}});
         m.Registry().SetDword(kBrandingKey, L"DLLPath", 1);
       }},
      {"DLLPath names no module",
       [](sim::Machine& m) {
         m.Registry().SetString(kBrandingKey, L"DLLPath", L"C:\\Nowhere\\Brand.dll");
       }},
      {"the branding module lacks the string",
       [](sim::Machine& m) {
         m.Modules().Install(kBrandDll, {}, {{606, L"Brand, another string"}});
         m.Registry().SetString(kBrandingKey, L"DLLPath", kBrandDll);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Machine m;
    m.Modules().Install(kAgentRes, {}, {{605, L"Agent title"}});
    c.arrange(m);
    auto p = m.CreateProcess({});
    CBrandingStrings strings(*p, kProductFolder);
    EXPECT_EQ(strings.String(605), L"Agent title");
  }
}

TEST_F(BrandingStringsTest, AStringFoundNowhereIsEmptyAndTraced) {
  InstallBrand({{122, L"Brand message"}});
  {
    SCOPED_TRACE("the agent's module is there without the string");
    InstallAgentRes({{124, L"Agent title"}});
    CBrandingStrings strings(plat, kProductFolder);
    EXPECT_EQ(strings.String(607), L"");
    EXPECT_TRUE(sink.Contains('U', "String 607 found in no resource module"));
  }
  {
    SCOPED_TRACE("no agent's module either");
    machine.Modules().Uninstall(kAgentRes);
    sink.Clear();
    CBrandingStrings strings(plat, kProductFolder);
    EXPECT_EQ(strings.String(607), L"");
    EXPECT_TRUE(sink.Contains(
        'U',
        "Cannot load agent resource module C:\\Program Files\\Veridane\\Agent\\VdAgentRes.dll"));
    EXPECT_TRUE(sink.Contains('E', "-2147024770 LoadLibraryExW"));  // ERROR_MOD_NOT_FOUND
    EXPECT_TRUE(sink.Contains('U', "String 607 found in no resource module"));
    EXPECT_EQ(strings.String(122), L"Brand message");
  }
}

TEST_F(BrandingStringsTest, ALongStringComesWhole) {
  // Around the first buffer (256) and its doublings, and the longest a resource can hold.
  const size_t lengths[] = {255, 256, 257, 512, 65535};
  sim::ModuleTable::Strings texts;
  for (size_t n : lengths) {
    std::wstring s(n, L'x');
    s.back() = L'!';  // a cut string loses its mark
    texts[static_cast<UINT>(n)] = s;
  }
  InstallBrand(texts);
  CBrandingStrings strings(plat, kProductFolder);
  for (size_t n : lengths) {
    SCOPED_TRACE(n);
    EXPECT_EQ(strings.String(static_cast<UINT>(n)), texts[static_cast<UINT>(n)]);
  }
}

TEST_F(BrandingStringsTest, EachModuleIsLoadedOnceAndFreedWithItsOwner) {
  InstallBrand({{122, L"Brand message"}});
  InstallAgentRes({{124, L"Agent title"}});
  {
    CBrandingStrings strings(plat, kProductFolder);
    EXPECT_TRUE(plat.modules.loads.empty()) << "nothing loads before the first string";
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(strings.String(122), L"Brand message");
      EXPECT_EQ(strings.String(124), L"Agent title");
      EXPECT_EQ(strings.String(999), L"");
    }
    EXPECT_EQ(plat.modules.loads, (std::map<std::wstring, int>{{kBrandDll, 1}, {kAgentRes, 1}}));
    EXPECT_TRUE(plat.modules.frees.empty());
  }
  EXPECT_EQ(plat.modules.frees, (std::map<std::wstring, int>{{kBrandDll, 1}, {kAgentRes, 1}}));
}

TEST_F(BrandingStringsTest, AModuleThatDoesNotLoadIsNotTriedAgain) {
  machine.Registry().SetString(kBrandingKey, L"DLLPath", kBrandDll);  // not installed
  CBrandingStrings strings(plat, kProductFolder);                     // no agent module either
  EXPECT_EQ(strings.String(122), L"");
  InstallBrand({{122, L"Brand message"}});  // too late for this process
  EXPECT_EQ(strings.String(122), L"");
  EXPECT_EQ(plat.modules.loads, (std::map<std::wstring, int>{{kBrandDll, 1}, {kAgentRes, 1}}));
}

// The suite's folder ends in a backslash: the module's path gets no second one.
TEST_F(BrandingStringsTest, TheSuiteInstallerGivesTheAgentItsBalloonTexts) {
  suite_test::InstallSuite(machine);
  CBrandingStrings strings(plat, suite_test::kAgentDir);
  for (UINT id : {122u, 124u, 605u, 607u}) {
    SCOPED_TRACE(id);
    EXPECT_FALSE(strings.String(id).empty());
  }
}

TEST(BrandingPlaceholders, EachIsReplacedOnceWhereverItStands) {
  struct Case {
    const wchar_t* text;
    const wchar_t* expected;
  } cases[] = {
      {L"", L""},
      {L"About <<%PN%>>", L"About Acme Guard"},
      {L"<<%MA%>>.lnk", L"Guard.lnk"},
      {L"<<%PN%>><<%MA%>><<%PN%>>", L"Acme GuardGuardAcme Guard"},
      // Not placeholders: cut short, other letters, other case.
      {L"<<%PN%> <<%PN <<%XX%>> <<%pn%>>", L"<<%PN%> <<%PN <<%XX%>> <<%pn%>>"},
      {L"<<<%PN%>>>", L"<Acme Guard>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.text)));
    EXPECT_EQ(support::ExpandPlaceholders(c.text, L"Acme Guard", L"Guard"), c.expected);
  }
  // A name naming a placeholder is put in as it is, not replaced again.
  EXPECT_EQ(support::ExpandPlaceholders(L"<<%PN%>>|<<%MA%>>", L"<<%MA%>>", L"<<%PN%>>"),
            L"<<%MA%>>|<<%PN%>>");
}

TEST_F(BrandingStringsTest, PlaceholdersTakeTheNamesWithTheirFallbacks) {
  struct Case {
    const char* name;
    sim::ModuleTable::Strings brand, agent;
    const wchar_t* expected;
  } cases[] = {
      {"both names branded",
       {{1100, L"Acme Guard"}, {1103, L"Guard"}},
       {{1100, L"Veridane Classic"}, {1103, L"Classic"}},
       L"Acme Guard/Guard"},
      {"the brand names the product only: the agent's short name stays",
       {{1100, L"Acme Guard"}},
       {{1100, L"Veridane Classic"}, {1103, L"Classic"}},
       L"Acme Guard/Classic"},
      {"no short name anywhere: the product's name",
       {{1100, L"Acme Guard"}},
       {},
       L"Acme Guard/Acme Guard"},
      {"no name anywhere", {}, {}, L"Veridane/Veridane"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Machine m;
    auto brand = c.brand;
    brand[200] = L"<<%PN%>>/<<%MA%>>";
    m.Modules().Install(kBrandDll, {}, brand);
    m.Registry().SetString(kBrandingKey, L"DLLPath", kBrandDll);
    m.Modules().Install(kAgentRes, {}, c.agent);
    auto p = m.CreateProcess({});
    CBrandingStrings strings(*p, kProductFolder);
    EXPECT_EQ(strings.String(200), c.expected);
  }
}

TEST_F(BrandingStringsTest, TheAgentsOwnTextsNameTheBrandedProduct) {
  suite_test::InstallSuite(machine);
  {
    CBrandingStrings strings(plat, suite_test::kAgentDir);
    EXPECT_EQ(strings.String(1104), L"About " + strings.ProductName());
    EXPECT_EQ(strings.ProductName(), L"Veridane Classic");
    // The feedback window's texts after a failed recognition.
    for (UINT id : {114u, 115u, 116u, 117u}) {
      SCOPED_TRACE(id);
      const std::wstring text = strings.String(id);
      EXPECT_FALSE(text.empty());
      EXPECT_EQ(text.find(L"<<%"), std::wstring::npos);
    }
  }
  InstallBrand({{1100, L"Acme Guard"}});
  CBrandingStrings strings(plat, suite_test::kAgentDir);
  EXPECT_EQ(strings.String(1104), L"About Acme Guard");
}

}  // namespace
