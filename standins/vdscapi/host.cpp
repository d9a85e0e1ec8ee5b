#include "standins/vdscapi/host.h"

#include <algorithm>

namespace vdsc_standin {

using vdfp_standin::EqualNoCase;
using vdfp_standin::WideToUtf8;

CCardHost::CCardHost(CardsDescription desc, vdfp_standin::CHostService& users, ICardSite& site)
    : m_users(users), m_site(site), m_cards(std::move(desc.cards)) {
  for (auto& r : desc.readers) m_readers.push_back({std::move(r.name), r.kind, r.connected, {}});
  for (std::size_t i = 0; i < m_cards.size(); ++i) {
    CardDesc& c = m_cards[i];
    if (c.reader.empty()) continue;
    // A description built in code is not checked as a parsed one is: a reader it forgot is
    // added, and of two cards put in one reader the later one stays.
    Reader* r = FindReader(c.reader);
    if (!r) {
      m_readers.push_back({c.reader, ReaderKind::Multiplexing, true, {}});
      r = &m_readers.back();
    }
    if (r->card) m_cards[*r->card].reader.clear();
    r->card = i;
    c.reader = r->name;
  }
}

CCardHost::Reader* CCardHost::FindReader(const std::wstring& name) {
  for (auto& r : m_readers)
    if (EqualNoCase(r.name, name)) return &r;
  return nullptr;
}

const CCardHost::Reader* CCardHost::FindReader(const std::wstring& name) const {
  return const_cast<CCardHost*>(this)->FindReader(name);
}

std::optional<std::size_t> CCardHost::FindCard(const std::wstring& name) const {
  for (std::size_t i = 0; i < m_cards.size(); ++i)
    if (EqualNoCase(m_cards[i].name, name)) return i;
  for (std::size_t i = 0; i < m_cards.size(); ++i)
    if (std::to_wstring(m_cards[i].id) == name) return i;
  return std::nullopt;
}

void CCardHost::QueueEvent(WPARAM event, const Reader& r, std::vector<Post>& out) const {
  for (const auto& [pid, s] : m_subscribers)
    if (s.window)
      out.push_back({pid, s.window, s.message, event, reinterpret_cast<LPARAM>(r.name.c_str())});
}

void CCardHost::QueueCardEvents(const Reader& r, std::vector<Post>& out) const {
  QueueEvent(VDSC_EVENT_CARD_INSERTED, r, out);
  if (r.kind == ReaderKind::Multiplexing) QueueEvent(VDSC_EVENT_CARD_READY, r, out);
}

void CCardHost::Send(const std::vector<Post>& posts) {
  // Outside the lock: a binding may run the receiver's code on the way.
  for (const auto& p : posts)
    m_site.PostMessageW(p.processId, p.window, p.message, p.event, p.reader);
}

// ---- Driving ------------------------------------------------------------------------------

void CCardHost::PlugReader(const std::wstring& reader) {
  if (reader.empty()) throw CardError("a reader needs a name");
  std::vector<Post> posts;
  {
    std::lock_guard lk(m_mu);
    Reader* r = FindReader(reader);
    if (!r) {
      m_readers.push_back({reader, ReaderKind::Multiplexing, false, {}});
      r = &m_readers.back();
    }
    if (r->connected) return;
    r->connected = true;
    QueueEvent(VDSC_EVENT_READER_CONNECTED, *r, posts);
    if (r->card) QueueCardEvents(*r, posts);
  }
  Send(posts);
}

void CCardHost::UnplugReader(const std::wstring& reader) {
  std::vector<Post> posts;
  {
    std::lock_guard lk(m_mu);
    Reader* r = FindReader(reader);
    if (!r) throw CardError("no card reader \"" + WideToUtf8(reader) + "\"");
    if (!r->connected) return;
    r->connected = false;
    if (r->card) QueueEvent(VDSC_EVENT_CARD_REMOVED, *r, posts);
    QueueEvent(VDSC_EVENT_READER_DISCONNECTED, *r, posts);
  }
  Send(posts);
}

std::wstring CCardHost::Insert(const std::wstring& reader, const std::wstring& card) {
  std::vector<Post> posts;
  std::wstring inserted;
  {
    std::lock_guard lk(m_mu);
    Reader* r = FindReader(reader);
    if (!r) throw CardError("no card reader \"" + WideToUtf8(reader) + "\"");
    if (!r->connected) throw CardError("card reader \"" + WideToUtf8(reader) + "\" is unplugged");
    if (r->card)
      throw CardError("card reader \"" + WideToUtf8(reader) + "\" holds card \"" +
                      WideToUtf8(m_cards[*r->card].name) + "\" already");
    std::optional<std::size_t> c;
    if (card.empty()) {
      for (std::size_t i = 0; i < m_cards.size() && !c; ++i)
        if (m_cards[i].reader.empty()) c = i;
      if (!c) throw CardError("every card is in a reader");
    } else {
      c = FindCard(card);
      if (!c) throw CardError("no card \"" + WideToUtf8(card) + "\"");
      if (!m_cards[*c].reader.empty())
        throw CardError("card \"" + WideToUtf8(card) + "\" is in reader \"" +
                        WideToUtf8(m_cards[*c].reader) + "\"");
    }
    m_cards[*c].reader = r->name;
    r->card = c;
    inserted = m_cards[*c].name;
    QueueCardEvents(*r, posts);
  }
  Send(posts);
  return inserted;
}

std::wstring CCardHost::Remove(const std::wstring& reader) {
  std::vector<Post> posts;
  std::wstring name;
  {
    std::lock_guard lk(m_mu);
    Reader* r = FindReader(reader);
    if (!r) throw CardError("no card reader \"" + WideToUtf8(reader) + "\"");
    if (!r->card) throw CardError("card reader \"" + WideToUtf8(reader) + "\" is empty");
    CardDesc& c = m_cards[*r->card];
    name = c.name;
    c.reader.clear();
    r->card.reset();
    if (r->connected) QueueEvent(VDSC_EVENT_CARD_REMOVED, *r, posts);
  }
  Send(posts);
  return name;
}

void CCardHost::Tap(const std::wstring& reader, const std::wstring& card, ULONGLONG holdMs) {
  const std::wstring tapped = Insert(reader, card);
  m_site.RunLater(holdMs, [this, reader, tapped] {
    // Taken out (or swapped) meanwhile: that removal was the card's leaving.
    if (CardIn(reader) != tapped) return;
    try {
      Remove(reader);
    } catch (const CardError&) {
      // Removed between the look and the removal: nothing is left to do.
    }
  });
}

// ---- Looking in ---------------------------------------------------------------------------

std::vector<CardReaderDesc> CCardHost::Readers() const {
  std::lock_guard lk(m_mu);
  std::vector<CardReaderDesc> out;
  for (const auto& r : m_readers) out.push_back({r.name, r.kind, r.connected});
  return out;
}

std::optional<std::wstring> CCardHost::CardIn(const std::wstring& reader) const {
  std::lock_guard lk(m_mu);
  const Reader* r = FindReader(reader);
  if (!r || !r->card) return std::nullopt;
  return m_cards[*r->card].name;
}

std::optional<Subscriber> CCardHost::SubscriberOf(DWORD processId) const {
  std::lock_guard lk(m_mu);
  auto it = m_subscribers.find(processId);
  if (it == m_subscribers.end()) return std::nullopt;
  return it->second;
}

unsigned CCardHost::CallCount(const std::string& entryPoint) const {
  std::lock_guard lk(m_mu);
  auto it = m_calls.find(entryPoint);
  return it == m_calls.end() ? 0 : it->second;
}

void CCardHost::Count(const char* entryPoint) {
  std::lock_guard lk(m_mu);
  ++m_calls[entryPoint];
}

// ---- Entry points -------------------------------------------------------------------------

HRESULT CCardHost::Init(DWORD processId, const VDSC_INIT* pInit) {
  Count("VDSCInit");
  if (!pInit) return E_POINTER;
  if (pInit->dwVersion != VDSC_INIT_VERSION) return E_INVALIDARG;
  const bool events = (pInit->dwFlags & VDSC_INIT_EVENTS) != 0;
  if (events && !pInit->hWnd) return E_INVALIDARG;
  std::vector<Post> posts;
  {
    std::lock_guard lk(m_mu);
    Subscriber& s = m_subscribers[processId];
    ++s.initCount;
    // The latest initialisation says where the process's events go.
    s.window = events ? pInit->hWnd : nullptr;
    s.message = events ? pInit->uMessage : 0;
    if (events) {
      // The cards already in plugged readers, to this subscriber only.
      for (const auto& r : m_readers) {
        if (!r.connected || !r.card) continue;
        const LPARAM name = reinterpret_cast<LPARAM>(r.name.c_str());
        posts.push_back({processId, s.window, s.message, VDSC_EVENT_CARD_INSERTED, name});
        if (r.kind == ReaderKind::Multiplexing)
          posts.push_back({processId, s.window, s.message, VDSC_EVENT_CARD_READY, name});
      }
    }
  }
  Send(posts);
  return S_OK;
}

HRESULT CCardHost::Term(DWORD processId) {
  Count("VDSCTerm");
  std::lock_guard lk(m_mu);
  auto it = m_subscribers.find(processId);
  if (it == m_subscribers.end()) return VDFP_E_NOT_INITIALIZED;
  // Initialisations nest: only the last end stops the process's events.
  if (--it->second.initCount == 0) m_subscribers.erase(it);
  return S_OK;
}

HRESULT CCardHost::CardForCall(LPCWSTR pwszReader, std::size_t& card) const {
  if (!pwszReader) return E_POINTER;
  const Reader* r = FindReader(pwszReader);
  if (!r) return kUnknownReader;
  if (!r->connected) return kReaderUnavailable;
  if (!r->card) return kNoCard;
  card = *r->card;
  return S_OK;
}

HRESULT CCardHost::GetCardInfo(DWORD processId, LPCWSTR pwszReader, BSTR* pbstrDescription,
                               VDSC_CARD_INFO* pInfo) {
  Count("VDSCGetCardInfo");
  if (pbstrDescription) *pbstrDescription = nullptr;
  if (!pInfo) return E_POINTER;
  if (pInfo->dwVersion != VDSC_CARD_INFO_VERSION) return E_INVALIDARG;
  std::wstring text;
  HRESULT hr;
  {
    std::lock_guard lk(m_mu);
    if (m_subscribers.find(processId) == m_subscribers.end()) return VDFP_E_NOT_INITIALIZED;
    std::size_t c = 0;
    hr = CardForCall(pwszReader, c);
    if (SUCCEEDED(hr)) {
      const CardDesc& card = m_cards[c];
      pInfo->dwCardType = card.type;
      pInfo->dwCardId = card.id;
      pInfo->dwField3 = card.site;
      pInfo->dwField4 = card.generation;
      std::fill(std::begin(pInfo->reserved), std::end(pInfo->reserved), BYTE{0});
      text = card.description.empty()
                 ? CardTypeText(card.type) + L" card " + std::to_wstring(card.id)
                 : card.description;
    } else if (hr == kNoCard) {
      // The text comes with the failure too: a caller must free it whatever the result.
      text = L"No card in " + std::wstring(pwszReader);
    }
  }
  if (pbstrDescription && !text.empty()) {
    *pbstrDescription = m_site.AllocString(text);
    if (!*pbstrDescription && SUCCEEDED(hr)) return E_OUTOFMEMORY;
  }
  return hr;
}

HRESULT CCardHost::TokenIdentify(DWORD processId, LPCWSTR pwszReader, DWORD dwNameFormat,
                                 BSTR* pbstrUserName) {
  Count("VDSCTokenIdentify");
  if (!pbstrUserName) return E_POINTER;
  *pbstrUserName = nullptr;
  // Only the SAM form is offered.
  if (dwNameFormat != VDSC_NAME_SAM) return E_INVALIDARG;
  CardDesc card;
  {
    std::lock_guard lk(m_mu);
    if (m_subscribers.find(processId) == m_subscribers.end()) return VDFP_E_NOT_INITIALIZED;
    std::size_t c = 0;
    if (HRESULT hr = CardForCall(pwszReader, c); FAILED(hr)) return hr;
    card = m_cards[c];
  }
  const ULONGLONG credential = CardCredential(card.type);
  const auto owner = card.owner.empty() ? std::nullopt : m_users.FindUserByAnyName(card.owner);
  // A card is somebody's only once its owner enrolled a token of its kind.
  if (!owner || credential == 0 || (m_users.Enrolled(*owner) & credential) == 0)
    return VDFP_E_NONE_MAPPED;
  const std::wstring name = m_users.UserName(*owner, VDFP_NAME_SAM);
  if (name.empty()) return VDFP_E_NONE_MAPPED;
  *pbstrUserName = m_site.AllocString(name);
  return *pbstrUserName ? S_OK : E_OUTOFMEMORY;
}

HRESULT CCardHost::TokenAuthenticate(DWORD processId, HVDFPAUTHENTICATION hAuthentication,
                                     LPCWSTR pwszReader, DWORD dwFlags) {
  Count("VDSCTokenAuthenticate");
  if (dwFlags != 0) return E_INVALIDARG;
  CardDesc card;
  {
    std::lock_guard lk(m_mu);
    if (m_subscribers.find(processId) == m_subscribers.end()) return VDFP_E_NOT_INITIALIZED;
    std::size_t c = 0;
    if (HRESULT hr = CardForCall(pwszReader, c); FAILED(hr)) return hr;
    card = m_cards[c];
  }
  const auto user = m_site.AuthenticationUser(processId, hAuthentication);
  if (!user) return E_HANDLE;
  const auto owner = card.owner.empty() ? std::nullopt : m_users.FindUserByAnyName(card.owner);
  return owner && *owner == *user ? S_OK : VDFP_E_LOGON_FAILURE;
}

HRESULT CCardHost::NotImplemented(const char* entryPoint) {
  Count(entryPoint);
  return E_NOTIMPL;
}

}  // namespace vdsc_standin
