// The event-log writer against the stand-in component on the simulated machine: what the
// component receives, the source name on current and older systems, and a component that is
// missing, broken or refusing.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/sim/desktop.h"
#include "platform/sim/machine.h"
#include "platform/sim/process.h"
#include "platform/sim/registry_store.h"
#include "standins/eventlog/sim_install.h"
#include "support/event_log.h"
#include "support/trace/trace.h"
#include "support/trace/trace_sink.h"

namespace {

using eventlog_standin::EventRecord;
using eventlog_standin::InstallEventLog;
using eventlog_standin::SimEventLogOptions;

constexpr const wchar_t* kAgentSource = L"{FB4CA59D-9C36-4DA7-A1E8-E0E3FA7A77B0}";
constexpr const wchar_t* kDefaultSource = L"{FB4CA59D-9C36-4DA7-A1E8-E0E3FA7A77A0}";
constexpr const wchar_t* kEventLogKey64 = L"HKLM\\SOFTWARE\\Veridane\\EventLog";
constexpr const wchar_t* kEventLogKey32 = L"HKLM\\SOFTWARE\\WOW6432Node\\Veridane\\EventLog";

constexpr HRESULT kFileNotFound = static_cast<HRESULT>(0x80070002);
constexpr HRESULT kModNotFound = static_cast<HRESULT>(0x8007007E);
constexpr HRESULT kProcNotFound = static_cast<HRESULT>(0x8007007F);

bool Has(const std::vector<std::string>& texts, const std::string& text) {
  return std::find(texts.begin(), texts.end(), text) != texts.end();
}

int CountStartingWith(const std::vector<std::string>& texts, const std::string& prefix) {
  return static_cast<int>(std::count_if(
      texts.begin(), texts.end(), [&](const std::string& t) { return t.rfind(prefix, 0) == 0; }));
}

class EventLogTest : public ::testing::Test {
 protected:
  explicit EventLogTest(sim::MachineDescription desc = {}) : m_machine(std::move(desc)) {}
  void SetUp() override { VDTraceNS::Bind(nullptr); }

  void Install(SimEventLogOptions o = {}) {
    m_events.reset();
    m_events = InstallEventLog(m_machine, std::move(o));
  }
  std::vector<EventRecord> Records() { return m_events->Component().Records(); }

  sim::Machine m_machine;
  std::unique_ptr<sim::Process> m_agent = m_machine.CreateProcess({.sessionId = 1});
  sim::CurrentProcessScope m_scope{m_agent.get()};
  std::unique_ptr<eventlog_standin::SimEventLogInstallation> m_events;
};

// ---- The event ---------------------------------------------------------------------------------

TEST(LogEventTest, TypeComesFromTheSeverityBitsAndCategoryFromBits8To15) {
  struct {
    DWORD id;
    DWORD type;
    DWORD category;
  } const rows[] = {{0x41101305, 4, 0x1300}, {0xC0A0FF01, 1, 0xFF00}, {0x80000042, 2, 0x0000},
                    {0x00001234, 0, 0x1200}, {0x7FFFFFFF, 4, 0xFF00}, {0xBFFF00FF, 2, 0x0000}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.id);
    const LogEvent e(r.id, kVDEventSourceAgent);
    EXPECT_EQ(e.EventId(), r.id);
    EXPECT_EQ(e.Type(), r.type);
    EXPECT_EQ(e.Category(), r.category);
    EXPECT_EQ(e.Level(), 1u);
    EXPECT_TRUE(e.Strings().empty());
    EXPECT_TRUE(e.FurtherStrings().empty());
  }
}

TEST(LogEventTest, StringsAreCopiedAndANullStringIsEmpty) {
  LogEvent e(kVDEventSessionLocked, kVDEventSourceAgent);
  {
    std::wstring gone = L"alice";
    e.AddString(gone.c_str());
  }
  e.AddString(nullptr);
  e.AddFurtherString(nullptr);
  EXPECT_EQ(e.Strings(), (std::vector<std::wstring>{L"alice", L""}));
  EXPECT_EQ(e.FurtherStrings(), std::vector<std::wstring>{L""});
}

// ---- The source name ---------------------------------------------------------------------------

