#include "platform/sim/shell_link_object.h"

#include <atomic>
#include <cstdio>
#include <cwchar>
#include <map>
#include <mutex>
#include <sstream>

#include "platform/sim/desktop.h"
#include "platform/sim/file_system.h"
#include "platform/sim/machine.h"
#include "platform/sim/sim_text.h"

namespace sim {
namespace {

std::atomic<long> g_liveLinks{0};

constexpr char kMagic[] = "[ShellLink]";

// One line per field: a line break or a '%' inside a value would end or confuse the line.
std::string Escape(const std::wstring& value) {
  std::string out;
  for (char c : text::ToUtf8(value)) {
    if (c == '%') out += "%25";
    else if (c == '\n') out += "%0A";
    else if (c == '\r') out += "%0D";
    else out += c;
  }
  return out;
}

std::wstring Unescape(const std::string& value) {
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '%' && i + 2 < value.size()) {
      out += static_cast<char>(std::stoi(value.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += value[i];
    }
  }
  return text::FromUtf8(out);
}

std::wstring GuidText(const GUID& g) {
  wchar_t buf[40];
  std::swprintf(buf, 40, L"{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return buf;
}

std::optional<GUID> ParseGuid(const std::wstring& s) {
  unsigned long d1 = 0;
  unsigned d2 = 0, d3 = 0, b[8] = {};
  if (s.size() != 38 ||
      std::swscanf(s.c_str(), L"{%8lx-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}", &d1, &d2, &d3, &b[0],
                   &b[1], &b[2], &b[3], &b[4], &b[5], &b[6], &b[7]) != 11)
    return std::nullopt;
  GUID g{static_cast<DWORD>(d1), static_cast<WORD>(d2), static_cast<WORD>(d3), {}};
  for (int i = 0; i < 8; ++i) g.Data4[i] = static_cast<BYTE>(b[i]);
  return g;
}

bool SameKey(const PROPERTYKEY& a, const PROPERTYKEY& b) {
  return a.fmtid == b.fmtid && a.pid == b.pid;
}

HRESULT CopyOut(const std::wstring& value, LPWSTR buffer, int cch) {
  if (!buffer || cch <= 0) return E_INVALIDARG;
  const size_t n = std::min(value.size(), static_cast<size_t>(cch - 1));
  value.copy(buffer, n);
  buffer[n] = L'\0';
  return S_OK;
}

class ShellLink final : public IShellLinkW,
                        public IPersistFile,
                        public IShellLinkDataList,
                        public IPropertyStore {
 public:
  ShellLink(Machine& machine, DWORD sessionId)
      : m_machine(machine), m_files(machine.Files()), m_sessionId(sessionId) {
    ++g_liveLinks;
  }
  ShellLink(const ShellLink&) = delete;
  ShellLink& operator=(const ShellLink&) = delete;

  // ---- IUnknown (through the link's face) ----
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == platform::kIidShellLinkW)
      *ppv = static_cast<IShellLinkW*>(this);
    else if (riid == platform::kIidPersistFile || riid == platform::kIidPersist)
      *ppv = static_cast<IPersistFile*>(this);
    else if (riid == platform::kIidShellLinkDataList)
      *ppv = static_cast<IShellLinkDataList*>(this);
    else if (riid == platform::kIidPropertyStore)
      *ppv = static_cast<IPropertyStore*>(this);
    else
      return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --m_refs;
    if (left == 0) delete this;
    return left;
  }

