#include "ext/agent_plugins.h"

#include <cwctype>
#include <utility>

#include "support/registry_read.h"
#include "support/result_error.h"
#include "support/trace/trace.h"

namespace {

constexpr DWORD kMaxName = 260;
constexpr UINT kNotifyTimeoutMs = 25000;
constexpr DWORD kUnloadWaitMs = 2000;
constexpr int kMaxPeekedMessages = 51;
constexpr HRESULT kBadClassString = static_cast<HRESULT>(0x800401F3L);  // CO_E_CLASSSTRING

const wchar_t* OrEmpty(LPCWSTR s) { return s ? s : L""; }

int HexDigit(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", hexadecimal of either case.
bool ParseClsid(const std::wstring& text, CLSID& out) {
  if (text.size() != 38 || text.front() != L'{' || text.back() != L'}') return false;
  unsigned char bytes[16];
  size_t pos = 1;
  for (int i = 0; i < 16; ++i) {
    if (pos == 9 || pos == 14 || pos == 19 || pos == 24) {
      if (text[pos] != L'-') return false;
      ++pos;
    }
    const int hi = HexDigit(text[pos]), lo = HexDigit(text[pos + 1]);
    if (hi < 0 || lo < 0) return false;
    bytes[i] = static_cast<unsigned char>(hi * 16 + lo);
    pos += 2;
  }
  out.Data1 = (DWORD{bytes[0]} << 24) | (DWORD{bytes[1]} << 16) | (DWORD{bytes[2]} << 8) | bytes[3];
  out.Data2 = static_cast<WORD>((bytes[4] << 8) | bytes[5]);
  out.Data3 = static_cast<WORD>((bytes[6] << 8) | bytes[7]);
  for (int i = 0; i < 8; ++i) out.Data4[i] = bytes[8 + i];
  return true;
}

}  // namespace

// ---- CMenuPlugin ------------------------------------------------------------------------------

void CMenuPlugin::AddSubmenuItems(HMENU menu, UINT& nextId) {
  VDTraceNS::CScope ts("CMenuPlugin::AddSubmenuItems");
  m_uFirstID = m_uLastID = kNoPluginId;
  try {
    UINT count = 0;
    const HRESULT hr = m_plugin->AddMenuItems(menu, nextId, &count);
    if (FAILED(hr) || count == 0) {
      ts.Msg("uCount=%lu hr=0x%X", static_cast<unsigned long>(count), static_cast<unsigned>(hr));
      return;
    }
    // Ids past the limit would reach the built-in commands (0x8000 up) or be cut to 16 bits
    // by WM_COMMAND: such a block is refused whole.
    if (nextId > kLastPluginCommandLimit || count > kLastPluginCommandLimit - nextId + 1) {
      ts.Msg("uCount=%lu from %lu goes past %lu: no ids", static_cast<unsigned long>(count),
             static_cast<unsigned long>(nextId), static_cast<unsigned long>(kLastPluginCommandLimit));
      return;
    }
    m_uFirstID = nextId;
    nextId += count;
    m_uLastID = nextId - 1;
    ts.Msg("uCount=%lu m_uFirstID=%lu m_uLastID=%lu", static_cast<unsigned long>(count),
           static_cast<unsigned long>(m_uFirstID), static_cast<unsigned long>(m_uLastID));
  } catch (...) {
    ts.Msg("EXCEPTION");
  }
}

bool CMenuPlugin::ExecSubMenuItem(UINT id) {
  VDTraceNS::CScope ts("CMenuPlugin::ExecSubMenuItem");
  ts.Msg("uID=%lu m_uFirstID=%lu m_uLastID=%lu", static_cast<unsigned long>(id),
         static_cast<unsigned long>(m_uFirstID), static_cast<unsigned long>(m_uLastID));
  if (m_uFirstID == kNoPluginId || id < m_uFirstID || id > m_uLastID) return false;
  try {
    ts.Result("ExecuteMenuItem", m_plugin->ExecuteMenuItem(id));
  } catch (...) {
    ts.Msg("EXCEPTION");
  }
  return true;
}

// ---- CPluginHostCore --------------------------------------------------------------------------

class CPluginHostCore::WindowCall {
 public:
  explicit WindowCall(CPluginHostCore& host) : m_host(host) {
    std::lock_guard lk(m_host.m_windowMu);
    m_window = m_host.m_window;
    if (m_window) ++m_host.m_windowCalls;
  }
  ~WindowCall() {
    if (!m_window) return;
    std::lock_guard lk(m_host.m_windowMu);
    if (--m_host.m_windowCalls == 0) m_host.m_windowIdle.notify_all();
  }
  WindowCall(const WindowCall&) = delete;
  WindowCall& operator=(const WindowCall&) = delete;
  IPluginWindow* operator->() const { return m_window; }
  explicit operator bool() const { return m_window != nullptr; }

