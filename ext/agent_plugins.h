// The tray plug-ins of the suite: loaded from
// HKLM\SOFTWARE\Veridane\VDNX\Plugins\TrayIcon (one subkey per plug-in, named by its CLSID
// in braces, whose default value is the DLL path), given menu ids, run and released.
//
//   CAgentPlugins plugins(plat, window);          // window: IPluginWindow
//   plugins.Load();                               // at ready: a loader thread starts
//   UINT first = 20000, last = 20000;
//   plugins.AddTrayMenuItems(menu, first, last);  // items with ids first .. last - 1
//   plugins.ExecTrayMenuItem(id);                 // for first <= id <= last
//   plugins.UnLoad();                             // at the end; the destructor does it too
//
// Threads: Load, AddTrayMenuItems, ExecTrayMenuItem and UnLoad on the window's thread;
// ShowNotification and OpenConsole on any thread.
//
// What the loader and the plug-ins reach is a shared, counted host object (CPluginHostCore),
// not the window: the loader calls plug-ins without any lock and only publishes what it
// loaded under the plug-in lock, UnLoad never ends the loader by force, and a loader still
// running after UnLoad gave up on it releases its own objects and frees its own DLLs. Once
// UnLoad began, the host faces refuse calls (CO_E_OBJNOTCONNECTED), so no notification is
// queued for a window that is going.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/handles.h"
#include "platform/platform.h"
#include "support/tray_plugin_contract.h"

// What the plug-ins reach of the window. Any thread; the window implements it.
class IPluginWindow {
 public:
  virtual ~IPluginWindow() = default;
  // The tray service's notification (timeout in ms); true when it was taken.
  virtual bool Notify(const std::wstring& title, const std::wstring& message, IUnknown* callback,
                      DWORD flags, UINT timeoutMs, UINT id) = 0;
  // The user's notification state; raises CResultError when the shell's query fails.
  virtual QUERY_USER_NOTIFICATION_STATE CheckQuietTime() = 0;
  // Brings the taskbar ("Shell_TrayWnd") to the front when there is one.
  virtual void FocusTaskbar() = 0;
  // Starts application `appId` (1: the console) with `arguments`; true when it started.
  virtual bool LaunchApp(int appId, const std::wstring& arguments) = 0;
};

inline constexpr wchar_t kTrayPluginsKey[] = L"SOFTWARE\\Veridane\\VDNX\\Plugins\\TrayIcon";
inline constexpr UINT kFirstPluginCommand = 20000;
// Plug-in ids stay below the built-in commands at 0x8000 and inside WM_COMMAND's 16 bits.
inline constexpr UINT kLastPluginCommandLimit = 0x7FFF;
inline constexpr UINT kNoPluginId = 0xFFFFFFFF;
inline constexpr HRESULT kPluginHostGone = static_cast<HRESULT>(0x800401FDL);  // CO_E_OBJNOTCONNECTED

// One menu plug-in and the ids of its items in the menu built last. Window thread.
class CMenuPlugin {
 public:
  explicit CMenuPlugin(platform::ComPtr<IVDNXTrayMenuPlugin> plugin) : m_plugin(std::move(plugin)) {}

  // Lets the plug-in add its items from `nextId`; moves `nextId` past the ids it took. A
  // failure, no item, or more ids than fit below kLastPluginCommandLimit give it none.
  void AddSubmenuItems(HMENU menu, UINT& nextId);
  // True when `id` is one of this plug-in's (then it was run, whatever execute did).
  bool ExecSubMenuItem(UINT id);

  UINT m_uFirstID = kNoPluginId;
  UINT m_uLastID = kNoPluginId;

 private:
  platform::ComPtr<IVDNXTrayMenuPlugin> m_plugin;
};