TEST_F(EventLogTest, SourceNameIsTheDefaultSourceOfTheProcessesOwnViewOrTheProductName) {
  EXPECT_EQ(CVDLog(*m_agent).ApplicationName(), L"Veridane Lumera");
  // The 64-bit key is not where a 32-bit agent looks without asking for that view.
  m_machine.Registry().SetString(kEventLogKey64, L"DefaultSource", L"Sixty-four");
  EXPECT_EQ(CVDLog(*m_agent).ApplicationName(), L"Veridane Lumera");
  m_machine.Registry().SetString(kEventLogKey32, L"DefaultSource", L"");
  EXPECT_EQ(CVDLog(*m_agent).ApplicationName(), L"Veridane Lumera");
  m_machine.Registry().SetString(kEventLogKey32, L"DefaultSource", L"Veridane Agent");
  EXPECT_EQ(CVDLog(*m_agent).ApplicationName(), L"Veridane Agent");
  m_machine.Registry().SetString(kEventLogKey32, L"DefaultSource", std::wstring(300, L'x'));
  EXPECT_EQ(CVDLog(*m_agent).ApplicationName(), L"Veridane Lumera");
}

// ---- Delivery ----------------------------------------------------------------------------------

TEST_F(EventLogTest, ALockEventReachesTheComponentUnderTheSourceGuid) {
  Install();
  CVDLog log(*m_agent);
  VDTraceNS::CRecordingSink sink;
  LogEvent e(kVDEventSessionLocked, kVDEventSourceAgent);
  e.AddString(L"VDSIM-PC\\alice");
  ASSERT_EQ(log.Log(e), S_OK);

  EventRecord expected;
  expected.processId = m_agent->Pid();
  expected.sessionId = 1;
  expected.source = kAgentSource;
  expected.level = 1;
  expected.type = 4;
  expected.category = 0x1300;
  expected.eventId = 0x41101305;
  expected.strings = {L"VDSIM-PC\\alice"};
  expected.stringArrayGiven = true;
  EXPECT_EQ(Records(), std::vector<EventRecord>{expected});
  EXPECT_EQ(log.ApplicationName(), kAgentSource);

  const auto messages = sink.Texts('U');
  EXPECT_TRUE(Has(messages, "m_sApplicationName - {FB4CA59D-9C36-4DA7-A1E8-E0E3FA7A77B0}"));
  EXPECT_TRUE(
      Has(messages, "Event logged; ID: 0x41101305, LEVEL: 1, TYPE: 4, STRINGS:VDSIM-PC\\alice; "));
  EXPECT_TRUE(sink.Texts('E').empty());

  const auto shown = m_machine.GetDesktop().Texts(1, eventlog_standin::kDesktopKind);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_NE(shown[0].find(L"0x41101305"), std::wstring::npos);
  EXPECT_NE(shown[0].find(L"VDSIM-PC\\alice"), std::wstring::npos);
}

TEST_F(EventLogTest, ANullSourceIsTheDefaultSourceNotTheAgentsOne) {
  Install();
  CVDLog log(*m_agent);
  ASSERT_EQ(log.Log(LogEvent(kVDEventKioskSessionLocked, GUID{})), S_OK);
  ASSERT_EQ(Records().size(), 1u);
  EXPECT_EQ(Records()[0].source, kDefaultSource);
}

TEST_F(EventLogTest, NoStringsIsACountOfZeroAndANullArray) {
  Install();
  CVDLog log(*m_agent);
  VDTraceNS::CRecordingSink sink;
  ASSERT_EQ(log.Log(LogEvent(kVDEventKioskLoggedOff, kVDEventSourceAgent)), S_OK);
  ASSERT_EQ(Records().size(), 1u);
  EXPECT_TRUE(Records()[0].strings.empty());
  EXPECT_FALSE(Records()[0].stringArrayGiven);
  EXPECT_EQ(Records()[0].rawDataSize, 0u);
  EXPECT_FALSE(Records()[0].rawDataGiven);
  EXPECT_TRUE(Has(sink.Texts('U'), "Event logged; ID: 0x41101308, LEVEL: 1, TYPE: 4, STRINGS:"));
}

