// The agent's help: the user's preferred UI languages on the simulated machine, which help
// file is opened (first preferred language, else "en-US"), failures, and the window's help
// command end to end.
#include "launch/help_viewer.h"

#include "agent_fixture.h"
#include "platform/sim/desktop.h"
#include "platform/sim/file_system.h"
#include "platform/sim/registry_store.h"

namespace {

constexpr wchar_t kGuid[] = L"{0E1E2E3E-4E5E-6E7E-8E9E-AEBECEDEEEFE}";
constexpr wchar_t kAgentFolder[] = L"C:\\Program Files\\Veridane\\Agent\\";

std::wstring HelpFile(const std::wstring& language) {
  return std::wstring(kAgentFolder) + L"Help\\" + language + L"\\" + kGuid + L".chm";
}

std::vector<std::wstring> HelpShown(sim::Machine& m) {
  std::vector<std::wstring> out;
  for (const auto& e : m.GetDesktop().EventsOfKind(sim::desktop_kind::kHelp)) out.push_back(e.text);
  return out;
}

// A machine whose user prefers `languages`, with one process of the agent.
struct LanguageMachine {
  explicit LanguageMachine(std::vector<std::wstring> languages)
      : machine([&] {
          sim::MachineDescription d;
          d.uiLanguages = std::move(languages);
          return d;
        }()) {}
  std::unique_ptr<launch::CHelpViewer> Viewer(const std::wstring& id = kGuid) {
    return launch::CHelpViewer::Create(*proc, nullptr, kAgentFolder, id);
  }

  VDTraceNS::CRecordingSink sink;
  sim::Machine machine;
  std::unique_ptr<sim::Process> proc = machine.CreateProcess({});
  sim::CurrentProcessScope scope{proc.get()};
};

TEST(PreferredUILanguages, TheMachinesListFirstPreferredFirstElseEnUs) {
  {
    LanguageMachine m({L"de-DE", L"fr-FR", L"en-GB"});
    EXPECT_EQ(launch::PreferredUILanguages(m.proc->Kernel()),
              (std::vector<std::wstring>{L"de-DE", L"fr-FR", L"en-GB"}));
  }
  LanguageMachine m({});
  EXPECT_EQ(launch::PreferredUILanguages(m.proc->Kernel()), (std::vector<std::wstring>{L"en-US"}));
}

TEST(PreferredUILanguages, TheSimulatedCallSizesAndRefusesAsTheSystemDoes) {
  LanguageMachine m({L"de-DE", L"fr-FR"});
  auto& k = m.proc->Kernel();
  ULONG count = 0, size = 0;
  ASSERT_TRUE(k.GetUserPreferredUILanguages(MUI_LANGUAGE_NAME, &count, nullptr, &size));
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(size, 13u);  // "de-DE\0fr-FR\0\0"
  std::wstring buf(size, L'x');
  ULONG small = size - 1;
  EXPECT_FALSE(k.GetUserPreferredUILanguages(MUI_LANGUAGE_NAME, &count, buf.data(), &small));
  EXPECT_EQ(k.GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(small, size);
  ASSERT_TRUE(k.GetUserPreferredUILanguages(MUI_LANGUAGE_NAME, &count, buf.data(), &size));
  EXPECT_EQ(buf, std::wstring(L"de-DE\0fr-FR\0\0", 13));
  EXPECT_FALSE(k.GetUserPreferredUILanguages(MUI_LANGUAGE_NAME, nullptr, nullptr, &size));
  EXPECT_EQ(k.GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(HelpViewer, OnlyAGuidMakesAViewer) {
  LanguageMachine m({});
  for (const wchar_t* id : {L"", L"help", L"{0E1E2E3E-4E5E-6E7E-8E9E-AEBECEDEEEF}",
                            L"{0E1E2E3E-4E5E-6E7E-8E9EAAEBECEDEEEFE}",
                            L"{0E1E2E3E-4E5E-6E7E-8E9E-AEBECEDEEEFG}", L"..\\..\\x"}) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(id)));
    EXPECT_EQ(m.Viewer(id), nullptr);
  }
  // Bare or braced, the file is named by the braced form.
  auto bare = m.Viewer(L"0E1E2E3E-4E5E-6E7E-8E9E-AEBECEDEEEFE");
  ASSERT_NE(bare, nullptr);
  EXPECT_EQ(bare->HelpFiles(), (std::vector<std::wstring>{HelpFile(L"en-US")}));
}

TEST(HelpViewer, TheFilesToTryAreTheFirstPreferredLanguagesThenEnUs) {
  struct Case {
    std::vector<std::wstring> languages;
    std::vector<std::wstring> expected;
  } cases[] = {
      {{L"de-DE", L"fr-FR"}, {HelpFile(L"de-DE"), HelpFile(L"en-US")}},
      {{L"en-US", L"de-DE"}, {HelpFile(L"en-US")}},
      {{L"EN-us"}, {HelpFile(L"EN-us")}},
      {{}, {HelpFile(L"en-US")}},
      // A name that would reach out of the help folder is not a language.
      {{L"..\\..\\Windows"}, {HelpFile(L"en-US")}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.languages));
    LanguageMachine m(c.languages);
    auto viewer = m.Viewer();
    ASSERT_NE(viewer, nullptr);
    EXPECT_EQ(viewer->HelpFiles(), c.expected);
  }
}

