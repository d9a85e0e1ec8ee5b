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
//
// A text may name the product through placeholders, so one wording serves every brand:
// "<<%PN%>>" becomes the product's name (string 1100), "<<%MA%>>" its short name (string
// 1103, else the product's name). A name found in no module falls back to "Veridane".
#pragma once

#include <mutex>
#include <string>
#include <string_view>

#include "platform/handles.h"
#include "platform/platform.h"

namespace support {

inline constexpr wchar_t kBrandingKey[] = L"SOFTWARE\\Veridane\\Branding\\Common";
inline constexpr wchar_t kAgentResourceModule[] = L"VdAgentRes.dll";

inline constexpr wchar_t kProductNamePlaceholder[] = L"<<%PN%>>";
inline constexpr wchar_t kShortNamePlaceholder[] = L"<<%MA%>>";
inline constexpr UINT kProductNameString = 1100;
inline constexpr UINT kShortNameString = 1103;
inline constexpr wchar_t kFallbackProductName[] = L"Veridane";

// `text` with every placeholder replaced in one pass: a name that itself holds a placeholder
// is put in as it is, so no text can make the replacement run on without end.
std::wstring ExpandPlaceholders(std::wstring_view text, std::wstring_view productName,
                                std::wstring_view shortName);

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

  // From the branding module when it has the string, else from the agent's module, with its
  // placeholders replaced; empty (and traced) when neither has it.
  std::wstring String(UINT id);

  // The names the placeholders stand for, with their fallbacks.
  std::wstring ProductName();
  std::wstring ShortName();

 private:
  // A module that is tried at most once, whether or not it loads.
  struct CLazyModule {
    explicit CLazyModule(platform::IModules& mods) : module(mods) {}
    bool tried = false;
    platform::UniqueModule module;
  };

  // The text as the modules hold it; m_mu held.
  std::wstring RawString(UINT id);
  std::wstring ProductNameLocked();
  std::wstring ShortNameLocked();
  HMODULE Load(CLazyModule& lazy, const std::wstring& path, const char* what);
  std::wstring AgentModulePath() const;

  platform::IPlatform& m_plat;
  const std::wstring m_agentFolder;
  std::mutex m_mu;  // guards the two modules
  CLazyModule m_branding;
  CLazyModule m_agent;
};

}  // namespace support