 private:
  CPluginHostCore& m_host;
  IPluginWindow* m_window = nullptr;
};

CPluginHostCore::CPluginHostCore(platform::IPlatform& plat, IPluginWindow* window)
    : m_plat(plat), m_window(window) {}

CPluginHostCore::~CPluginHostCore() = default;

HRESULT CPluginHostCore::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IVDNXTrayNotify) {
    *ppv = static_cast<IVDNXTrayNotify*>(this);
  } else if (riid == IID_IVDNXPluginHost) {
    *ppv = static_cast<IVDNXPluginHost*>(this);
  } else {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG CPluginHostCore::AddRef() { return ++m_refs; }

ULONG CPluginHostCore::Release() {
  const ULONG left = --m_refs;
  if (left == 0) delete this;
  return left;
}

HRESULT CPluginHostCore::ShowNotification(LPCWSTR title, LPCWSTR message, DWORD flags, DWORD id,
                                          IVDNXTrayNotifyCallback* callback) {
  VDTraceNS::CScope ts("CAgentPlugins::ShowNotification");
  try {
    WindowCall window(*this);
    if (!window) return ts.Result("unloaded", kPluginHostGone);
    if ((flags & kTrayNotifyNotInQuietTime) && window->CheckQuietTime() == QUNS_QUIET_TIME)
      return ts.Result("quiet time", E_ACCESSDENIED);
    // Not under the plug-in lock: the tray's queue calls callbacks under its own lock, and a
    // callback may call back here.
    window->Notify(OrEmpty(title), OrEmpty(message), callback, flags, kNotifyTimeoutMs, id);
    return S_OK;
  } catch (...) {
    return ts.Result("ShowNotification", CaughtResult(m_plat.Kernel()));
  }
}

HRESULT CPluginHostCore::OpenConsole(WORD appId, LPCWSTR command, DWORD /*reserved*/,
                                     LPCWSTR parameters) {
  VDTraceNS::CScope ts("CAgentPlugins::OpenConsole");
  if (appId == 0xFFFF) return ts.Result("appId", HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED));
  std::wstring args;
  if (*OrEmpty(command)) {
    args = command;
    if (*OrEmpty(parameters)) {
      args += L" /Parameters:";
      args += parameters;
    }
  }
  try {
    WindowCall window(*this);
    if (!window) return ts.Result("unloaded", kPluginHostGone);
    window->FocusTaskbar();
    return window->LaunchApp(1, args) ? S_OK : ts.Result("LaunchApp", E_FAIL);
  } catch (...) {
    return ts.Result("OpenConsole", CaughtResult(m_plat.Kernel()));
  }
}

HRESULT CPluginHostCore::LoadPluginsThreadProc() {
  VDTraceNS::CScope ts("CAgentPlugins::LoadPluginsThreadProc");
  platform::IRegistry& reg = m_plat.Registry();
  platform::UniqueHKey root(reg);
  const LSTATUS st = reg.RegOpenKeyExW(HKEY_LOCAL_MACHINE, kTrayPluginsKey, 0, KEY_READ, root.put());
  if (st != ERROR_SUCCESS) return ts.Result("RegOpenKeyExW", HRESULT_FROM_WIN32(st));
  for (DWORD index = 0; !m_stop.load(); ++index) {
    wchar_t name[kMaxName + 1] = {};
    DWORD cch = kMaxName + 1;
    const LSTATUS e =
        reg.RegEnumKeyExW(root.get(), index, name, &cch, nullptr, nullptr, nullptr, nullptr);
    // A name too long for a CLSID is no registration of ours; the others still count.
    if (e == ERROR_MORE_DATA) {
      ts.Msg("Subkey %lu: name too long, skipped", static_cast<unsigned long>(index));
      continue;
    }
    if (e != ERROR_SUCCESS) break;
    const std::wstring clsid(name, cch);
    const auto path = support::ReadString(reg, root.get(), clsid.c_str(), L"", 0, kMaxName);
    if (!path) {
      ts.Msg(L"%ls: no DLL path", clsid.c_str());
      continue;
    }
    LoadPlugin(*path, clsid);
  }
  return S_OK;
}