TEST(HelpViewer, ShowsTheFirstFileThereAndFailsWhenNoneIs) {
  const struct {
    const char* why;
    std::vector<const wchar_t*> files;  // help files on the machine of a "de-DE" user
    const wchar_t* shown;               // null: nothing shown
  } cases[] = {
      {"the preferred language's file", {L"de-DE", L"en-US"}, L"de-DE"},
      {"only English", {L"en-US"}, L"en-US"},
      {"another language's file only", {L"fr-FR"}, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    LanguageMachine m({L"de-DE"});
    for (auto f : c.files) m.machine.Files().WriteFile(HelpFile(f), "ITSF");
    EXPECT_EQ(m.Viewer()->Show(), c.shown != nullptr);
    if (!c.shown) {
      EXPECT_TRUE(HelpShown(m.machine).empty());
      continue;
    }
    EXPECT_EQ(HelpShown(m.machine), (std::vector<std::wstring>{L"\"" + HelpFile(c.shown) + L"\""}));
    // A missing preferred file is said, naming the path looked at.
    EXPECT_EQ(m.sink.Contains('U',
                              "No help at C:\\Program Files\\Veridane\\Agent\\Help\\de-DE\\"
                              "{0E1E2E3E-4E5E-6E7E-8E9E-AEBECEDEEEFE}.chm"),
              std::wstring(c.shown) != L"de-DE");
  }
}

// The viewer's window is owned by the invisible window: the owner outlives the call, and
// goes with the viewer.
TEST(HelpViewer, TheInvisibleOwnerLivesAsLongAsTheViewer) {
  LanguageMachine m({});
  m.machine.Files().WriteFile(HelpFile(L"en-US"), "ITSF");
  auto viewer = m.Viewer();
  ASSERT_TRUE(viewer->Show());
  const HWND owner = viewer->Owner();
  ASSERT_NE(owner, nullptr);
  EXPECT_TRUE(m.proc->Ui().IsWindow(owner));
  ASSERT_TRUE(viewer->Show());
  EXPECT_EQ(viewer->Owner(), owner) << "one owner for every showing";
  viewer.reset();
  EXPECT_FALSE(m.proc->Ui().IsWindow(owner));
}

class HelpCommandTest : public AgentWindowTest {
 protected:
  void SetHelpId(const wchar_t* id) {
    machine.Registry().SetString(L"HKLM\\SOFTWARE\\WOW6432Node\\Veridane\\Help",
                                 L"UserDashboardHelpID", id);
  }
};

TEST_F(HelpCommandTest, TheHelpCommandShowsTheSuitesHelpFile) {
  SetHelpId(kGuid);
  machine.Files().WriteFile(HelpFile(L"en-US"), "ITSF");
  Send(WM_COMMAND, core::ID_HELP);
  EXPECT_EQ(HelpShown(machine), (std::vector<std::wstring>{L"\"" + HelpFile(L"en-US") + L"\""}));
  EXPECT_FALSE(sink.Contains('U', "Failed to create HtmlHelp."));
  // The identifier is read once: a later change is not seen by this window.
  SetHelpId(L"not a guid");
  Send(WM_COMMAND, core::ID_HELP);
  EXPECT_EQ(HelpShown(machine).size(), 2u);
}

TEST_F(HelpCommandTest, WithoutAGuidOrAFileTheHelpFailsAndSaysSo) {
  SetHelpId(L"not a guid");
  Send(WM_COMMAND, core::ID_HELP);
  EXPECT_TRUE(sink.Contains('U', "Help ID is not a GUID: not a guid"));
  EXPECT_TRUE(sink.Contains('U', "Failed to create HtmlHelp."));
  EXPECT_TRUE(HelpShown(machine).empty());
}

}  // namespace
