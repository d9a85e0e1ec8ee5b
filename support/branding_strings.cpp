#include "support/branding_strings.h"

#include <algorithm>
#include <utility>

#include "support/registry_read.h"
#include "support/trace/trace.h"

namespace support {

namespace {

// A string resource's length is a 16-bit count, so this many characters always hold one whole
// string and its terminator.
constexpr size_t kLongestString = 0xFFFF;
constexpr size_t kFirstBuffer = 256;
// Long enough for a "\\?\" path.
constexpr DWORD kLongestPath = 32767;

}  // namespace

std::wstring BrandingModulePath(platform::IRegistry& reg) {
  auto path =
      ReadString(reg, HKEY_LOCAL_MACHINE, kBrandingKey, L"DLLPath", SuiteView(reg), kLongestPath);
  return path ? std::move(*path) : std::wstring();
}

std::wstring LoadModuleString(platform::IModules& mods, HMODULE module, UINT id) {
  // LoadStringW cuts a string to the buffer without saying so: a string that fills the
  // buffer may have been cut, so it is read again into a larger one.
  std::wstring buf(kFirstBuffer, L'\0');
  for (;;) {
    const int n = mods.LoadStringW(module, id, buf.data(), static_cast<int>(buf.size()));
    if (n <= 0) return std::wstring();
    const size_t len = static_cast<size_t>(n);
    if (len + 1 < buf.size() || buf.size() > kLongestString) {
      buf.resize(len);
      return buf;
    }
    buf.resize(std::min(buf.size() * 2, kLongestString + 1));
  }
}

CBrandingStrings::CBrandingStrings(platform::IPlatform& plat, std::wstring agentFolder)
    : m_plat(plat),
      m_agentFolder(std::move(agentFolder)),
      m_branding(plat.Modules()),
      m_agent(plat.Modules()) {}

std::wstring ExpandPlaceholders(std::wstring_view text, std::wstring_view productName,
                                std::wstring_view shortName) {
  const std::wstring_view pn = kProductNamePlaceholder;
  const std::wstring_view ma = kShortNamePlaceholder;
  std::wstring out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const std::wstring_view rest = text.substr(i);
    if (rest.substr(0, pn.size()) == pn) {
      out += productName;
      i += pn.size();
    } else if (rest.substr(0, ma.size()) == ma) {
      out += shortName;
      i += ma.size();
    } else {
      out += text[i++];
    }
  }
  return out;
}

std::wstring CBrandingStrings::String(UINT id) {
  std::lock_guard lk(m_mu);
  std::wstring text = RawString(id);
  // Only a text that names the product costs the names' look-up.
  if (text.find(L"<<%") == std::wstring::npos) return text;
  return ExpandPlaceholders(text, ProductNameLocked(), ShortNameLocked());
}

std::wstring CBrandingStrings::ProductName() {
  std::lock_guard lk(m_mu);
  return ProductNameLocked();
}

std::wstring CBrandingStrings::ShortName() {
  std::lock_guard lk(m_mu);
  return ShortNameLocked();
}

std::wstring CBrandingStrings::ProductNameLocked() {
  std::wstring name = RawString(kProductNameString);
  return name.empty() ? kFallbackProductName : name;
}

std::wstring CBrandingStrings::ShortNameLocked() {
  std::wstring name = RawString(kShortNameString);
  return name.empty() ? ProductNameLocked() : name;
}

std::wstring CBrandingStrings::RawString(UINT id) {
  VDTraceNS::CScope ts("CBrandingStrings::String");
  if (!m_branding.tried) {
    const std::wstring path = BrandingModulePath(m_plat.Registry());
    if (path.empty()) {
      m_branding.tried = true;
      ts.Msg("No branding module, texts from %ls", kAgentResourceModule);
    } else {
      Load(m_branding, path, "branding module");
    }
  }
  if (HMODULE branding = m_branding.module.get()) {
    std::wstring text = LoadModuleString(m_plat.Modules(), branding, id);
    if (!text.empty()) return text;
  }
  if (HMODULE own = Load(m_agent, AgentModulePath(), "agent resource module")) {
    std::wstring text = LoadModuleString(m_plat.Modules(), own, id);
    if (!text.empty()) return text;
  }
  ts.Msg("String %u found in no resource module", id);
  return std::wstring();
}

HMODULE CBrandingStrings::Load(CLazyModule& lazy, const std::wstring& path, const char* what) {
  if (lazy.tried) return lazy.module.get();
  lazy.tried = true;
  VDTraceNS::CScope ts("CBrandingStrings::Load");
  auto& mods = m_plat.Modules();
  *lazy.module.put() = mods.LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!lazy.module) {
    const DWORD err = m_plat.Kernel().GetLastError();
    ts.Msg("Cannot load %s %ls", what, path.c_str());
    ts.Result("LoadLibraryExW", HRESULT_FROM_WIN32(err));
  } else {
    ts.Msg("Loaded %s %ls", what, path.c_str());
  }
  return lazy.module.get();
}

std::wstring CBrandingStrings::AgentModulePath() const {
  if (m_agentFolder.empty()) return kAgentResourceModule;
  const wchar_t last = m_agentFolder.back();
  const bool hasSeparator = last == L'\\' || last == L'/';
  return m_agentFolder + (hasSeparator ? L"" : L"\\") + kAgentResourceModule;
}

}  // namespace support