HRESULT CPluginHostCore::LoadPlugin(const std::wstring& path, const std::wstring& clsidText) {
  VDTraceNS::CScope ts("CAgentPlugins::LoadPlugin");
  ts.Msg(L"%ls, %ls", clsidText.c_str(), path.c_str());
  platform::IModules& modules = m_plat.Modules();
  platform::IKernel& kernel = m_plat.Kernel();
  try {
    CLSID clsid{};
    if (!ParseClsid(clsidText, clsid)) throw CResultError(kBadClassString);
    ts.Msg(L"Started loading %ls, %ls", clsidText.c_str(), path.c_str());
    // Declared first, so on every way out the objects below are released before the DLL
    // that holds their code goes.
    platform::UniqueModule library(modules, modules.LoadLibraryExW(path.c_str(), nullptr, 0));
    if (!library) throw CResultError(HRESULT_FROM_WIN32(kernel.GetLastError()));
    auto getClassObject = reinterpret_cast<PFN_DLLGETCLASSOBJECT>(
        reinterpret_cast<void*>(modules.GetProcAddress(library.get(), "DllGetClassObject")));
    if (!getClassObject) throw CResultError(HRESULT_FROM_WIN32(kernel.GetLastError()));

    platform::ComPtr<IUnknown> classObject;
    ThrowIfFailed(getClassObject(clsid, IID_IUnknown, classObject.put_void()));
    platform::ComPtr<IClassFactory> factory;
    if (FAILED(classObject->QueryInterface(IID_IClassFactory, factory.put_void())) || !factory)
      throw CResultError(E_NOINTERFACE);
    platform::ComPtr<IUnknown> object;
    ThrowIfFailed(factory->CreateInstance(nullptr, IID_IUnknown, object.put_void()));
    if (!object) throw CResultError(E_NOINTERFACE);

    IVDNXTrayNotify* face = this;
    platform::ComPtr<IVDNXTrayMenuPlugin> menu;
    if (FAILED(object->QueryInterface(IID_IVDNXTrayMenuPlugin, menu.put_void()))) menu.reset();
    platform::ComPtr<IVDNXHostAwarePlugin> aware;
    if (SUCCEEDED(object->QueryInterface(IID_IVDNXHostAwarePlugin, aware.put_void())) && aware)
      aware->SetHost(face);
    platform::ComPtr<IVDNXTraySubscriber> subscriber;
    if (SUCCEEDED(object->QueryInterface(IID_IVDNXTraySubscriber, subscriber.put_void())) &&
        subscriber && FAILED(subscriber->Subscribe(face)))
      subscriber.reset();
    ts.Msg(L"Finished loading %ls, %ls", clsidText.c_str(), path.c_str());
    if (!menu && !subscriber) return ts.Result("no menu plug-in or subscriber", E_FAIL);

    {
      std::lock_guard lk(m_mu);
      if (!m_unloaded) {
        if (menu) m_menus.push_back(std::make_shared<CMenuPlugin>(std::move(menu)));
        if (subscriber) m_subscribers.push_back(std::move(subscriber));
        m_libraries.push_back(library.release());
        return S_OK;
      }
    }
    // Unloaded while this one loaded: nothing is kept, and the objects go before the DLL.
    return ts.Result("unloaded meanwhile", kPluginHostGone);
  } catch (...) {
    return ts.Result("LoadPlugin", CaughtResult(kernel));
  }
}

void CPluginHostCore::DetachWindow() {
  std::unique_lock lk(m_windowMu);
  m_window = nullptr;
  m_windowIdle.wait(lk, [this] { return m_windowCalls == 0; });
}

void CPluginHostCore::ReleasePlugins() {
  VDTraceNS::CScope ts("CAgentPlugins::ReleasePlugins");
  std::vector<std::shared_ptr<CMenuPlugin>> menus;
  std::vector<platform::ComPtr<IVDNXTraySubscriber>> subscribers;
  std::vector<HMODULE> libraries;
  {
    std::lock_guard lk(m_mu);
    m_unloaded = true;
    menus.swap(m_menus);
    subscribers.swap(m_subscribers);
    libraries.swap(m_libraries);
  }
  ts.Msg("Unloading Menu plug-ins");
  menus.clear();
  ts.Msg("Unloading Tray Subscriber plug-ins");
  subscribers.clear();
  ts.Msg("NOT Freeing libraries.");
}

std::vector<std::shared_ptr<CMenuPlugin>> CPluginHostCore::MenuPlugins() {
  std::lock_guard lk(m_mu);
  return m_menus;
}

size_t CPluginHostCore::SubscriberCount() {
  std::lock_guard lk(m_mu);
  return m_subscribers.size();
}

size_t CPluginHostCore::LibraryCount() {
  std::lock_guard lk(m_mu);
  return m_libraries.size();
}

// ---- CAgentPlugins ----------------------------------------------------------------------------

CAgentPlugins::CAgentPlugins(platform::IPlatform& plat, IPluginWindow& window)
    : m_plat(plat), m_thread(plat.Kernel()) {
  m_core.reset(new CPluginHostCore(plat, &window));
}

CAgentPlugins::~CAgentPlugins() { UnLoad(); }

