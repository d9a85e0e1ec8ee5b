// VDTrayPluginStandIn.dll: the suite's tray plug-ins as one in-process COM server, for
// machines (and Wine prefixes) without the suite. Register each plug-in as the agent finds
// them, with a description beside the path:
//   HKLM\SOFTWARE\Veridane\VDNX\Plugins\TrayIcon\{clsid}   (default)       = <path of this DLL>
//                                                            DescriptionFile = <JSON file>
// The JSON file is the simulated machine's format ({"trayPlugins": [...]}, see
// standins/plugins/description.h); the entry with the requested CLSID says what the plug-in
// does. What the agent makes the plug-ins do is a line of VDTrayPluginStandIn.log beside the
// DLL, as the simulated machine records it ("Vault item 20000 \"Open vault\"").
#include <windows.h>

#include <atomic>
#include <cwctype>
#include <memory>
#include <string>

#include "standins/plugins/description.h"
#include "standins/plugins/plugin.h"
#include "standins/win32/beside_log.h"

namespace {

constexpr const wchar_t* kLog = L"VDTrayPluginStandIn.log";
constexpr const wchar_t* kPluginsKey = L"SOFTWARE\\Veridane\\VDNX\\Plugins\\TrayIcon\\";

std::atomic<int> g_live{0};

class CWin32PluginSite final : public plugin_standin::IPluginSite {
 public:
  void Record(const std::wstring& text) override { standins::AppendBesideLog(kLog, text); }
  void AppendMenuItem(HMENU menu, UINT id, const std::wstring& text) override {
    ::AppendMenuW(menu, MF_STRING, id, text.c_str());
  }
  void Block(DWORD ms) override { ::Sleep(ms); }
  void CountObject(int delta) override { g_live += delta; }
};

std::wstring ClsidText(REFCLSID clsid) {
  wchar_t text[64] = {};
  return ::StringFromGUID2(clsid, text, 64) ? text : L"";
}

bool SameText(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::towupper(a[i]) != std::towupper(b[i])) return false;
  return true;
}

// The registration's "DescriptionFile", empty when there is none.
std::wstring DescriptionFile(const std::wstring& clsid) {
  const std::wstring key = kPluginsKey + clsid;
  wchar_t path[MAX_PATH] = {};
  DWORD bytes = sizeof(path);
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"DescriptionFile", RRF_RT_REG_SZ, nullptr,
                     path, &bytes) != ERROR_SUCCESS)
    return {};
  return path;
}

std::string ReadFileText(const std::wstring& path) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  std::string text;
  char buf[4096];
  DWORD got = 0;
  while (::ReadFile(file, buf, sizeof(buf), &got, nullptr) && got > 0) text.append(buf, got);
  ::CloseHandle(file);
  return text;
}

}  // namespace

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  const std::wstring clsid = ClsidText(rclsid);
  const std::wstring file = DescriptionFile(clsid);
  if (file.empty()) {
    standins::AppendBesideLog(kLog, clsid + L": no DescriptionFile");
    return CLASS_E_CLASSNOTAVAILABLE;
  }
  try {
    const auto desc = plugin_standin::TrayPluginsDescription::FromJson(ReadFileText(file));
    for (const auto& plugin : desc.plugins)
      if (SameText(plugin.clsid, clsid))
        return plugin_standin::CreateClassObject(plugin, std::make_shared<CWin32PluginSite>(),
                                                 riid, ppv);
  } catch (const std::exception& e) {
    const std::string what = e.what();
    standins::AppendBesideLog(kLog, file + L": " + std::wstring(what.begin(), what.end()));
    return CLASS_E_CLASSNOTAVAILABLE;
  }
  standins::AppendBesideLog(kLog, clsid + L": not in " + file);
  return CLASS_E_CLASSNOTAVAILABLE;
}

// The objects handed out run code of this DLL for as long as their holders keep them.
extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return g_live.load() == 0 ? S_OK : S_FALSE; }