// The object the plug-ins and the loader hold: both host faces, the plug-in lists and the
// stop flag. Counted: it lives while the window's CAgentPlugins, a loader or a plug-in holds
// it. The first face is its identity (IID_IUnknown).
class CPluginHostCore final : public IVDNXTrayNotify, public IVDNXPluginHost {
 public:
  CPluginHostCore(platform::IPlatform& plat, IPluginWindow* window);
  CPluginHostCore(const CPluginHostCore&) = delete;
  CPluginHostCore& operator=(const CPluginHostCore&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE ShowNotification(LPCWSTR title, LPCWSTR message, DWORD flags, DWORD id,
                                             IVDNXTrayNotifyCallback* callback) override;
  HRESULT STDMETHODCALLTYPE OpenConsole(WORD appId, LPCWSTR command, DWORD reserved,
                                        LPCWSTR parameters) override;

  // The loader thread's work: every registration, until the list ends or Stop.
  HRESULT LoadPluginsThreadProc();
  // One registration; its failure is traced and returned, never raised.
  HRESULT LoadPlugin(const std::wstring& path, const std::wstring& clsidText);

  void Stop() { m_stop.store(true); }
  // Ends every call into the window: waits for the calls running, refuses later ones.
  void DetachWindow();
  // Releases every plug-in (unlocked) and marks the host unloaded, so a late loader keeps
  // nothing. The DLLs stay loaded: a plug-in may still run code of its own in them.
  void ReleasePlugins();

  std::vector<std::shared_ptr<CMenuPlugin>> MenuPlugins();
  size_t SubscriberCount();
  size_t LibraryCount();

 private:
  ~CPluginHostCore();
  // Counts a call into the window while it is attached.
  class WindowCall;

  platform::IPlatform& m_plat;
  std::atomic<ULONG> m_refs{1};
  std::atomic<bool> m_stop{false};

  std::mutex m_mu;  // the plug-in lock: guards the lists and m_unloaded, never held in calls out
  std::vector<std::shared_ptr<CMenuPlugin>> m_menus;
  std::vector<platform::ComPtr<IVDNXTraySubscriber>> m_subscribers;
  std::vector<HMODULE> m_libraries;
  bool m_unloaded = false;

  std::mutex m_windowMu;  // guards m_window and m_windowCalls
  std::condition_variable m_windowIdle;
  IPluginWindow* m_window;
  int m_windowCalls = 0;
};

class CAgentPlugins : public IVDNXTrayNotify, public IVDNXPluginHost {
 public:
  CAgentPlugins(platform::IPlatform& plat, IPluginWindow& window);
  virtual ~CAgentPlugins();
  CAgentPlugins(const CAgentPlugins&) = delete;
  CAgentPlugins& operator=(const CAgentPlugins&) = delete;

  // Both faces are those of the shared host; AddRef and Release do not govern this object.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE ShowNotification(LPCWSTR title, LPCWSTR message, DWORD flags, DWORD id,
                                             IVDNXTrayNotifyCallback* callback) override;
  HRESULT STDMETHODCALLTYPE OpenConsole(WORD appId, LPCWSTR command, DWORD reserved,
                                        LPCWSTR parameters) override;

  // Starts the loader thread (once; not after UnLoad).
  void Load();
  // Waits up to 2000 ms for the loader, dispatching window messages meanwhile, then releases
  // every plug-in. A loader still running is left to finish on its own. Repeatable.
  void UnLoad();
  // Menu items from `first`; `last` is the id after the last one used (== first: none).
  void AddTrayMenuItems(HMENU menu, UINT& first, UINT& last);
  // Offers `id` to the menu plug-ins in load order; the first whose block holds it runs it.
  HRESULT ExecTrayMenuItem(UINT id);

  // For tests and traces.
  CPluginHostCore& Host() { return *m_core.get(); }
  bool LoaderRunning() const { return static_cast<bool>(m_thread); }

 private:
  static DWORD WINAPI _LoadPluginsThreadProc(LPVOID param);

  platform::IPlatform& m_plat;
  platform::ComPtr<CPluginHostCore> m_core;
  platform::UniqueHandle m_thread;  // the loader; closed here, never by the loader
  bool m_started = false;
};
