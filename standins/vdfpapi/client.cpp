#include "standins/vdfpapi/client.h"

#include <cstring>

namespace vdfp_standin {

namespace {

template <typename H>
H ToHandle(std::uintptr_t id) {
  return reinterpret_cast<H>(id);
}
template <typename H>
std::uintptr_t FromHandle(H h) {
  return reinterpret_cast<std::uintptr_t>(h);
}

bool IsZero(const GUID& g) { return g == GUID{}; }

bool ValidFormat(DWORD f) { return f >= VDFP_NAME_NETBIOS && f <= VDFP_NAME_VD; }

// Bytes of a block laid out as an array of records followed by their strings.
std::size_t StringBytes(const std::wstring& s) { return (s.size() + 1) * sizeof(WCHAR); }

WCHAR* CopyString(BYTE*& cursor, const std::wstring& s) {
  WCHAR* out = reinterpret_cast<WCHAR*>(cursor);
  std::memcpy(out, s.c_str(), StringBytes(s));
  cursor += StringBytes(s);
  return out;
}

void AppendLength(std::vector<BYTE>& out, std::size_t n) {
  if (n < 0x80) {
    out.push_back(static_cast<BYTE>(n));
  } else {
    BYTE bytes[4];
    int k = 0;
    for (; n; n >>= 8) bytes[k++] = static_cast<BYTE>(n);
    out.push_back(static_cast<BYTE>(0x80 | k));
    while (k) out.push_back(bytes[--k]);
  }
}

// Reads a DER length at p[i]; false when it runs past n.
bool ReadLength(const BYTE* p, std::size_t n, std::size_t& i, std::size_t& len) {
  if (i >= n) return false;
  const BYTE first = p[i++];
  if (first < 0x80) {
    len = first;
  } else {
    const int k = first & 0x7F;
    if (k == 0 || k > 4 || i + static_cast<std::size_t>(k) > n) return false;
    len = 0;
    for (int j = 0; j < k; ++j) len = (len << 8) | p[i++];
  }
  return len <= n - i;
}

}  // namespace

// ---- DER ---------------------------------------------------------------------------------------

std::vector<BYTE> EncodeUIntSequence(const std::vector<DWORD>& values) {
  std::vector<BYTE> body;
  for (DWORD v : values) {
    std::vector<BYTE> digits;
    for (DWORD x = v; x; x >>= 8) digits.insert(digits.begin(), static_cast<BYTE>(x));
    if (digits.empty() || (digits.front() & 0x80)) digits.insert(digits.begin(), 0);
    body.push_back(0x02);
    AppendLength(body, digits.size());
    body.insert(body.end(), digits.begin(), digits.end());
  }
  std::vector<BYTE> out{0x30};
  AppendLength(out, body.size());
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

bool DecodeUIntSequence(const BYTE* p, std::size_t n, std::vector<DWORD>& values) {
  values.clear();
  std::size_t i = 0, len = 0;
  if (!p || n < 2 || p[i++] != 0x30 || !ReadLength(p, n, i, len) || i + len != n) return false;
  while (i < n) {
    std::size_t ilen = 0;
    if (p[i++] != 0x02 || !ReadLength(p, n, i, ilen) || ilen == 0) return false;
    if (p[i] & 0x80) return false;  // negative: not an unsigned value
    std::size_t start = i;
    if (p[start] == 0 && ilen > 1) ++start;  // the sign byte of a value with its top bit set
    if (i + ilen - start > 4) return false;
    DWORD v = 0;
    for (std::size_t k = start; k < i + ilen; ++k) v = (v << 8) | p[k];
    values.push_back(v);
    i += ilen;
  }
  return true;
}

// ---- Life -------------------------------------------------------------------------------------

CClientLibrary::CClientLibrary(CHostService& host, std::unique_ptr<IClientSite> site,
                               DWORD processId)
    : m_host(host), m_site(std::move(site)), m_processId(processId) {}

CClientLibrary::~CClientLibrary() = default;

int CClientLibrary::InitCount() const {
  std::lock_guard lk(m_mu);
  return m_initCount;
}

HRESULT CClientLibrary::Ready() const {
  {
    std::lock_guard lk(m_mu);
    if (m_initCount == 0) return VDFP_E_NOT_INITIALIZED;
  }
  return m_host.IsRunning() ? S_OK : VDFP_E_HOST_UNAVAILABLE;
}

HRESULT CClientLibrary::Init() {
  m_host.Count("VDFPInit");
  if (!m_host.IsRunning()) return VDFP_E_HOST_UNAVAILABLE;
  std::lock_guard lk(m_mu);
  ++m_initCount;
  return S_OK;
}

HRESULT CClientLibrary::Term() {
  m_host.Count("VDFPTerm");
  std::lock_guard lk(m_mu);
  if (m_initCount == 0) return VDFP_E_NOT_INITIALIZED;
  --m_initCount;
  return S_OK;
}

LPVOID CClientLibrary::BufferAlloc(SIZE_T cb) {
  m_host.Count("VDFPBufferAlloc");
  return m_host.Buffers().Alloc(cb, "VDFPBufferAlloc");
}

void CClientLibrary::BufferFree(LPVOID pv) {
  m_host.Count("VDFPBufferFree");
  if (!CBufferTracker::Free(pv)) m_host.Buffers().NoteInvalidFree();
}

LPWSTR CClientLibrary::AllocString(const std::wstring& s, const char* tag) {
  auto* p = static_cast<LPWSTR>(m_host.Buffers().Alloc(StringBytes(s), tag));
  if (p) std::memcpy(p, s.c_str(), StringBytes(s));
  return p;
}

// ---- Acquisitions -----------------------------------------------------------------------------

HRESULT CClientLibrary::CreateAcquisition(DWORD, const GUID* pDeviceId, DWORD dwNotify, HWND hWnd,
                                          UINT uMsg, HVDFPACQUISITION* phAcquisition) {
  m_host.Count("VDFPCreateAcquisition");
  if (!phAcquisition) return E_POINTER;
  *phAcquisition = nullptr;
  if (HRESULT hr = Ready(); FAILED(hr)) return hr;
  // Only window delivery is offered; a window is needed to deliver to.
  if (dwNotify != VDFP_ACQUISITION_NOTIFY_WINDOW || !hWnd) return E_INVALIDARG;
  if (pDeviceId && !IsZero(*pDeviceId)) {
    bool found = false;
    for (const auto& r : m_host.Readers()) found = found || (r.id == *pDeviceId && r.connected);
    if (!found) return VDFP_E_DEVICE_NOT_CONNECTED;
  }
  std::lock_guard lk(m_mu);
  const std::uintptr_t id = m_nextHandle += 4;
  m_acquisitions[id] = Acquisition{hWnd, uMsg};
  *phAcquisition = ToHandle<HVDFPACQUISITION>(id);
  return S_OK;
}

HRESULT CClientLibrary::StartAcquisition(HVDFPACQUISITION h) {
  m_host.Count("VDFPStartAcquisition");
  if (HRESULT hr = Ready(); FAILED(hr)) return hr;
  std::lock_guard lk(m_mu);
  auto it = m_acquisitions.find(FromHandle(h));
  if (it == m_acquisitions.end()) return E_HANDLE;
  // Starting a started acquisition is harmless; it also waits through reader disconnects.
  it->second.started = true;
  ++it->second.starts;
  return S_OK;
}

HRESULT CClientLibrary::StopAcquisition(HVDFPACQUISITION h) {
  m_host.Count("VDFPStopAcquisition");
  if (HRESULT hr = Ready(); FAILED(hr)) return hr;
  std::lock_guard lk(m_mu);
  auto it = m_acquisitions.find(FromHandle(h));
  if (it == m_acquisitions.end()) return E_HANDLE;
  it->second.started = false;
  ++it->second.stops;
  return S_OK;
}

HRESULT CClientLibrary::DestroyAcquisition(HVDFPACQUISITION h) {
  m_host.Count("VDFPDestroyAcquisition");
  if (HRESULT hr = Ready(); FAILED(hr)) return hr;
  std::lock_guard lk(m_mu);
  auto it = m_acquisitions.find(FromHandle(h));
  if (it == m_acquisitions.end()) return E_HANDLE;
  if (it->second.started) m_host.NoteDestroyedRunning();
  m_acquisitions.erase(it);
  return S_OK;
}

HRESULT CClientLibrary::SetDeviceLED(HVDFPACQUISITION h, DWORD state) {
  m_host.Count("VDFPSetDeviceLED");
  if (HRESULT hr = Ready(); FAILED(hr)) return hr;
  if (state > VDFP_LED_WAIT_SHORT) return E_INVALIDARG;
  std::lock_guard lk(m_mu);
  auto it = m_acquisitions.find(FromHandle(h));
  if (it == m_acquisitions.end()) return E_HANDLE;
  it->second.led = state;
  return S_OK;
}

void CClientLibrary::SendToRunning(const std::vector<std::pair<WPARAM, LPARAM>>& events) {
  std::vector<std::pair<HWND, UINT>> targets;
  {
    std::lock_guard lk(m_mu);
    if (m_initCount == 0) return;  // an ended library hears nothing
    for (const auto& [id, a] : m_acquisitions)
      if (a.started) targets.emplace_back(a.window, a.message);
  }
  for (const auto& [w, m] : targets)
    for (const auto& [code, data] : events) m_site->PostMessageW(w, m, code, data);
}

void CClientLibrary::SendToAll(WPARAM code, LPARAM data) {
  std::vector<std::pair<HWND, UINT>> targets;
  {
    std::lock_guard lk(m_mu);
    if (m_initCount == 0) return;
    for (const auto& [id, a] : m_acquisitions) targets.emplace_back(a.window, a.message);
  }
  for (const auto& [w, m] : targets) m_site->PostMessageW(w, m, code, data);
}

std::vector<AcquisitionInfo> CClientLibrary::Acquisitions() const {
  std::lock_guard lk(m_mu);
  std::vector<AcquisitionInfo> out;
  for (const auto& [id, a] : m_acquisitions)
    out.push_back({m_processId, a.window, a.message, a.started, a.led, a.starts, a.stops});
  return out;
}

// ---- Identification ---------------------------------------------------------------------------

HRESULT CClientLibrary::Identify(VDFP_CAPTURE capture, LPWSTR* ppwszName, DWORD* pdwNameFormat) {
  m_host.Count("VDFPIdentify");
  if (!ppwszName || !pdwNameFormat) return E_POINTER;
  *ppwszName = nullptr;
  *pdwNameFormat = 0;
  if (HRESULT hr = Ready(); FAILED(hr)) return hr;
  const auto owner = m_host.CaptureOwner(capture);
  if (!owner) return E_INVALIDARG;
  if (!*owner) return VDFP_E_NO_SUCH_USER;
  // The suite's own accounts answer in their own format, Windows accounts as SAM names.
  DWORD format = VDFP_NAME_VD;
  std::wstring name = m_host.UserName(**owner, format);
  if (name.empty()) {
    format = VDFP_NAME_SAM;
    name = m_host.UserName(**owner, format);
  }
  *ppwszName = AllocString(name, "VDFPIdentify");
  if (!*ppwszName) return E_OUTOFMEMORY;
  *pdwNameFormat = format;
  return S_OK;
}

HRESULT CClientLibrary::IdentifyUser(VDFP_CAPTURE capture, LPCWSTR pwszName, DWORD dwNameFormat) {
  m_host.Count("VDFPIdentifyUser");
  if (!pwszName) return E_POINTER;
  if (HRESULT hr = Ready(); FAILED(hr)) return hr;
  const auto owner = m_host.CaptureOwner(capture);
  if (!owner) return E_INVALIDARG;
  const auto user = m_host.FindUser(pwszName, dwNameFormat);
  return user && *owner && **owner == *user ? S_OK : S_FALSE;
}

// ---- Authentication ---------------------------------------------------------------------------

HRESULT CClientLibrary::GetAuthenticationInfo(HVDFPAUTHENTICATION h, DWORD dwInfoClass,
                                              LPVOID* ppInfo) {
  m_host.Count("VDFPGetAuthenticationInfo");
  if (!ppInfo) return E_POINTER;
  *ppInfo = nullptr;
  if (HRESULT hr = Ready(); FAILED(hr)) return hr;
  if (dwInfoClass != VDFP_AUTHENTICATION_INFO_CLASS) return E_INVALIDARG;
  Authentication a;
  {
    std::lock_guard lk(m_mu);
    auto it = m_authentications.find(FromHandle(h));
    if (it == m_authentications.end()) return E_HANDLE;
    a = it->second;
  }
  const std::wstring name = m_host.UserName(a.user, a.format);
  auto* block = static_cast<BYTE*>(m_host.Buffers().Alloc(
      sizeof(VDFP_AUTHENTICATION_INFO_1) + StringBytes(name), "VDFPGetAuthenticationInfo"));
  if (!block) return E_OUTOFMEMORY;
  auto* info = reinterpret_cast<VDFP_AUTHENTICATION_INFO_1*>(block);
  BYTE* cursor = block + sizeof(VDFP_AUTHENTICATION_INFO_1);
  info->pwszName = CopyString(cursor, name);
  info->dwNameFormat = a.format;
  *ppInfo = info;
  return S_OK;
}

HRESULT CClientLibrary::CreateAuthentication(LPCWSTR pwszName, DWORD dwNameFormat,
                                             HVDFPAUTHENTICATION* ph) {
  m_host.Count("VDFPCreateAuthentication");
  if (!ph) return E_POINTER;
  *ph = nullptr;
  if (!pwszName) return E_POINTER;
  if (HRESULT hr = Ready(); FAILED(hr)) return hr;
  const auto user = m_host.FindUser(pwszName, dwNameFormat);
  if (!user) return VDFP_E_NO_SUCH_USER;
  std::lock_guard lk(m_mu);
  const std::uintptr_t id = m_nextHandle += 4;
  m_authentications[id] = Authentication{*user, dwNameFormat};
  *ph = ToHandle<HVDFPAUTHENTICATION>(id);
  return S_OK;
}

std::optional<std::size_t> CClientLibrary::AuthenticationUser(HVDFPAUTHENTICATION h) const {
  std::lock_guard lk(m_mu);
  auto it = m_authentications.find(FromHandle(h));
  if (it == m_authentications.end()) return std::nullopt;
  return it->second.user;
}

HRESULT CClientLibrary::DestroyAuthentication(HVDFPAUTHENTICATION h) {
  m_host.Count("VDFPDestroyAuthentication");
  // Releasing needs no host: a handle can be dropped after the host went down.
  std::lock_guard lk(m_mu);
  return m_authentications.erase(FromHandle(h)) ? S_OK : E_HANDLE;
}

HRESULT CClientLibrary::TokenAuthenticate(const GUID* pTokenType, HVDFPAUTHENTICATION h,
                                          DWORD cbRequest, const BYTE* pbRequest, DWORD* pcbReply,
                                          BYTE** ppbReply) {
  m_host.Count("VDFPTokenAuthenticate");
  if (!pTokenType || !pcbReply || !ppbReply) return E_POINTER;
  *pcbReply = 0;
  *ppbReply = nullptr;
  if (HRESULT hr = Ready(); FAILED(hr)) return hr;
  Authentication a;
  {
    std::lock_guard lk(m_mu);
    auto it = m_authentications.find(FromHandle(h));
    if (it == m_authentications.end()) return E_HANDLE;
    a = it->second;
  }
  const auto token = m_host.Token(*pTokenType);
  if (!token) return VDFP_E_NOT_FOUND;
  m_host.NoteTokenAuthenticateRequest(
      pbRequest ? std::vector<BYTE>(pbRequest, pbRequest + cbRequest) : std::vector<BYTE>{});
  if (!(m_host.Enrolled(a.user) & token->mask)) return VDFP_E_LOGON_FAILURE;
  if (token->mask == VDFP_CRED_FINGERPRINT) {
    // The request is {1, capture}: the capture must be the operation's user's finger.
    std::vector<DWORD> values;
    if (!DecodeUIntSequence(pbRequest, cbRequest, values) || values.size() != 2 || values[0] != 1)
      return E_INVALIDARG;
    const auto owner = m_host.CaptureOwner(values[1]);
    if (!owner) return E_INVALIDARG;
    if (!*owner || **owner != a.user) return VDFP_E_LOGON_FAILURE;
  }
  {
    std::lock_guard lk(m_mu);
    auto it = m_authentications.find(FromHandle(h));
    if (it == m_authentications.end()) return E_HANDLE;
    it->second.authenticated = true;
  }
  // The reply {1, token's credential bit}, from the process heap.
  const std::vector<BYTE> reply = m_host.TokenAuthenticateReply().value_or(
      EncodeUIntSequence({1, static_cast<DWORD>(token->mask & 0xFFFFFFFFu)}));
  auto* out = static_cast<BYTE*>(VDFPProcessHeapAlloc(reply.size()));
  if (!out) return E_OUTOFMEMORY;
  if (!reply.empty()) std::memcpy(out, reply.data(), reply.size());  // a staged empty reply
  *ppbReply = out;
  *pcbReply = static_cast<DWORD>(reply.size());
  return S_OK;
}

// ---- Tokens -----------------------------------------------------------------------------------

HRESULT CClientLibrary::TokenEnum(DWORD* pcTokens, GUID** ppTokens) {
  m_host.Count("VDFPTokenEnum");
  if (!pcTokens || !ppTokens) return E_POINTER;
  *pcTokens = 0;
  *ppTokens = nullptr;
  if (HRESULT hr = Ready(); FAILED(hr)) return hr;
  const auto tokens = m_host.Tokens();
  if (tokens.empty()) return S_OK;
  auto* array =
      static_cast<GUID*>(m_host.Buffers().Alloc(tokens.size() * sizeof(GUID), "VDFPTokenEnum"));
  if (!array) return E_OUTOFMEMORY;
  for (std::size_t i = 0; i < tokens.size(); ++i) array[i] = tokens[i].guid;
  *ppTokens = array;
  *pcTokens = static_cast<DWORD>(tokens.size());
  return S_OK;
}

HRESULT CClientLibrary::TokenGetInfo(const GUID* pTokenType, DWORD dwInfoClass, LPVOID* ppInfo) {
  m_host.Count("VDFPTokenGetInfo");
  if (!pTokenType || !ppInfo) return E_POINTER;
  *ppInfo = nullptr;
  if (HRESULT hr = Ready(); FAILED(hr)) return hr;
  if (dwInfoClass != VDFP_TOKEN_INFO_CLASS) return E_INVALIDARG;
  const auto token = m_host.Token(*pTokenType);
  if (!token) return VDFP_E_NOT_FOUND;
  auto* info = static_cast<VDFP_TOKEN_INFO_1*>(
      m_host.Buffers().Alloc(sizeof(VDFP_TOKEN_INFO_1), "VDFPTokenGetInfo"));
  if (!info) return E_OUTOFMEMORY;
  info->TokenType = token->guid;
  info->cbSize = sizeof(VDFP_TOKEN_INFO_1);
  // UTF-16LE, whatever the size of wchar_t (characters past the BMP are not token names).
  const std::size_t max = sizeof(info->wszDisplayName) / sizeof(WORD) - 1;
  for (std::size_t i = 0; i < token->name.size() && i < max; ++i)
    info->wszDisplayName[i] = static_cast<WORD>(token->name[i]);
  info->ullCredentialMask = token->mask;
  info->dwMaxEnrollments = token->maxEnrollments;
  *ppInfo = info;
  return S_OK;
}

HRESULT CClientLibrary::TokenIsEnrolled(const GUID* pTokenType, LPCWSTR pwszName,
                                        DWORD dwNameFormat) {
  m_host.Count("VDFPTokenIsEnrolled");
  if (!pTokenType || !pwszName) return E_POINTER;
  if (HRESULT hr = Ready(); FAILED(hr)) return hr;
  const auto token = m_host.Token(*pTokenType);
  if (!token) return VDFP_E_NOT_FOUND;
  const auto user = m_host.FindUser(pwszName, dwNameFormat);
  if (!user) return VDFP_E_NO_SUCH_USER;
  return (m_host.Enrolled(*user) & token->mask) == token->mask ? S_OK : S_FALSE;
}

HRESULT CClientLibrary::TokenIsEnrolledAsync(const GUID* pTokenType, HWND hWnd, UINT uMsg,
                                             LPCWSTR pwszName, DWORD dwNameFormat,
                                             HVDFPASYNCCALL* phCall) {
  m_host.Count("VDFPTokenIsEnrolledAsync");
  if (!phCall) return E_POINTER;
  *phCall = nullptr;
  if (!pTokenType || !pwszName) return E_POINTER;
  if (HRESULT hr = Ready(); FAILED(hr)) return hr;
  if (!hWnd) return E_INVALIDARG;
  if (!m_host.Token(*pTokenType)) return VDFP_E_NOT_FOUND;
  std::uintptr_t id;
  {
    std::lock_guard lk(m_mu);
    id = m_nextHandle += 4;
    m_asyncCalls[id] = AsyncCall{hWnd, uMsg, *pTokenType, pwszName, dwNameFormat};
    *phCall = ToHandle<HVDFPASYNCCALL>(id);
  }
  // The host answers later; the answer is taken when it is sent.
  std::weak_ptr<CClientLibrary> self = weak_from_this();
  m_host.Site().RunLater(m_host.AsyncReplyDelayMs(), [self, id] {
    if (auto me = self.lock()) me->SendAsyncReply(id);
  });
  return S_OK;
}

void CClientLibrary::SendAsyncReply(std::uintptr_t id) {
  AsyncCall call;
  {
    std::lock_guard lk(m_mu);
    auto it = m_asyncCalls.find(id);
    // Destroyed before the answer, or the library ended meanwhile: nothing is sent.
    if (it == m_asyncCalls.end() || m_initCount == 0) return;
    call = it->second;
  }
  auto reply = std::make_unique<VDFP_ASYNC_ENROLLMENT_REPLY>();
  reply->TokenType = call.token;
  if (!m_host.IsRunning()) {
    reply->hrResult = VDFP_E_HOST_UNAVAILABLE;
  } else if (const auto user = m_host.FindUser(call.name, call.format); !user) {
    reply->hrResult = VDFP_E_NO_SUCH_USER;
  } else {
    const auto token = m_host.Token(call.token);
    reply->hrResult =
        token && (m_host.Enrolled(*user) & token->mask) == token->mask ? S_OK : S_FALSE;
  }
  VDFP_ASYNC_ENROLLMENT_REPLY* raw = reply.get();
  {
    std::lock_guard lk(m_mu);
    if (!m_asyncCalls.count(id)) return;
    m_replies.push_back(std::move(reply));
  }
  m_site->PostMessageW(call.window, call.message, 0, reinterpret_cast<LPARAM>(raw));
}

HRESULT CClientLibrary::AsyncDestroyCall(HVDFPASYNCCALL h) {
  m_host.Count("VDFPAsyncDestroyCall");
  std::lock_guard lk(m_mu);
  return m_asyncCalls.erase(FromHandle(h)) ? S_OK : E_HANDLE;
}

std::size_t CClientLibrary::OutstandingAsyncCalls() const {
  std::lock_guard lk(m_mu);
  return m_asyncCalls.size();
}

std::size_t CClientLibrary::OutstandingAuthentications() const {
  std::lock_guard lk(m_mu);
  return m_authentications.size();
}

// ---- Names ------------------------------------------------------------------------------------

HRESULT CClientLibrary::TranslateName(LPCWSTR pwszName, DWORD dwNameFormat, DWORD dwWantedFormat,
                                      LPWSTR* ppwszTranslated) {
  m_host.Count("VDFPTranslateName");
  if (!ppwszTranslated) return E_POINTER;
  *ppwszTranslated = nullptr;
  if (!pwszName) return E_POINTER;
  if (HRESULT hr = Ready(); FAILED(hr)) return hr;
  if (!ValidFormat(dwNameFormat) || !ValidFormat(dwWantedFormat)) return E_INVALIDARG;
  const auto user = m_host.FindUser(pwszName, dwNameFormat);
  if (!user) return VDFP_E_NONE_MAPPED;
  const std::wstring name = m_host.UserName(*user, dwWantedFormat);
  if (name.empty()) return VDFP_E_NONE_MAPPED;
  *ppwszTranslated = AllocString(name, "VDFPTranslateName");
  return *ppwszTranslated ? S_OK : E_OUTOFMEMORY;
}

// ---- Devices and domains ----------------------------------------------------------------------

HRESULT CClientLibrary::EnumerateDevices(DWORD* pcDevices, VDFP_DEVICE_INFO** ppDevices) {
  m_host.Count("VDFPEnumerateDevices");
  if (!pcDevices) return E_POINTER;
  *pcDevices = 0;
  if (ppDevices) *ppDevices = nullptr;
  if (HRESULT hr = Ready(); FAILED(hr)) return hr;
  std::vector<ReaderDesc> readers = m_host.Readers();
  std::erase_if(readers, [](const ReaderDesc& r) { return !r.connected; });
  *pcDevices = static_cast<DWORD>(readers.size());
  if (!ppDevices || readers.empty()) return S_OK;
  std::size_t size = readers.size() * sizeof(VDFP_DEVICE_INFO);
  for (const auto& r : readers) size += StringBytes(r.name);
  auto* block = static_cast<BYTE*>(m_host.Buffers().Alloc(size, "VDFPEnumerateDevices"));
  if (!block) return E_OUTOFMEMORY;
  auto* array = reinterpret_cast<VDFP_DEVICE_INFO*>(block);
  BYTE* cursor = block + readers.size() * sizeof(VDFP_DEVICE_INFO);
  for (std::size_t i = 0; i < readers.size(); ++i) {
    array[i].DeviceId = readers[i].id;
    array[i].ullCredentialMask = readers[i].mask;
    array[i].dwState = VDFP_DEVICE_CONNECTED;
    array[i].pwszName = CopyString(cursor, readers[i].name);
  }
  *ppDevices = array;
  return S_OK;
}

HRESULT CClientLibrary::GetDeviceInfo(const GUID* pDeviceId, DWORD dwInfoClass, LPCWSTR pwszName,
                                      DWORD dwNameFormat, LPVOID* ppInfo) {
  m_host.Count("VDFPGetDeviceInfo");
  if (!pDeviceId || !pwszName || !ppInfo) return E_POINTER;
  *ppInfo = nullptr;
  if (HRESULT hr = Ready(); FAILED(hr)) return hr;
  if (dwInfoClass != VDFP_DEVICE_USER_INFO_CLASS) return E_INVALIDARG;
  std::optional<ReaderDesc> reader;
  for (auto& r : m_host.Readers())
    if (r.id == *pDeviceId && r.connected) reader = r;
  if (!reader) return VDFP_E_DEVICE_NOT_CONNECTED;
  const auto user = m_host.FindUser(pwszName, dwNameFormat);
  if (!user) return VDFP_E_NO_SUCH_USER;
  bool reenroll = false;
  for (const auto& u : reader->reenroll) reenroll = reenroll || m_host.FindUserByAnyName(u) == user;
  auto* info = static_cast<VDFP_DEVICE_USER_INFO_3*>(
      m_host.Buffers().Alloc(sizeof(VDFP_DEVICE_USER_INFO_3), "VDFPGetDeviceInfo"));
  if (!info) return E_OUTOFMEMORY;
  info->dwReenrollmentNeeded = reenroll ? 1 : 0;
  info->dwEnrolledSamples = (m_host.Enrolled(*user) & reader->mask) ? 1 : 0;
  *ppInfo = info;
  return S_OK;
}

HRESULT CClientLibrary::AuthDomainEnum(DWORD* pcDomains, LPWSTR** pppwszNames) {
  m_host.Count("VDFPAuthDomainEnum");
  if (!pcDomains || !pppwszNames) return E_POINTER;
  *pcDomains = 0;
  *pppwszNames = nullptr;
  if (HRESULT hr = Ready(); FAILED(hr)) return hr;
  const auto domains = m_host.Domains();
  if (domains.empty()) return S_OK;
  std::size_t size = domains.size() * sizeof(LPWSTR);
  for (const auto& d : domains) size += StringBytes(d.name);
  auto* block = static_cast<BYTE*>(m_host.Buffers().Alloc(size, "VDFPAuthDomainEnum"));
  if (!block) return E_OUTOFMEMORY;
  auto* names = reinterpret_cast<LPWSTR*>(block);
  BYTE* cursor = block + domains.size() * sizeof(LPWSTR);
  for (std::size_t i = 0; i < domains.size(); ++i) names[i] = CopyString(cursor, domains[i].name);
  *pppwszNames = names;
  *pcDomains = static_cast<DWORD>(domains.size());
  return S_OK;
}

HRESULT CClientLibrary::AuthDomainGetInfo(LPCWSTR pwszDomain, DWORD dwInfoClass, LPVOID* ppInfo) {
  m_host.Count("VDFPAuthDomainGetInfo");
  if (!pwszDomain || !ppInfo) return E_POINTER;
  *ppInfo = nullptr;
  if (HRESULT hr = Ready(); FAILED(hr)) return hr;
  if (dwInfoClass != VDFP_AUTH_DOMAIN_INFO_CLASS) return E_INVALIDARG;
  for (const auto& d : m_host.Domains()) {
    if (!EqualNoCase(d.name, pwszDomain)) continue;
    auto* block = static_cast<BYTE*>(m_host.Buffers().Alloc(
        sizeof(VDFP_AUTH_DOMAIN_INFO_0) + StringBytes(d.name), "VDFPAuthDomainGetInfo"));
    if (!block) return E_OUTOFMEMORY;
    auto* info = reinterpret_cast<VDFP_AUTH_DOMAIN_INFO_0*>(block);
    BYTE* cursor = block + sizeof(VDFP_AUTH_DOMAIN_INFO_0);
    info->dwState = d.state;
    info->pwszName = CopyString(cursor, d.name);
    *ppInfo = info;
    return S_OK;
  }
  return VDFP_E_NOT_FOUND;
}

// ---- Policy -----------------------------------------------------------------------------------

namespace {

// Fills a variant from a setting; strings, blobs and arrays are library blocks.
bool FillVariant(CBufferTracker& buffers, const PolicyValue& v, VDVARIANT& out) {
  out = VDVARIANT{};
  out.VarType = v.type;
  switch (v.type) {
    case VDVAR_BOOL:
    case VDVAR_INT32:
    case VDVAR_UINT32:
      out.ulVal = static_cast<DWORD>(v.number);
      return true;
    case VDVAR_INT64:
    case VDVAR_UINT64:
      out.ullVal = v.number;
      return true;
    case VDVAR_STRING: {
      auto* s = static_cast<LPWSTR>(
          buffers.Alloc(StringBytes(v.text), "VDFPGetPolicySettingsEx(string)"));
      if (!s) return false;
      std::memcpy(s, v.text.c_str(), StringBytes(v.text));
      out.pwszVal = s;
      return true;
    }
    case VDVAR_BLOB: {
      auto* b = static_cast<BYTE*>(buffers.Alloc(v.blob.size(), "VDFPGetPolicySettingsEx(blob)"));
      if (!b) return false;
      if (!v.blob.empty()) std::memcpy(b, v.blob.data(), v.blob.size());
      out.blob.cElems = static_cast<DWORD>(v.blob.size());
      out.blob.pElems = b;
      return true;
    }
    case VDVAR_ARRAY: {
      auto* a = static_cast<VDVARIANT*>(
          buffers.Alloc(v.items.size() * sizeof(VDVARIANT), "VDFPGetPolicySettingsEx(array)"));
      if (!a) return false;
      out.array.cElems = static_cast<DWORD>(v.items.size());
      out.array.pElems = a;
      for (std::size_t i = 0; i < v.items.size(); ++i)
        if (!FillVariant(buffers, v.items[i], a[i])) return false;
      return true;
    }
    default:
      out.VarType = VDVAR_EMPTY;
      return true;
  }
}

}  // namespace

HRESULT CClientLibrary::GetPolicySettingsEx(DWORD cItems, VDFP_POLICY_ITEM* pItems) {
  m_host.Count("VDFPGetPolicySettingsEx");
  if (cItems == 0) return E_INVALIDARG;
  if (!pItems) return E_POINTER;
  if (HRESULT hr = Ready(); FAILED(hr)) return hr;
  for (DWORD i = 0; i < cItems; ++i) {
    VDFP_POLICY_ITEM& item = pItems[i];
    item.Value = VDVARIANT{};
    if (!item.pwszName) {
      item.hrStatus = E_POINTER;
      continue;
    }
    const auto setting = m_host.PolicySetting(item.pwszName);
    if (!setting) {
      item.hrStatus = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
      continue;
    }
    // A failed block leaves the blocks already made in the item: the caller's clearing of
    // the item releases them.
    item.hrStatus =
        FillVariant(m_host.Buffers(), setting->value, item.Value) ? setting->status : E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT CClientLibrary::GetUserInfo(LPCWSTR pwszName, DWORD dwNameFormat, DWORD dwInfoClass,
                                    LPVOID* ppInfo) {
  m_host.Count("VDFPGetUserInfo");
  if (!pwszName || !ppInfo) return E_POINTER;
  *ppInfo = nullptr;
  if (HRESULT hr = Ready(); FAILED(hr)) return hr;
  if (dwInfoClass != VDFP_USER_INFO_POLICY_CLASS) return E_INVALIDARG;
  const auto user = m_host.FindUser(pwszName, dwNameFormat);
  if (!user) return VDFP_E_NO_SUCH_USER;
  const auto rules = m_host.PolicyOf(*user);
  auto* block = static_cast<BYTE*>(m_host.Buffers().Alloc(
      sizeof(VDFP_USER_INFO_4) + rules.size() * sizeof(ULONGLONG), "VDFPGetUserInfo"));
  if (!block) return E_OUTOFMEMORY;
  auto* info = reinterpret_cast<VDFP_USER_INFO_4*>(block);
  info->cRules = static_cast<DWORD>(rules.size());
  if (!rules.empty())
    std::memcpy(block + sizeof(VDFP_USER_INFO_4), rules.data(), rules.size() * sizeof(ULONGLONG));
  *ppInfo = info;
  return S_OK;
}

// ---- Protected data ---------------------------------------------------------------------------

HRESULT CClientLibrary::ReadProtectedData(LPCWSTR pwszSlot, const VDFP_DATA_BLOB* pEntropy, DWORD,
                                          VDFP_DATA_BLOB* pData) {
  m_host.Count("VDFPReadProtectedData");
  if (!pwszSlot || !pData) return E_POINTER;
  *pData = VDFP_DATA_BLOB{0, nullptr};
  if (HRESULT hr = Ready(); FAILED(hr)) return hr;
  std::vector<BYTE> entropy;
  if (pEntropy && pEntropy->pbData)
    entropy.assign(pEntropy->pbData, pEntropy->pbData + pEntropy->cbData);
  std::vector<BYTE> data;
  if (HRESULT hr = m_host.ReadSlot(pwszSlot, entropy, data); FAILED(hr)) return hr;
  auto* block = static_cast<BYTE*>(m_host.Buffers().Alloc(data.size(), "VDFPReadProtectedData"));
  if (!block) return E_OUTOFMEMORY;
  if (!data.empty()) std::memcpy(block, data.data(), data.size());
  pData->pbData = block;
  pData->cbData = static_cast<DWORD>(data.size());
  return S_OK;
}

HRESULT CClientLibrary::WriteProtectedData(LPCWSTR pwszSlot, const VDFP_DATA_BLOB* pEntropy,
                                           DWORD dwFlags, const VDFP_DATA_BLOB* pData) {
  m_host.Count("VDFPWriteProtectedData");
  if (!pwszSlot) return E_POINTER;
  if (HRESULT hr = Ready(); FAILED(hr)) return hr;
  std::vector<BYTE> entropy, data;
  if (pEntropy && pEntropy->pbData)
    entropy.assign(pEntropy->pbData, pEntropy->pbData + pEntropy->cbData);
  if (pData && pData->pbData) data.assign(pData->pbData, pData->pbData + pData->cbData);
  m_host.WriteSlot(pwszSlot, std::move(entropy), dwFlags, std::move(data));
  return S_OK;
}

// ---- Dialogs ----------------------------------------------------------------------------------

HRESULT CClientLibrary::IdentifyUserUI2(HWND, DWORD, DWORD, LPCWSTR, LPCWSTR, LPWSTR* ppwszSamName,
                                        HVDFPAUTHENTICATION* ph) {
  m_host.Count("VDFPIdentifyUserUI2");
  if (!ppwszSamName || !ph) return E_POINTER;
  *ppwszSamName = nullptr;
  *ph = nullptr;
  if (HRESULT hr = Ready(); FAILED(hr)) return hr;
  // The dialog runs the caller's messages while it is up, so the caller may call back into
  // the library meanwhile: no lock is held here. Its answer is read when it closes.
  m_site->RunModalLoop(m_host.IdentifyOpenMs());
  if (HRESULT hr = Ready(); FAILED(hr)) return hr;
  const DialogDesc d = m_host.Dialogs();
  if (d.identifyUser.empty()) return VDFP_E_CANCELLED;
  const auto user = m_host.FindUserByAnyName(d.identifyUser);
  if (!user) return VDFP_E_NO_SUCH_USER;
  LPWSTR name = AllocString(m_host.UserName(*user, VDFP_NAME_SAM), "VDFPIdentifyUserUI2");
  if (!name) return E_OUTOFMEMORY;
  std::lock_guard lk(m_mu);
  const std::uintptr_t id = m_nextHandle += 4;
  m_authentications[id] = Authentication{*user, VDFP_NAME_SAM, true};
  *ph = ToHandle<HVDFPAUTHENTICATION>(id);
  *ppwszSamName = name;
  return S_OK;
}

HRESULT CClientLibrary::VerifyUserUI(HWND, DWORD, DWORD, HVDFPAUTHENTICATION h) {
  m_host.Count("VDFPVerifyUserUI");
  if (HRESULT hr = Ready(); FAILED(hr)) return hr;
  const bool accepts = m_host.Dialogs().verifyAccepts;
  std::lock_guard lk(m_mu);
  auto it = m_authentications.find(FromHandle(h));
  if (it == m_authentications.end()) return E_HANDLE;
  if (!accepts) return VDFP_E_CANCELLED;
  it->second.authenticated = true;
  return S_OK;
}

}  // namespace vdfp_standin
