// Product editions: the installed product from the branding module, "installed" from the
// edition's Version value, the per-process caches, the family tests and the console's
// application identifier.
#include "support/editions/editions.h"
#include "core/agent_process.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/sim/machine.h"
#include "platform/sim/module_table.h"
#include "platform/sim/process.h"
#include "platform/sim/registry_store.h"

namespace {

constexpr wchar_t kBrandingDll[] = L"C:\\Program Files\\Veridane\\Brand.dll";
constexpr wchar_t kBrandingKey[] = L"HKLM\\SOFTWARE\\Veridane\\Branding\\Common";
// Where a 32-bit agent on 64-bit Windows finds HKLM\SOFTWARE\Veridane\Products.
constexpr wchar_t kProducts32[] = L"HKLM\\SOFTWARE\\WOW6432Node\\Veridane\\Products\\";
constexpr wchar_t kProducts64[] = L"HKLM\\SOFTWARE\\Veridane\\Products\\";

std::vector<BYTE> Bytes(const std::wstring& s, bool terminated) {
  const size_t chars = s.size() + (terminated ? 1 : 0);
  std::vector<BYTE> out(chars * sizeof(wchar_t));
  std::memcpy(out.data(), s.c_str(), out.size());
  return out;
}

// One agent process on the machine, with its own caches.
struct EditionAgent {
  EditionAgent(sim::Machine& m, bool is32Bit = true)
      : plat(m.CreateProcess({.is32Bit = is32Bit})), scope(plat.get()), process(*plat, nullptr) {}
  std::unique_ptr<sim::Process> plat;
  sim::CurrentProcessScope scope;
  core::CAgentProcess process;
};

class EditionsTest : public ::testing::Test {
 protected:
  // The branding module names `product` as the installed edition.
  void Brand(const std::wstring& product) {
    machine.Modules().Install(kBrandingDll, {}, {{1102, product}});
    machine.Registry().SetString(kBrandingKey, L"DLLPath", kBrandingDll);
  }
  void Unbrand() {
    machine.Modules().Uninstall(kBrandingDll);
    machine.Registry().DeleteValue(kBrandingKey, L"DLLPath");
  }
  void SetVersion(const std::wstring& edition, DWORD type, std::vector<BYTE> data,
                  const wchar_t* root = kProducts32) {
    machine.Registry().SetValue(root + edition, L"Version", type, std::move(data));
  }
  bool Product(const wchar_t* key) {  // asked by a fresh process
    EditionAgent a(machine);
    return EDITIONS::IsInstalledProduct(a.process.Editions(), key);
  }
  bool Installed(const std::wstring& edition) {
    EditionAgent a(machine);
    return EDITIONS::IsInstalled(a.process.Editions(), (EDITIONS::kProductsKey + edition).c_str());
  }