TEST_F(EventLogTest, FurtherStringsFollowTheStringsInListOrder) {
  Install();
  CVDLog log(*m_agent);
  VDTraceNS::CRecordingSink sink;
  LogEvent e(kVDEventSessionLoggedOff, kVDEventSourceAgent);
  e.AddString(L"a");
  e.AddFurtherString(L"z");
  e.AddString(L"b");
  e.AddFurtherString(nullptr);
  ASSERT_EQ(log.Log(e), S_OK);
  ASSERT_EQ(Records().size(), 1u);
  EXPECT_EQ(Records()[0].strings, (std::vector<std::wstring>{L"a", L"b", L"z", L""}));
  EXPECT_TRUE(
      Has(sink.Texts('U'), "Event logged; ID: 0x41101306, LEVEL: 1, TYPE: 4, STRINGS:a; b; z; ; "));
}

TEST_F(EventLogTest, TheFullFormPassesItsOwnValues) {
  Install();
  CVDLog log(*m_agent);
  LPCWSTR strings[] = {L"one", L"two"};
  ASSERT_EQ(log.Log(7, 2, 0x0500, 0x80000501, 2, strings, kVDEventSourceAgent), S_OK);
  const auto records = Records();
  ASSERT_EQ(records.size(), 1u);
  const EventRecord& r = records[0];
  EXPECT_EQ(r.level, 7u);
  EXPECT_EQ(r.type, 2u);
  EXPECT_EQ(r.category, 0x0500u);
  EXPECT_EQ(r.eventId, 0x80000501u);
  EXPECT_EQ(r.strings, (std::vector<std::wstring>{L"one", L"two"}));
}

TEST_F(EventLogTest, TheComponentIsLoadedOnceAndEveryObjectReleased) {
  Install();
  CVDLog log(*m_agent);
  VDTraceNS::CRecordingSink sink;
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(log.Log(LogEvent(kVDEventKioskSessionLocked, kVDEventSourceAgent)), S_OK);
    EXPECT_EQ(m_events->Component().LiveObjects(), 0) << "factory and writer released";
  }
  EXPECT_EQ(CountStartingWith(sink.Texts('U'), "Loading library <"), 1);
  EXPECT_TRUE(Has(sink.Texts('U'),
                  "Loading library <C:\\Program Files (x86)\\Veridane\\Shared\\VDEvtLog.dll>"));
  EXPECT_EQ(Records().size(), 3u);
}

TEST_F(EventLogTest, AnExpandableRegisteredPathIsExpanded) {
  Install({.expandablePath = true});
  CVDLog log(*m_agent);
  EXPECT_EQ(log.Log(LogEvent(kVDEventKioskSessionLocked, kVDEventSourceAgent)), S_OK);
  EXPECT_EQ(Records().size(), 1u);
}

// ---- A component missing, broken or refusing ----------------------------------------------------

TEST_F(EventLogTest, NoRegistrationIsReportedAndNothingIsLoaded) {
  CVDLog log(*m_agent);
  VDTraceNS::CRecordingSink sink;
  EXPECT_EQ(log.Log(LogEvent(kVDEventSessionLocked, kVDEventSourceAgent)), kFileNotFound);
  EXPECT_EQ(CountStartingWith(sink.Texts('U'), "Loading library"), 0);
  EXPECT_EQ(CountStartingWith(sink.Texts('U'), "Event logged"), 0);
  EXPECT_EQ(sink.Texts('E').size(), 1u);
}

TEST_F(EventLogTest, ARegisteredDllThatIsNotThereIsReportedAndLookedForAgain) {
  Install({.installModule = false});
  CVDLog log(*m_agent);
  VDTraceNS::CRecordingSink sink;
  EXPECT_EQ(log.Log(LogEvent(kVDEventSessionLocked, kVDEventSourceAgent)), kModNotFound);
  EXPECT_EQ(CountStartingWith(sink.Texts('U'), "Event logged"), 0);

  Install();  // the component arrives
  EXPECT_EQ(log.Log(LogEvent(kVDEventSessionLocked, kVDEventSourceAgent)), S_OK);
  EXPECT_EQ(CountStartingWith(sink.Texts('U'), "Loading library <"), 2);
  EXPECT_EQ(Records().size(), 1u);
}

TEST_F(EventLogTest, ADllWithoutTheClassObjectExportIsReported) {
  Install({.exportGetClassObject = false});
  CVDLog log(*m_agent);
  EXPECT_EQ(log.Log(LogEvent(kVDEventSessionLocked, kVDEventSourceAgent)), kProcNotFound);
}

