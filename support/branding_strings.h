// The agent's user-facing texts, by number. The suite's branding module (HKLM
// "SOFTWARE\Veridane\Branding\Common" "DLLPath") brands them; the agent's own resource module
// "VdAgentRes.dll" beside the executable stands in for every string the branding module does
// not give: no DLLPath, an empty one, a module that does not load, or a module without that
// string.
//
//   support::CBrandingStrings strings(plat, agentFolder);   // nothing loaded yet
//   balloon.title = strings.String(605);                   // loads the modules, once
//
// The modules are loaded as data files on first use and freed with the object.
#pragma once

#include <mutex>
#include <string>

#include "platform/handles.h"
#include "platform/platform.h"

namespace support {

inline constexpr wchar_t kBrandingKey[] = L"SOFTWARE\\Veridane\\Branding\\Common";
inline constexpr wchar_t kAgentResourceModule[] = L"VdAgentRes.dll";

// The branding module's path (HKLM kBrandingKey "DLLPath" in the suite's view), empty when
// the value is absent or not a string.
std::wstring BrandingModulePath(platform::IRegistry& reg);

// String `id` of a loaded module, whole however long; empty when the module has no such
// string (an empty string resource counts as none, as LoadStringW cannot tell them apart).
std::wstring LoadModuleString(platform::IModules& mods, HMODULE module, UINT id);

// Safe to use from any thread: the balloon texts may be wanted off the window thread.
class CBrandingStrings {
 public:
  // `agentFolder`: the folder of the agent's executable, with or without a final backslash;
  // empty leaves finding "VdAgentRes.dll" to the library search order.
  CBrandingStrings(platform::IPlatform& plat, std::wstring agentFolder);
  CBrandingStrings(const CBrandingStrings&) = delete;
  CBrandingStrings& operator=(const CBrandingStrings&) = delete;

  // From the branding module when it has the string, else from the agent's module; empty
  // (and traced) when neither has it.
  std::wstring String(UINT id);

 private:
  // A module that is tried at most once, whether or not it loads.
  struct CLazyModule {
    explicit CLazyModule(platform::IModules& mods) : module(mods) {}
    bool tried = false;
    platform::UniqueModule module;
  };

  HMODULE Load(CLazyModule& lazy, const std::wstring& path, const char* what);
  std::wstring AgentModulePath() const;

  platform::IPlatform& m_plat;
  const std::wstring m_agentFolder;
  std::mutex m_mu;  // guards the two modules
  CLazyModule m_branding;
  CLazyModule m_agent;
};

}  // namespace support