  sim::Machine machine;
};

// ---- The installed product ----

TEST_F(EditionsTest, TheBrandingStringNamesTheWholeProductKeyWithoutRegardToCase) {
  EXPECT_FALSE(Product(EDITIONS::kLumeraKiosk)) << "nothing configured";
  machine.Registry().SetString(kBrandingKey, L"DLLPath", kBrandingDll);
  EXPECT_FALSE(Product(EDITIONS::kLumeraKiosk)) << "the module is named but not there";
  machine.Modules().Install(kBrandingDll, {}, {{1101, L"Lumera Kiosk"}});
  EXPECT_FALSE(Product(EDITIONS::kLumeraKiosk)) << "the module lacks the string";
  Brand(L"");
  EXPECT_FALSE(Product(L"SOFTWARE\\Veridane\\Products\\")) << "an empty name is no edition";

  Brand(L"lumera KIOSK");
  EXPECT_TRUE(Product(EDITIONS::kLumeraKiosk));
  EXPECT_TRUE(Product(L"software\\veridane\\PRODUCTS\\Lumera Kiosk"));
  // Neither a longer edition name nor a shorter one.
  EXPECT_FALSE(Product(EDITIONS::kLumeraADKiosk));
  EXPECT_FALSE(Product(L"SOFTWARE\\Veridane\\Products\\Lumera"));
  EXPECT_FALSE(Product(L"SOFTWARE\\Veridane\\Products\\Lumera Kiosk2"));
}

TEST_F(EditionsTest, TheInstalledProductIsAskedOncePerEditionAndProcess) {
  Brand(L"Lumera Kiosk");
  EditionAgent a(machine);
  ASSERT_TRUE(EDITIONS::IsInstalledProduct(a.process.Editions(), EDITIONS::kLumeraKiosk));
  Unbrand();
  // The same edition in another case: answered from the cache.
  EXPECT_TRUE(EDITIONS::IsInstalledProduct(a.process.Editions(),
                                           L"SOFTWARE\\VERIDANE\\PRODUCTS\\LUMERA KIOSK"));
  // An edition not asked before sees the branding as it is now (none), and keeps that answer.
  EXPECT_FALSE(EDITIONS::IsInstalledProduct(a.process.Editions(), EDITIONS::kLumeraServer));
  Brand(L"Lumera Server");
  EXPECT_FALSE(EDITIONS::IsInstalledProduct(a.process.Editions(), EDITIONS::kLumeraServer));
  EXPECT_TRUE(EDITIONS::IsInstalledProduct(a.process.Editions(), EDITIONS::kLumeraKiosk));
  // Another process has caches of its own.
  EditionAgent b(machine);
  EXPECT_TRUE(EDITIONS::IsInstalledProduct(b.process.Editions(), EDITIONS::kLumeraServer));
  EXPECT_FALSE(EDITIONS::IsInstalledProduct(b.process.Editions(), EDITIONS::kLumeraKiosk));
}

// ---- Installed: the Version value ----

TEST_F(EditionsTest, OnlyANonEmptyVersionStringMakesTheEditionInstalled) {
  // A size that is not a whole number of characters is a damaged value.
  std::vector<BYTE> odd = Bytes(L"5.2", true);
  odd.push_back(0);
  const struct {
    const wchar_t* edition;
    DWORD type;
    std::vector<BYTE> data;
    bool installed;
  } cases[] = {
      {L"Classic Home", REG_SZ, Bytes(L"5.2.0.1", true), true},
      {L"Printvue", REG_EXPAND_SZ, Bytes(L"%VER%", true), true},
      {L"Lumera Lite", REG_SZ, Bytes(L"7", false), true},  // stored without its terminator
      {L"A", REG_MULTI_SZ, Bytes(std::wstring(L"5.2\0", 4), true), false},
      {L"B", REG_DWORD, {5, 0, 0, 0}, false},
      {L"C", REG_BINARY, Bytes(L"5.2", true), false},
      {L"D", REG_SZ, Bytes(L"", true), false},  // just the terminator
      {L"E", REG_SZ, {}, false},                // no data at all
      {L"F", REG_SZ, odd, false},
  };
  for (const auto& c : cases) SetVersion(c.edition, c.type, c.data);
  machine.Registry().CreateKey(std::wstring(kProducts32) + L"G");  // no Version value
  machine.Registry().SetString(std::wstring(kProducts32) + L"H", L"version2", L"5.2");
  for (const auto& c : cases)
    EXPECT_EQ(Installed(c.edition), c.installed) << "edition " << c.edition;
  for (const wchar_t* e : {L"G", L"H", L"Nowhere"}) EXPECT_FALSE(Installed(e)) << "edition " << e;
}

TEST_F(EditionsTest, InstalledReadsTheProcessesOwnRegistryView) {
  // Written to the 64-bit view only: the 32-bit agent does not see it, a 64-bit one does.
  SetVersion(L"Classic Home", REG_SZ, Bytes(L"5.2", true), kProducts64);
  EXPECT_FALSE(Installed(L"Classic Home"));
  EditionAgent a64(machine, /*is32Bit=*/false);
  EXPECT_TRUE(EDITIONS::IsInstalled(a64.process.Editions(), EDITIONS::kClassicHome));
}

TEST_F(EditionsTest, InstalledIsAskedOncePerEditionApartFromTheProductQuestion) {
  SetVersion(L"Classic Home", REG_SZ, Bytes(L"5.2", true));
  EditionAgent a(machine);
  ASSERT_TRUE(EDITIONS::IsInstalled(a.process.Editions(), EDITIONS::kClassicHome));
  ASSERT_FALSE(EDITIONS::IsInstalled(a.process.Editions(), EDITIONS::kPrintvue));
  machine.Registry().DeleteKey(std::wstring(kProducts32) + L"Classic Home");
  SetVersion(L"Printvue", REG_SZ, Bytes(L"1.0", true));
  EXPECT_TRUE(EDITIONS::IsInstalled(a.process.Editions(), EDITIONS::kClassicHome));
  EXPECT_FALSE(EDITIONS::IsInstalled(a.process.Editions(), EDITIONS::kPrintvue));
  // The two questions keep separate answers for one edition.
  EXPECT_FALSE(EDITIONS::IsInstalledProduct(a.process.Editions(), EDITIONS::kClassicHome));
  EXPECT_EQ(
      a.process.EditionCache.Get(EDITIONS::CEditionCaches::kIsInstalled, EDITIONS::kClassicHome),
      EDITIONS::TriState(true));
  // A new process looks again.
  EXPECT_FALSE(Installed(L"Classic Home"));
  EXPECT_TRUE(Installed(L"Printvue"));
}

// ---- Families and the application identifier ----

TEST_F(EditionsTest, EachEditionBelongsToItsOwnFamilyOnly) {
  struct Case {
    const wchar_t* product;
    bool ad;
    bool lumera;
    const wchar_t* appId;
  } cases[] = {
      {L"Lumera AD Workstation", true, false, EDITIONS::kLumeraAppId},
      {L"Lumera AD Kiosk", true, false, EDITIONS::kLumeraAppId},
      {L"Lumera AD Server", true, false, EDITIONS::kLumeraAppId},
      {L"Lumera Workstation", false, true, EDITIONS::kLumeraAppId},
      {L"Lumera Kiosk", false, true, EDITIONS::kLumeraAppId},
      {L"Lumera Mobile Enrollment", false, true, EDITIONS::kMobileEnrollmentAppId},
      {L"Lumera Lite", false, true, EDITIONS::kLumeraAppId},
      {L"Lumera Server", false, true, EDITIONS::kLumeraAppId},
      {L"Oemline Security Manager", false, false, L""},
      {L"Classic Home", false, false, L""},
      {L"Printvue", false, false, L""},
  };
  for (const auto& c : cases) {
    Brand(c.product);
    EditionAgent a(machine);
    EXPECT_EQ(EDITIONS::IsLumeraADFamilyInstalled(a.process.Editions()), c.ad) << c.product;
    EXPECT_EQ(EDITIONS::IsLumeraFamilyInstalled(a.process.Editions()), c.lumera) << c.product;
    EXPECT_EQ(EDITIONS::GetApplicationId(a.process.Editions()), c.appId) << c.product;
  }
}

TEST_F(EditionsTest, TheApplicationIdentifierStaysAsTheProcessFirstFoundIt) {
  Brand(L"Lumera Kiosk");
  EditionAgent a(machine);
  EXPECT_EQ(EDITIONS::GetApplicationId(a.process.Editions()), EDITIONS::kLumeraAppId);
  Brand(L"Lumera Mobile Enrollment");
  EXPECT_EQ(EDITIONS::GetApplicationId(a.process.Editions()), EDITIONS::kLumeraAppId);
}

}  // namespace