  // ---- IShellLinkW ----
  HRESULT STDMETHODCALLTYPE GetPath(LPWSTR pszFile, int cch, WIN32_FIND_DATAW*, DWORD) override {
    std::lock_guard<std::mutex> lock(m_mu);
    return CopyOut(m_link.target, pszFile, cch);
  }
  HRESULT STDMETHODCALLTYPE GetIDList(PIDLIST_ABSOLUTE* ppidl) override {
    if (ppidl) *ppidl = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE SetIDList(PCIDLIST_ABSOLUTE) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetDescription(LPWSTR pszName, int cch) override {
    std::lock_guard<std::mutex> lock(m_mu);
    return CopyOut(m_link.description, pszName, cch);
  }
  HRESULT STDMETHODCALLTYPE SetDescription(LPCWSTR pszName) override {
    return Set(&ShellLinkRecord::description, pszName);
  }
  HRESULT STDMETHODCALLTYPE GetWorkingDirectory(LPWSTR pszDir, int cch) override {
    std::lock_guard<std::mutex> lock(m_mu);
    return CopyOut(m_link.workingDirectory, pszDir, cch);
  }
  HRESULT STDMETHODCALLTYPE SetWorkingDirectory(LPCWSTR pszDir) override {
    return Set(&ShellLinkRecord::workingDirectory, pszDir);
  }
  HRESULT STDMETHODCALLTYPE GetArguments(LPWSTR pszArgs, int cch) override {
    std::lock_guard<std::mutex> lock(m_mu);
    return CopyOut(m_link.arguments, pszArgs, cch);
  }
  HRESULT STDMETHODCALLTYPE SetArguments(LPCWSTR pszArgs) override {
    return Set(&ShellLinkRecord::arguments, pszArgs);
  }
  HRESULT STDMETHODCALLTYPE GetHotkey(WORD* pwHotkey) override {
    if (!pwHotkey) return E_POINTER;
    *pwHotkey = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetHotkey(WORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetShowCmd(int* piShowCmd) override {
    if (!piShowCmd) return E_POINTER;
    *piShowCmd = SW_SHOWNORMAL;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetShowCmd(int) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetIconLocation(LPWSTR pszIconPath, int cch, int* piIcon) override {
    std::lock_guard<std::mutex> lock(m_mu);
    if (piIcon) *piIcon = m_link.iconIndex;
    return CopyOut(m_link.iconPath, pszIconPath, cch);
  }
  HRESULT STDMETHODCALLTYPE SetIconLocation(LPCWSTR pszIconPath, int iIcon) override {
    std::lock_guard<std::mutex> lock(m_mu);
    m_link.iconPath = pszIconPath ? pszIconPath : L"";
    m_link.iconIndex = iIcon;
    m_link.hasExpandableIconBlock = true;
    m_link.flags |= SLDF_HAS_EXP_ICON_SZ;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetRelativePath(LPCWSTR, DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Resolve(HWND, DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetPath(LPCWSTR pszFile) override {
    if (!pszFile) return E_INVALIDARG;
    return Set(&ShellLinkRecord::target, pszFile);
  }

  // ---- IPersistFile ----
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* pClassID) override {
    if (!pClassID) return E_POINTER;
    *pClassID = platform::kClsidShellLink;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE IsDirty() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Load(LPCOLESTR pszFileName, DWORD) override {
    if (!pszFileName) return E_INVALIDARG;
    auto record = ReadShellLink(m_files, pszFileName);
    if (!record) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    std::lock_guard<std::mutex> lock(m_mu);
    m_link = *record;
    m_pending = *record;
    return S_OK;
  }
  // Writes the link whole; the folder must exist already (Windows does not create it).
  HRESULT STDMETHODCALLTYPE Save(LPCOLESTR pszFileName, BOOL) override {
    if (!pszFileName) return E_INVALIDARG;
    const auto full = FileSystem::FullPath(L"C:\\", pszFileName);
    if (!full || full->size() < 4) return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    const std::wstring folder = full->substr(0, full->find_last_of(L'\\'));
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    if (folder.size() > 2) {
      if (DWORD e = m_files.Attributes(folder, &attributes))
        return HRESULT_FROM_WIN32(e == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : e);
      if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    }
    if (m_files.Attributes(*full, &attributes) == ERROR_SUCCESS &&
        (attributes & FILE_ATTRIBUTE_DIRECTORY))
      return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
    ShellLinkRecord link;
    {
      std::lock_guard<std::mutex> lock(m_mu);
      link = m_link;
    }
    m_files.WriteFile(*full, FormatShellLink(link));
    m_machine.GetDesktop().Record(m_sessionId, desktop_kind::kShortcut, Describe(*full, link));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SaveCompleted(LPCOLESTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetCurFile(LPOLESTR* ppszFileName) override {
    if (ppszFileName) *ppszFileName = nullptr;
    return E_NOTIMPL;
  }

  // ---- IShellLinkDataList ----
  HRESULT STDMETHODCALLTYPE AddDataBlock(void*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CopyDataBlock(DWORD, void** ppDataBlock) override {
    if (ppDataBlock) *ppDataBlock = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE RemoveDataBlock(DWORD dwSig) override {
    if (!m_machine.Description().linkDataBlocks) return E_NOTIMPL;
    std::lock_guard<std::mutex> lock(m_mu);
    if (dwSig == EXP_SZ_ICON_SIG) m_link.hasExpandableIconBlock = false;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetFlags(DWORD* pdwFlags) override {
    if (!pdwFlags) return E_POINTER;
    std::lock_guard<std::mutex> lock(m_mu);
    *pdwFlags = m_link.flags;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetFlags(DWORD dwFlags) override {
    std::lock_guard<std::mutex> lock(m_mu);
    m_link.flags = dwFlags;
    return S_OK;
  }

  // ---- IPropertyStore ----
  HRESULT STDMETHODCALLTYPE GetCount(DWORD* cProps) override {
    if (!cProps) return E_POINTER;
    std::lock_guard<std::mutex> lock(m_mu);
    *cProps = (m_pending.appUserModelId.empty() ? 0 : 1) +
              (m_pending.toastActivatorClsid ? 1 : 0);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetAt(DWORD, PROPERTYKEY*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY, PROPVARIANT* pv) override {
    if (pv) pv->vt = VT_EMPTY;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY key, REFPROPVARIANT value) override {
    std::lock_guard<std::mutex> lock(m_mu);
    if (SameKey(key, platform::kPKeyAppUserModelId)) {
      if (value.vt != VT_LPWSTR || !value.pwszVal) return E_INVALIDARG;
      m_pending.appUserModelId = value.pwszVal;
      return S_OK;
    }
    if (SameKey(key, platform::kPKeyAppUserModelToastActivatorClsid)) {
      if (value.vt != VT_CLSID || !value.puuid) return E_INVALIDARG;
      m_pending.toastActivatorClsid = *value.puuid;
      return S_OK;
    }
    return E_INVALIDARG;  // a property the simulated shell does not keep
  }
  HRESULT STDMETHODCALLTYPE Commit() override {
    std::lock_guard<std::mutex> lock(m_mu);
    m_link.appUserModelId = m_pending.appUserModelId;
    m_link.toastActivatorClsid = m_pending.toastActivatorClsid;
    return S_OK;
  }

 private:
  ~ShellLink() { --g_liveLinks; }

  HRESULT Set(std::wstring ShellLinkRecord::*field, LPCWSTR value) {
    std::lock_guard<std::mutex> lock(m_mu);
    m_link.*field = value ? value : L"";
    return S_OK;
  }

  static std::wstring Describe(const std::wstring& path, const ShellLinkRecord& link) {
    std::wstring text = path + L": \"" + link.target + L"\" " + link.arguments + L", icon " +
                        link.iconPath + L"," + std::to_wstring(link.iconIndex);
    if (!link.appUserModelId.empty()) text += L", AppUserModelID " + link.appUserModelId;
    if (link.toastActivatorClsid) text += L", activator " + GuidText(*link.toastActivatorClsid);
    return text;
  }

  Machine& m_machine;
  FileSystem& m_files;
  const DWORD m_sessionId;
  std::atomic<ULONG> m_refs{1};
  std::mutex m_mu;
  ShellLinkRecord m_link;     // what Save writes
  ShellLinkRecord m_pending;  // property values set and not yet committed
};

}  // namespace

std::string FormatShellLink(const ShellLinkRecord& r) {
  std::ostringstream out;
  out << kMagic << "\n";
  out << "target=" << Escape(r.target) << "\n";
  out << "arguments=" << Escape(r.arguments) << "\n";
  out << "workingDirectory=" << Escape(r.workingDirectory) << "\n";
  out << "description=" << Escape(r.description) << "\n";
  out << "iconPath=" << Escape(r.iconPath) << "\n";
  out << "iconIndex=" << r.iconIndex << "\n";
  out << "flags=" << r.flags << "\n";
  out << "expandableIconBlock=" << (r.hasExpandableIconBlock ? 1 : 0) << "\n";
  out << "appUserModelId=" << Escape(r.appUserModelId) << "\n";
  out << "toastActivatorClsid="
      << (r.toastActivatorClsid ? Escape(GuidText(*r.toastActivatorClsid)) : "") << "\n";
  return out.str();
}

std::optional<ShellLinkRecord> ParseShellLink(const std::string& text) {
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line) || line != kMagic) return std::nullopt;
  std::map<std::string, std::string> fields;
  while (std::getline(in, line)) {
    const auto eq = line.find('=');
    if (eq == std::string::npos) return std::nullopt;
    fields[line.substr(0, eq)] = line.substr(eq + 1);
  }
  try {
    ShellLinkRecord r;
    r.target = Unescape(fields.at("target"));
    r.arguments = Unescape(fields.at("arguments"));
    r.workingDirectory = Unescape(fields.at("workingDirectory"));
    r.description = Unescape(fields.at("description"));
    r.iconPath = Unescape(fields.at("iconPath"));
    r.iconIndex = std::stoi(fields.at("iconIndex"));
    r.flags = static_cast<DWORD>(std::stoul(fields.at("flags")));
    r.hasExpandableIconBlock = fields.at("expandableIconBlock") == "1";
    r.appUserModelId = Unescape(fields.at("appUserModelId"));
    const std::wstring clsid = Unescape(fields.at("toastActivatorClsid"));
    if (!clsid.empty()) {
      r.toastActivatorClsid = ParseGuid(clsid);
      if (!r.toastActivatorClsid) return std::nullopt;
    }
    return r;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::optional<ShellLinkRecord> ReadShellLink(const FileSystem& files, const std::wstring& path) {
  auto text = files.ReadFile(path);
  if (!text) return std::nullopt;
  return ParseShellLink(*text);
}

HRESULT CreateShellLink(Machine& machine, DWORD sessionId, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  auto* link = new ShellLink(machine, sessionId);
  const HRESULT hr = link->QueryInterface(riid, ppv);
  link->Release();
  return hr;
}

long LiveShellLinks() { return g_liveLinks.load(); }

}  // namespace sim
