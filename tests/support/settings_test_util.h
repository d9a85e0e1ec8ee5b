// Shared set-up of the settings tests: a simulated machine with the stand-in authentication
// library, an agent process in session 1 whose code the test thread runs, and the real paths
// of the settings keys in the machine's registry.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/sim/machine.h"
#include "platform/sim/process.h"
#include "platform/sim/registry_store.h"
#include "platform/sim/session_manager.h"
#include "standins/vdfpapi/sim_install.h"
#include "support/trace/trace.h"

namespace settingstest {

inline constexpr const wchar_t* kKwPath = L"SOFTWARE\\Veridane\\Applications\\KwAppSettings";

class SimSettingsTest : public ::testing::Test {
 protected:
  explicit SimSettingsTest(sim::MachineDescription desc = {},
                           vdfp_standin::SimInstallOptions opts = {})
      : m_machine(std::move(desc)),
        m_vdfp(vdfp_standin::InstallVdfpApi(m_machine, vdfp_standin::VdfpDescription::Default(),
                                            std::move(opts))) {}
  void SetUp() override { VDTraceNS::Bind(nullptr); }

  sim::Process& Agent() { return *m_agent; }
  sim::RegistryStore& Reg() { return m_machine.Registry(); }
  vdfp_standin::CHostService& Host() { return m_vdfp->Host(); }

  // HKCU of the agent's user, as a real path.
  std::wstring Hkcu() { return L"HKU\\" + m_machine.Sessions().UserSid(1); }
  std::wstring HkcuSection(const wchar_t* path = kKwPath) { return Hkcu() + L"\\" + path; }
  std::wstring HklmSection(const wchar_t* path = kKwPath) { return std::wstring(L"HKLM\\") + path; }
  // The 32-bit view of HKLM\SOFTWARE\<rest>.
  std::wstring Hklm32Section() {
    return L"HKLM\\SOFTWARE\\WOW6432Node\\Veridane\\Applications\\KwAppSettings";
  }
  std::wstring PoliciesKey() { return Hkcu() + L"\\SOFTWARE\\Policies\\Veridane\\Lumera"; }

  // A named policy of the stand-in library.
  void LibraryNumber(const wchar_t* name, HRESULT status, DWORD type, ULONGLONG value) {
    vdfp_standin::PolicySettingDesc d;
    d.name = name;
    d.status = status;
    d.value.type = type;
    d.value.number = value;
    Host().SetPolicySetting(d);
  }
  void LibraryString(const wchar_t* name, HRESULT status, const wchar_t* text) {
    vdfp_standin::PolicySettingDesc d;
    d.name = name;
    d.status = status;
    d.value.type = VDVAR_STRING;
    d.value.text = text;
    Host().SetPolicySetting(d);
  }

  sim::Machine m_machine;
  std::unique_ptr<vdfp_standin::SimInstallation> m_vdfp;
  std::unique_ptr<sim::Process> m_agent = m_machine.CreateProcess({.sessionId = 1});
  sim::CurrentProcessScope m_scope{m_agent.get()};
};

}  // namespace settingstest
