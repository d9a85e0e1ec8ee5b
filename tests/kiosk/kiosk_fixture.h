// A simulated machine for the kiosk tests: the stand-in authentication library with three
// people, the stand-in event log, the fast-connect component on disk, one agent process in
// session 1 with the test doubles of kiosk_test_platform.h, and a window that records the
// user-changed message.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "core/agent_process.h"
#include "core/messages.h"
#include "platform/sim/desktop.h"
#include "platform/sim/registry_store.h"
#include "standins/eventlog/sim_install.h"
#include "standins/vdfpapi/sim_install.h"
#include "support/trace/trace.h"
#include "support/trace/trace_sink.h"
#include "support/vdfp/vdfp_api.h"
#include "tests/auth/auth_test_util.h"
#include "tests/kiosk/kiosk_test_platform.h"

namespace kiosktest {

inline constexpr const wchar_t* kPolicyKey = L"HKLM\\SOFTWARE\\Policies\\Veridane\\Lumera";
inline constexpr const wchar_t* kSessionKey = L"HKLM\\SOFTWARE\\Veridane\\Kiosk\\Session\\1";
inline constexpr const wchar_t* kBinDir = L"C:\\Program Files\\Veridane\\Bin\\";
inline constexpr const wchar_t* kTemp = L"C:\\Users\\alice\\AppData\\Local\\Temp";
inline constexpr const wchar_t* kScriptFolder =
    L"C:\\Users\\alice\\AppData\\Local\\Temp\\VDScripts\\KioskUnlock";
inline constexpr const wchar_t* kSystemDir = L"C:\\Windows\\system32";
inline const std::wstring kBob = L"VDSIM-PC\\bob";
inline const std::wstring kCarol = L"VDSIM-PC\\carol";

class KioskFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    VDTraceNS::Bind(nullptr);
    m_vdfp = vdfp_standin::InstallVdfpApi(m_machine, vdfp_standin::VdfpDescription::FromJson(R"({
      "users": [
        {"name": "alice", "session": 1, "enrolled": ["Password"]},
        {"name": "bob", "session": 2, "enrolled": ["Password"]},
        {"name": "carol", "session": 3, "enrolled": ["Password"]}
      ]})"));
    m_events = eventlog_standin::InstallEventLog(m_machine);
    ASSERT_EQ(agent.AuthLibrary().VDFPInit(), S_OK);
    // The fast-connect component, found through the 32-bit view as the installer wrote it.
    reg().SetString(L"HKLM\\SOFTWARE\\WOW6432Node\\Veridane\\Applications", L"BinDir", kBinDir);
    m_machine.Files().WriteFile(std::wstring(kBinDir) + L"VDRunDll.exe", "MZ");
    m_machine.Files().WriteFile(std::wstring(kBinDir) + L"VDFstCon.dll", "MZ");
    m_machine.Files().WriteFile(std::wstring(kSystemDir) + L"\\cscript.exe", "MZ");
  }
  void TearDown() override { agent.AuthLibrary().VDFPTerm(); }

  sim::RegistryStore& reg() { return m_machine.Registry(); }
  vdfp_standin::CHostService& Host() { return m_vdfp->Host(); }

  void EnableKioskLogon() { reg().SetDword(kPolicyKey, L"KioskLogon", 1); }
  // The session's key as the logon side writes it for an identified person.
  void RecordKioskUser(const std::wstring& name) {
    reg().SetDword(kSessionKey, L"KioskAccount", 1);
    reg().SetString(kSessionKey, L"KioskUser", name);
    reg().SetDword(kSessionKey, L"KioskUserType", VDFP_NAME_SAM);
  }

  // The event ids the event-log component received, in order.
  std::vector<DWORD> LoggedEvents() {
    std::vector<DWORD> ids;
    for (const auto& r : m_events->Component().Records()) ids.push_back(r.eventId);
    return ids;
  }
  // The fast-connect entries started through the shell, in order.
  std::vector<std::wstring> FastConnectEntries() {
    std::vector<std::wstring> out;
    const std::wstring prefix = L"\"" + std::wstring(kBinDir) + L"VDFstCon.dll\" ";
    for (const auto& l : plat.shell.launched) {
      EXPECT_EQ(l.file, std::wstring(kBinDir) + L"VDRunDll.exe");
      EXPECT_EQ(l.parameters.rfind(prefix, 0), 0u) << "parameters: " << l.parameters.size();
      out.push_back(l.parameters.substr(std::min(prefix.size(), l.parameters.size())));
    }
    plat.shell.launched.clear();
    return out;
  }
  static bool Traced(const VDTraceNS::CRecordingSink& sink, const std::string& text) {
    return sink.Contains('U', text);
  }

  sim::Machine m_machine;
  std::unique_ptr<vdfp_standin::SimInstallation> m_vdfp;
  std::unique_ptr<eventlog_standin::SimEventLogInstallation> m_events;
  std::unique_ptr<sim::Process> m_process = m_machine.CreateProcess({.sessionId = 1});
  sim::CurrentProcessScope m_scope{m_process.get()};
  KioskPlatform plat{m_machine, *m_process};
  core::CAgentProcess agent{plat, nullptr};
};

}  // namespace kiosktest
