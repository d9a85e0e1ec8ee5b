// The About box's texts and link: what is shown, which addresses may be opened, and the
// dialog on the simulated machine (link click, close box).
#include "launch/about_box.h"

#include <gtest/gtest.h>

#include "launch/about_resources.h"
#include "platform/sim/desktop.h"
#include "platform/sim/file_system.h"
#include "platform/sim/machine.h"
#include "platform/sim/process.h"
#include "platform/sim/process_shell.h"
#include "platform/sim/registry_store.h"
#include "support/trace/trace_sink.h"
#include "tests/core/suite_install.h"

namespace {

constexpr wchar_t kExe[] = L"C:\\Program Files (x86)\\Veridane\\Agent\\VdAgent.exe";
constexpr wchar_t kBrand[] = L"C:\\Program Files\\Acme\\Brand.dll";

TEST(AboutLink, OnlyAPlainWebAddressIsOpenedAndShownAsALink) {
  for (const wchar_t* url : {L"https://www.veridane.example/", L"HTTP://x.example/a?b=c&d=e#f"}) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(url)));
    EXPECT_TRUE(launch::IsWebAddress(url));
  }
  for (const wchar_t* url :
       {L"", L"https://", L"www.veridane.example", L"file:///C:/Windows/System32/calc.exe",
        L"C:\\Windows\\System32\\calc.exe", L"javascript:alert(1)", L"ftp://x.example/",
        L"https://x.example/\" onclick=\"", L"https://x.example/<b>", L"https://x.example/ a",
        L"https://x.example/\tb"}) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(url)));
    EXPECT_FALSE(launch::IsWebAddress(url));
  }
  EXPECT_FALSE(launch::IsWebAddress(L"https://x.example/" + std::wstring(L_MAX_URL_LENGTH, L'a')));
  // The markup shows and targets the address.
  EXPECT_EQ(launch::LinkMarkup(L"https://x.example/"),
            L"<a href=\"https://x.example/\">https://x.example/</a>");
  EXPECT_EQ(launch::LinkMarkup(L""), L"");
}

class AboutBoxTest : public ::testing::Test {
 protected:
  AboutBoxTest() {
    suite_test::InstallAgentResources(machine);
    machine.Files().WriteFile(kExe, "MZ");
    machine.Files().SetFileVersion(kExe, {5, 2, 1, 7});
  }
  void Brand(sim::ModuleTable::Strings strings) {
    machine.Modules().Install(kBrand, {}, std::move(strings));
    machine.Registry().SetString(L"HKLM\\SOFTWARE\\Veridane\\Branding\\Common", L"DLLPath", kBrand);
  }
  launch::AboutTexts Texts() {
    support::CBrandingStrings strings(*proc, suite_test::kAgentDir);
    return launch::LoadAboutTexts(*proc, strings, kExe);
  }

  VDTraceNS::CRecordingSink sink;
  sim::Machine machine;
  std::unique_ptr<sim::Process> proc = machine.CreateProcess({.exePath = kExe});
  sim::CurrentProcessScope scope{proc.get()};
};

TEST_F(AboutBoxTest, TheTextsAreTheAgentsOwnUnlessBranded) {
  auto t = Texts();
  EXPECT_EQ(t.caption, L"About Veridane Classic");
  EXPECT_EQ(t.product, L"Veridane Classic");
  EXPECT_EQ(t.version, L"Version 5.2.1.7");
  EXPECT_EQ(t.legal, L"Copyright (C) Veridane. All rights reserved.");
  EXPECT_EQ(t.url, L"https://www.veridane.example/");

  Brand({{1100, L"Acme Guard"}, {1105, L"(C) Acme for <<%MA%>>"}, {1103, L"Guard"}});
  t = Texts();
  EXPECT_EQ(t.caption, L"About Acme Guard");
  EXPECT_EQ(t.product, L"Acme Guard");
  EXPECT_EQ(t.legal, L"(C) Acme for Guard");
  EXPECT_EQ(t.url, L"https://www.veridane.example/");
}

TEST_F(AboutBoxTest, AFileWithoutVersionOrAModuleWithoutTextsStillGivesABox) {
  machine.Modules().Uninstall(std::wstring(suite_test::kAgentDir) + L"VdAgentRes.dll");
  support::CBrandingStrings strings(*proc, suite_test::kAgentDir);
  const auto t = launch::LoadAboutTexts(*proc, strings, L"C:\\Nowhere\\VdAgent.exe");
  EXPECT_EQ(t.product, L"Veridane");
  EXPECT_EQ(t.caption, L"Veridane") << "the product's name when there is no caption";
  EXPECT_EQ(t.version, L"");
  EXPECT_EQ(t.url, L"");
}

TEST_F(AboutBoxTest, TheLinkOpensTheSiteAndTheBoxClosesAsAsked) {
  const HMODULE res = proc->Modules().LoadLibraryExW(
      (std::wstring(suite_test::kAgentDir) + L"VdAgentRes.dll").c_str(), nullptr,
      LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(res, nullptr);
  int answers = 0;
  machine.GetDesktop().SetPromptUser([&](DWORD, UINT, const std::wstring&) {
    // First the link, the box staying up; then the close box.
    sim::PromptAnswer a;
    a.button = ++answers == 1 ? 0 : IDCANCEL;
    if (answers == 1) a.link = IDC_ABOUT_LINK;
    return a;
  });
  launch::CAboutBox box(*proc, Texts());
  EXPECT_EQ(box.DoModal(res, nullptr), IDCANCEL);
  EXPECT_EQ(answers, 2);
  EXPECT_EQ(machine.GetDesktop().Texts(1, sim::desktop_kind::kLaunch),
            (std::vector<std::wstring>{L"open \"https://www.veridane.example/\""}));
  EXPECT_TRUE(sink.Contains('U', "Opened https://www.veridane.example/"));

  SCOPED_TRACE("no template: not shown, and said so");
  EXPECT_EQ(box.DoModal(nullptr, nullptr), -1);
  bool traced = false;
  for (const auto& r : sink.Records())
    traced |= r.type == 'E' && r.text.ends_with(" DialogBoxParam");
  EXPECT_TRUE(traced);
  proc->Modules().FreeLibrary(res);
}

}  // namespace