HRESULT CAgentPlugins::QueryInterface(REFIID riid, void** ppv) {
  return m_core->QueryInterface(riid, ppv);
}
ULONG CAgentPlugins::AddRef() { return 2; }
ULONG CAgentPlugins::Release() { return 1; }

HRESULT CAgentPlugins::ShowNotification(LPCWSTR title, LPCWSTR message, DWORD flags, DWORD id,
                                        IVDNXTrayNotifyCallback* callback) {
  return m_core->ShowNotification(title, message, flags, id, callback);
}

HRESULT CAgentPlugins::OpenConsole(WORD appId, LPCWSTR command, DWORD reserved,
                                   LPCWSTR parameters) {
  return m_core->OpenConsole(appId, command, reserved, parameters);
}

void CAgentPlugins::Load() {
  VDTraceNS::CScope ts("plugins");
  if (m_started) return;
  m_started = true;
  CPluginHostCore* core = m_core.get();
  core->AddRef();  // the loader's own reference
  HANDLE h = m_plat.Kernel().CreateThread(nullptr, 0, &CAgentPlugins::_LoadPluginsThreadProc, core,
                                          0, nullptr);
  if (!h) {
    ts.Result("CreateThread", HRESULT_FROM_WIN32(m_plat.Kernel().GetLastError()));
    core->Release();
    return;
  }
  m_thread.reset(h);
}

DWORD WINAPI CAgentPlugins::_LoadPluginsThreadProc(LPVOID param) {
  auto* core = static_cast<CPluginHostCore*>(param);
  core->LoadPluginsThreadProc();
  core->Release();
  return 0;
}

void CAgentPlugins::UnLoad() {
  VDTraceNS::CScope ts("CAgentPlugins::UnLoad");
  m_started = true;  // no load after this
  ts.Msg("Waiting for thread");
  m_core->Stop();
  if (m_thread) {
    platform::IKernel& kernel = m_plat.Kernel();
    platform::IUi& ui = m_plat.Ui();
    const DWORD start = kernel.GetTickCount();
    HANDLE h = m_thread.get();
    bool pump = true;
    for (;;) {
      // Unsigned difference: right across the tick counter's wrap.
      const DWORD elapsed = kernel.GetTickCount() - start;
      if (elapsed >= kUnloadWaitMs) {
        // Ending it by force could leave the plug-in lock or a plug-in's own state held; it
        // finishes by itself and keeps nothing (see LoadPlugin).
        ts.Msg("Loader still running after %lu ms: left to finish", 
               static_cast<unsigned long>(kUnloadWaitMs));
        break;
      }
      const DWORD left = kUnloadWaitMs - elapsed;
      const DWORD r = pump ? ui.MsgWaitForMultipleObjects(1, &h, FALSE, left, QS_ALLINPUT)
                           : kernel.WaitForSingleObject(h, left);
      if (r == WAIT_OBJECT_0) break;
      if (r == WAIT_OBJECT_0 + 1 && pump) {
        MSG msg{};
        int n = 0;
        for (; n < kMaxPeekedMessages && ui.PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); ++n) {
          ts.Msg("Peeked message %d", static_cast<int>(msg.message));
          if (msg.message == WM_QUIT) {
            // The quit is the message loop's, not ours: put it back and stop pumping, or the
            // loop would never end and the wait would wake at once for it again.
            ui.PostQuitMessage(static_cast<int>(msg.wParam));
            pump = false;
            break;
          }
          ui.TranslateMessage(&msg);
          ui.DispatchMessageW(&msg);
        }
        // Input that no message removes would wake the wait at once again: stop pumping.
        if (n == 0) pump = false;
        continue;
      }
      if (r != WAIT_TIMEOUT) {
        ts.Result("MsgWaitForMultipleObjects", HRESULT_FROM_WIN32(kernel.GetLastError()));
        break;
      }
    }
    m_thread.reset();
  }
  m_core->DetachWindow();
  m_core->ReleasePlugins();
}

void CAgentPlugins::AddTrayMenuItems(HMENU menu, UINT& first, UINT& last) {
  VDTraceNS::CScope ts("CAgentPlugins::AddTrayMenuItems");
  last = first;
  // A copy of the list: the plug-ins are called without the plug-in lock, so a loader
  // publishing meanwhile never waits for a plug-in's menu code.
  for (const auto& plugin : m_core->MenuPlugins()) plugin->AddSubmenuItems(menu, last);
}

HRESULT CAgentPlugins::ExecTrayMenuItem(UINT id) {
  VDTraceNS::CScope ts("CAgentPlugins::ExecTrayMenuItem");
  for (const auto& plugin : m_core->MenuPlugins())
    if (plugin->ExecSubMenuItem(id)) break;
  return 0;
}
