#include "standins/vdfpapi/host.h"

#include "standins/vdfpapi/client.h"

namespace vdfp_standin {

namespace {
std::wstring SlotKey(const std::wstring& slot) {
  std::wstring k = slot;
  for (auto& c : k)
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
  return k;
}
}  // namespace

CHostService::CHostService(VdfpDescription desc, IHostSite& site)
    : m_site(site), m_desc(std::move(desc)) {
  for (auto& u : m_desc.users) CompleteUserNames(u, m_desc.computerName, m_desc.dnsDomain);
  for (const auto& s : m_desc.protectedData) m_slots[SlotKey(s.slot)] = s;
  if (m_desc.hostRunning) Start();
}

CHostService::~CHostService() = default;

// ---- Running ----------------------------------------------------------------------------------

void CHostService::Start() {
  if (m_running.exchange(true)) return;
  m_site.HostStateChanged(true);
}

void CHostService::Stop() {
  if (!m_running.exchange(false)) return;
  m_site.HostStateChanged(false);
}

void CHostService::StartAfter(ULONGLONG delayMs) {
  m_site.RunLater(delayMs, [this] { Start(); });
}

// ---- Driving ----------------------------------------------------------------------------------

VDFP_CAPTURE CHostService::TouchFinger(const std::wstring& user) {
  VDFP_CAPTURE capture;
  {
    std::lock_guard lk(m_mu);
    bool reader = false;
    for (const auto& r : m_desc.readers)
      reader = reader || (r.connected && (r.mask & VDFP_CRED_FINGERPRINT));
    if (!m_running || !reader) return 0;
    std::optional<std::size_t> owner;
    for (std::size_t i = 0; i < m_desc.users.size() && !owner; ++i) {
      const UserDesc& u = m_desc.users[i];
      if (!(u.enrolled & VDFP_CRED_FINGERPRINT)) continue;
      if (EqualNoCase(u.name, user)) owner = i;
      for (const auto& [format, name] : u.names)
        if (EqualNoCase(name, user)) owner = i;
    }
    capture = m_nextCapture++;
    m_captures[capture] = owner;
  }
  for (const auto& c : Clients())
    c->SendToRunning({{VDFP_WN_FINGER_TOUCHED, 0},
                      {VDFP_WN_IMAGE_READY, 0},
                      {VDFP_WN_COMPLETED, static_cast<LPARAM>(capture)}});
  return capture;
}

void CHostService::PostReaderEvent(WPARAM code, LPARAM data) {
  if (!m_running) return;
  for (const auto& c : Clients()) c->SendToRunning({{code, data}});
}

void CHostService::ReaderChanged(std::size_t index, bool connected) {
  {
    std::lock_guard lk(m_mu);
    if (index >= m_desc.readers.size() || m_desc.readers[index].connected == connected) return;
    m_desc.readers[index].connected = connected;
  }
  if (!m_running) return;
  for (const auto& c : Clients())
    c->SendToAll(connected ? VDFP_WN_RECONNECT : VDFP_WN_DISCONNECT, 0);
}

void CHostService::DisconnectReader(std::size_t index) { ReaderChanged(index, false); }
void CHostService::ReconnectReader(std::size_t index) { ReaderChanged(index, true); }

bool CHostService::SetEnrolled(const std::wstring& user, ULONGLONG mask, bool enrolled) {
  const auto i = FindUserByAnyName(user);
  if (!i) return false;
  std::lock_guard lk(m_mu);
  auto& e = m_desc.users[*i].enrolled;
  e = enrolled ? (e | mask) : (e & ~mask);
  return true;
}

bool CHostService::SetPolicy(const std::wstring& user, std::vector<ULONGLONG> rules) {
  const auto i = FindUserByAnyName(user);
  if (!i) return false;
  std::lock_guard lk(m_mu);
  m_desc.users[*i].policy = std::move(rules);
  return true;
}

void CHostService::SetDefaultPolicy(std::vector<ULONGLONG> rules) {
  std::lock_guard lk(m_mu);
  m_desc.defaultPolicy = std::move(rules);
}

void CHostService::SetPolicySetting(PolicySettingDesc setting) {
  std::lock_guard lk(m_mu);
  for (auto& p : m_desc.policySettings) {
    if (EqualNoCase(p.name, setting.name)) {
      p = std::move(setting);
      return;
    }
  }
  m_desc.policySettings.push_back(std::move(setting));
}

void CHostService::RemovePolicySetting(const std::wstring& name) {
  std::lock_guard lk(m_mu);
  std::erase_if(m_desc.policySettings,
                [&](const PolicySettingDesc& p) { return EqualNoCase(p.name, name); });
}

void CHostService::SetDialogs(DialogDesc dialogs) {
  std::lock_guard lk(m_mu);
  m_desc.dialogs = std::move(dialogs);
}

bool CHostService::SetDomainState(const std::wstring& name, DWORD state) {
  std::lock_guard lk(m_mu);
  for (auto& d : m_desc.domains) {
    if (EqualNoCase(d.name, name)) {
      d.state = state;
      return true;
    }
  }
  return false;
}

void CHostService::SetProtectedData(SlotDesc slot) {
  std::lock_guard lk(m_mu);
  m_slots[SlotKey(slot.slot)] = std::move(slot);
}

void CHostService::SetAsyncReplyDelay(ULONGLONG ms) {
  std::lock_guard lk(m_mu);
  m_desc.asyncReplyDelayMs = ms;
}

void CHostService::SetTokenAuthenticateReply(std::optional<std::vector<BYTE>> reply) {
  std::lock_guard lk(m_mu);
  m_tokenReply = std::move(reply);
}

std::optional<std::vector<BYTE>> CHostService::TokenAuthenticateReply() const {
  std::lock_guard lk(m_mu);
  return m_tokenReply;
}

void CHostService::NoteTokenAuthenticateRequest(std::vector<BYTE> request) {
  std::lock_guard lk(m_mu);
  m_lastTokenRequest = std::move(request);
}

std::vector<BYTE> CHostService::LastTokenAuthenticateRequest() const {
  std::lock_guard lk(m_mu);
  return m_lastTokenRequest;
}

// ---- Looking in -------------------------------------------------------------------------------

unsigned CHostService::CallCount(const std::string& operation) const {
  std::lock_guard lk(m_mu);
  auto it = m_calls.find(operation);
  return it == m_calls.end() ? 0 : it->second;
}

std::optional<SlotDesc> CHostService::ProtectedData(const std::wstring& slot) const {
  std::lock_guard lk(m_mu);
  auto it = m_slots.find(SlotKey(slot));
  if (it == m_slots.end()) return std::nullopt;
  return it->second;
}

std::vector<AcquisitionInfo> CHostService::Acquisitions() const {
  std::vector<AcquisitionInfo> all;
  for (const auto& c : Clients()) {
    auto a = c->Acquisitions();
    all.insert(all.end(), a.begin(), a.end());
  }
  return all;
}

std::size_t CHostService::OutstandingAsyncCalls() const {
  std::size_t n = 0;
  for (const auto& c : Clients()) n += c->OutstandingAsyncCalls();
  return n;
}

std::size_t CHostService::OutstandingAuthentications() const {
  std::size_t n = 0;
  for (const auto& c : Clients()) n += c->OutstandingAuthentications();
  return n;
}

// ---- For the client library -------------------------------------------------------------------

void CHostService::Attach(const std::shared_ptr<CClientLibrary>& client) {
  std::lock_guard lk(m_mu);
  std::erase_if(m_clients, [](const auto& w) { return w.expired(); });
  m_clients.push_back(client);
}

std::vector<std::shared_ptr<CClientLibrary>> CHostService::Clients() const {
  std::lock_guard lk(m_mu);
  std::vector<std::shared_ptr<CClientLibrary>> out;
  for (const auto& w : m_clients)
    if (auto c = w.lock()) out.push_back(std::move(c));
  return out;
}

void CHostService::Count(const char* operation) {
  std::lock_guard lk(m_mu);
  ++m_calls[operation];
}

ULONGLONG CHostService::AsyncReplyDelayMs() const {
  std::lock_guard lk(m_mu);
  return m_desc.asyncReplyDelayMs;
}

std::optional<std::size_t> CHostService::FindUser(const std::wstring& name, DWORD format) const {
  if (format < VDFP_NAME_NETBIOS || format > VDFP_NAME_VD || name.empty()) return std::nullopt;
  std::lock_guard lk(m_mu);
  for (std::size_t i = 0; i < m_desc.users.size(); ++i) {
    auto it = m_desc.users[i].names.find(format);
    if (it != m_desc.users[i].names.end() && EqualNoCase(it->second, name)) return i;
  }
  return std::nullopt;
}

std::optional<std::size_t> CHostService::FindUserByAnyName(const std::wstring& name) const {
  std::lock_guard lk(m_mu);
  for (std::size_t i = 0; i < m_desc.users.size(); ++i) {
    if (EqualNoCase(m_desc.users[i].name, name)) return i;
    for (const auto& [format, n] : m_desc.users[i].names)
      if (EqualNoCase(n, name)) return i;
  }
  return std::nullopt;
}

std::wstring CHostService::UserName(std::size_t user, DWORD format) const {
  std::lock_guard lk(m_mu);
  if (user >= m_desc.users.size()) return {};
  auto it = m_desc.users[user].names.find(format);
  return it == m_desc.users[user].names.end() ? std::wstring() : it->second;
}

ULONGLONG CHostService::Enrolled(std::size_t user) const {
  std::lock_guard lk(m_mu);
  return user < m_desc.users.size() ? m_desc.users[user].enrolled : 0;
}

std::vector<ULONGLONG> CHostService::PolicyOf(std::size_t user) const {
  std::lock_guard lk(m_mu);
  if (user < m_desc.users.size() && m_desc.users[user].policy) return *m_desc.users[user].policy;
  return m_desc.defaultPolicy;
}

std::vector<TokenTypeDesc> CHostService::Tokens() const {
  std::lock_guard lk(m_mu);
  return m_desc.tokens;
}

std::optional<TokenTypeDesc> CHostService::Token(const GUID& type) const {
  std::lock_guard lk(m_mu);
  for (const auto& t : m_desc.tokens)
    if (t.guid == type) return t;
  return std::nullopt;
}

std::vector<ReaderDesc> CHostService::Readers() const {
  std::lock_guard lk(m_mu);
  return m_desc.readers;
}

std::vector<DomainDesc> CHostService::Domains() const {
  std::lock_guard lk(m_mu);
  return m_desc.domains;
}

std::optional<PolicySettingDesc> CHostService::PolicySetting(const std::wstring& name) const {
  std::lock_guard lk(m_mu);
  for (const auto& p : m_desc.policySettings)
    if (EqualNoCase(p.name, name)) return p;
  return std::nullopt;
}

DialogDesc CHostService::Dialogs() const {
  std::lock_guard lk(m_mu);
  return m_desc.dialogs;
}

std::optional<std::optional<std::size_t>> CHostService::CaptureOwner(VDFP_CAPTURE capture) const {
  std::lock_guard lk(m_mu);
  auto it = m_captures.find(capture);
  if (it == m_captures.end()) return std::nullopt;
  return it->second;
}

HRESULT CHostService::ReadSlot(const std::wstring& slot, const std::vector<BYTE>& entropy,
                               std::vector<BYTE>& data) const {
  std::lock_guard lk(m_mu);
  auto it = m_slots.find(SlotKey(slot));
  if (it == m_slots.end()) return VDFP_E_NOT_FOUND;
  if (it->second.entropy && *it->second.entropy != entropy) return VDFP_E_INVALID_DATA;
  data = it->second.data;
  return S_OK;
}

void CHostService::WriteSlot(const std::wstring& slot, std::vector<BYTE> entropy, DWORD flags,
                             std::vector<BYTE> data) {
  std::lock_guard lk(m_mu);
  if (data.empty()) {
    m_slots.erase(SlotKey(slot));
    return;
  }
  m_slots[SlotKey(slot)] = SlotDesc{slot, std::move(data), std::move(entropy), flags};
}

}  // namespace vdfp_standin