TEST_F(EventLogTest, RefusalsOfTheComponentAreReturnedWithEverythingReleased) {
  Install();
  CVDLog log(*m_agent);
  VDTraceNS::CRecordingSink sink;
  m_events->Component().SetCreateInstanceResult(E_ACCESSDENIED);
  EXPECT_EQ(log.Log(LogEvent(kVDEventSessionLocked, kVDEventSourceAgent)), E_ACCESSDENIED);
  EXPECT_EQ(m_events->Component().LiveObjects(), 0);

  m_events->Component().SetCreateInstanceResult(S_OK);
  m_events->Component().SetReportResult(E_FAIL);
  EXPECT_EQ(log.Log(LogEvent(kVDEventSessionLocked, kVDEventSourceAgent)), E_FAIL);
  EXPECT_EQ(m_events->Component().LiveObjects(), 0);
  EXPECT_TRUE(Records().empty());
  EXPECT_EQ(CountStartingWith(sink.Texts('U'), "Event logged"), 0);
  EXPECT_TRUE(m_machine.GetDesktop().Texts(1, eventlog_standin::kDesktopKind).empty());
}

TEST_F(EventLogTest, AComponentUninstalledWhileLoadedAnswersClassNotAvailable) {
  Install();
  CVDLog log(*m_agent);
  ASSERT_EQ(log.Log(LogEvent(kVDEventSessionLocked, kVDEventSourceAgent)), S_OK);
  m_events.reset();
  EXPECT_EQ(log.Log(LogEvent(kVDEventSessionLocked, kVDEventSourceAgent)),
            CLASS_E_CLASSNOTAVAILABLE);
}

// ---- Systems before Vista -----------------------------------------------------------------------

class PreVistaEventLogTest : public EventLogTest {
 protected:
  static sim::MachineDescription Xp64() {
    sim::MachineDescription d;
    d.osMajor = 5;
    d.osMinor = 2;
    d.osBuild = 3790;
    return d;
  }
  PreVistaEventLogTest() : EventLogTest(Xp64()) {}
};

TEST_F(PreVistaEventLogTest, TheSourceIsTheNameRegisteredForItsGuidInThe64BitView) {
  Install();
  m_machine.Registry().SetString(kEventLogKey64, kAgentSource, L"Veridane Agent");
  m_machine.Registry().SetString(kEventLogKey32, kDefaultSource, L"Thirty-two");
  CVDLog log(*m_agent);
  ASSERT_EQ(log.Log(LogEvent(kVDEventSessionLocked, kVDEventSourceAgent)), S_OK);
  EXPECT_EQ(log.ApplicationName(), L"Veridane Agent");
  // The default source has no name in the 64-bit view: the name stays as it was.
  ASSERT_EQ(log.Log(LogEvent(kVDEventSessionLocked, GUID{})), S_OK);
  const auto records = Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].source, L"Veridane Agent");
  EXPECT_EQ(records[1].source, L"Veridane Agent");
}

TEST_F(PreVistaEventLogTest, WithoutARegisteredNameTheConstructionNameIsUsed) {
  Install();
  CVDLog log(*m_agent);
  VDTraceNS::CRecordingSink sink;
  ASSERT_EQ(log.Log(LogEvent(kVDEventSessionLocked, kVDEventSourceAgent)), S_OK);
  EXPECT_EQ(Records()[0].source, L"Veridane Lumera");
  EXPECT_TRUE(Has(sink.Texts('U'), "m_sApplicationName - Veridane Lumera"));
}

class Xp32EventLogTest : public EventLogTest {
 protected:
  static sim::MachineDescription Xp32() {
    sim::MachineDescription d;
    d.is64BitWindows = false;
    d.osMajor = 5;
    d.osMinor = 1;
    d.osBuild = 2600;
    return d;
  }
  Xp32EventLogTest() : EventLogTest(Xp32()) {}
};

TEST_F(Xp32EventLogTest, On32BitWindowsTheOneViewHoldsNameAndClass) {
  Install();
  m_machine.Registry().SetString(kEventLogKey64, kAgentSource, L"Veridane Agent");
  CVDLog log(*m_agent);
  ASSERT_EQ(log.Log(LogEvent(kVDEventSessionLocked, kVDEventSourceAgent)), S_OK);
  EXPECT_EQ(Records()[0].source, L"Veridane Agent");
  EXPECT_EQ(m_events->Path(), L"C:\\Program Files\\Veridane\\Shared\\VDEvtLog.dll");
}

}  // namespace
