#include "auth/card_logic.h"

#include <utility>

#include "core/messages.h"
#include "support/result_error.h"
#include "support/settings/logon_settings.h"

namespace {

constexpr HRESULT kInvalidAccountName = HRESULT_FROM_WIN32(1315L);  // 0x80070523

// Session change codes (WM_WTSSESSION_CHANGE wParam).
constexpr WPARAM kConsoleConnect = 1;
constexpr WPARAM kConsoleDisconnect = 2;
constexpr WPARAM kRemoteConnect = 3;
constexpr WPARAM kRemoteDisconnect = 4;
constexpr WPARAM kSessionLock = 7;
constexpr WPARAM kSessionUnlock = 8;

// The card type standing for one logon credential bit; 0 for bits no card gives.
DWORD CardTypeOfCredential(ULONGLONG bit) {
  switch (bit) {
    case VDFP_CRED_SMARTCARD:
      return VD_CARD_SMARTCARD;
    case VDFP_CRED_CONTACTLESS:
      return VD_CARD_CONTACTLESS;
    case VDFP_CRED_PROXIMITY:
      return VD_CARD_PROXIMITY;
    default:
      return 0;
  }
}

}  // namespace

CCardLogic::CCardLogic(platform::IPlatform& plat, ICardHost& host)
    : m_plat(plat), m_host(host), m_library(plat) {}

CCardLogic::~CCardLogic() { Dispose(); }

const wchar_t* CCardLogic::EventText(WPARAM code) {
  switch (code) {
    case VDSC_EVENT_READER_CONNECTED:
      return L"Reader connected";
    case VDSC_EVENT_READER_DISCONNECTED:
      return L"Reader disconnected";
    case VDSC_EVENT_CARD_INSERTED:
      return L"Card inserted";
    case VDSC_EVENT_CARD_REMOVED:
      return L"Card removed";
    case VDSC_EVENT_CARD_READY:
      return L"Card ready (multiplexer)";
    default:
      return L"Unknown";
  }
}

// ---- Events ------------------------------------------------------------------------------

void CCardLogic::OnReady() {
  VDTraceNS::CScope ts("CCardHandler<class CVdAgentMain>::OnReady");
  if (m_disposed) return;
  try {
    Subscribe();
    Unlock();
  } catch (...) {
    ts.Result("OnReady", CaughtResult(m_plat.Kernel()));
  }
}

void CCardLogic::OnSessionChange(WPARAM code) {
  VDTraceNS::CScope ts("CCardHandler<class CVdAgentMain>::OnSessionChange");
  if (m_disposed) return;
  try {
    switch (code) {
      case kConsoleConnect:
      case kRemoteConnect:
      case kSessionUnlock:
        Unlock();
        break;
      case kConsoleDisconnect:
      case kRemoteDisconnect:
      case kSessionLock:
        Lock();
        break;
      default:
        break;
    }
  } catch (...) {
    ts.Result("OnSessionChange", CaughtResult(m_plat.Kernel()));
  }
}

void CCardLogic::OnCardMessage(WPARAM code, LPARAM lParam) {
  VDTraceNS::CScope ts("CCardHandler<class CVdAgentMain>::OnCardMessage");
  // The name lives only as long as the message: keep a copy before anything else runs.
  const auto* name = reinterpret_cast<const wchar_t*>(lParam);
  const std::wstring reader = name ? name : L"";
  ts.Msg(L"Event: '%ls', reader: '%ls'.", EventText(code), name ? reader.c_str() : L"Unknown");
  // Every event is about one reader: one without a name (a forged or broken message) has
  // nothing to act on.
  if (!name || m_disposed) return;
  try {
    switch (code) {
      case VDSC_EVENT_READER_CONNECTED:
        m_readers.try_emplace(reader);
        break;
      case VDSC_EVENT_READER_DISCONNECTED:
        m_readers.erase(reader);
        break;
      case VDSC_EVENT_CARD_INSERTED:
        OnCardInserted(reader, ts);
        break;
      case VDSC_EVENT_CARD_REMOVED:
        OnCardRemovedEvent(reader, ts);
        break;
      case VDSC_EVENT_CARD_READY:
        OnCardReadyEvent(reader, ts);
        break;
      default:
        break;  // traced only
    }
  } catch (...) {
    ts.Result("OnCardMessage", CaughtResult(m_plat.Kernel()));
  }
}

void CCardLogic::OnCardInserted(const std::wstring& reader, const VDTraceNS::CScope& ts) {
  CBstrOut description(m_plat.Com());
  VDSC_CARD_INFO info{};
  info.dwVersion = VDSC_CARD_INFO_VERSION;
  const HRESULT hr = m_library.VDSCGetCardInfo(reader.c_str(), description.put(), &info);
  ts.Result("GetCardInfo", hr);
  if (FAILED(hr)) return;  // the reader keeps what it had
  ts.Msg(L"Card Type: %ls", CCredential::CardTypeName(info.dwCardType));
  m_readers[reader] = {info.dwCardType, info.dwCardId, info.dwField3, info.dwField4};
  m_host.StartCapture();
}

void CCardLogic::OnCardRemovedEvent(const std::wstring& reader, const VDTraceNS::CScope& ts) {
  const CCardRecord record = RecordOf(reader);
  ts.Msg(L"Card type: %ls", CCredential::CardTypeName(record.cardType));
  if (record.cardType != VDSC_CARD_NONE)
    ScheduleCheck(kRemovalCheckMs, [this, reader, record] { RemovalCheck(reader, record); });
  m_readers[reader] = CCardRecord{};
}

void CCardLogic::OnCardReadyEvent(const std::wstring& reader, const VDTraceNS::CScope& ts) {
  if (!m_host.CanStartAction()) {
    ts.Msg("Action is in progress or disabled. Ignored");
    return;
  }
  if (m_suspended) return;
  const CCardRecord record = RecordOf(reader);
  if (record.cardType != VDSC_CARD_NONE)
    ScheduleCheck(kReadyCheckMs, [this, reader, record] { ReadyCheck(reader, record); });
}

// ---- Checks --------------------------------------------------------------------------------

UINT CCardLogic::ScheduleCheck(UINT delayMs, std::function<void()> check) {
  const UINT id = m_host.Schedule(delayMs, [this, check = std::move(check)](UINT self) {
    m_pending.erase(self);
    if (!m_disposed) check();
    return true;  // once
  });
  m_pending.insert(id);
  return id;
}

void CCardLogic::ReadyCheck(const std::wstring& reader, const CCardRecord& record) {
  VDTraceNS::CScope ts("[OnCardMessage](READY)");
  if (!RecordOf(reader).SameCard(record)) return;
  ts.Msg(L"Card type: %ls", CCredential::CardTypeName(record.cardType));
  m_host.Post([this, reader, record] {
    VDTraceNS::CScope task("[OnCardMessage](OnCardReady)");
    if (m_disposed) return;
    m_host.OnCardReady(reader, record);
  });
}

void CCardLogic::RemovalCheck(const std::wstring& reader, const CCardRecord& record) {
  VDTraceNS::CScope ts("[OnCardMessage](REMOVED)");
  if (RecordOf(reader).SameCard(record)) {
    ts.Msg("Card was quickly replaced back, no action");
    return;
  }
  m_host.OnCardRemoved(record);
}

void CCardLogic::PresenceCheck(ULONGLONG mask) {
  VDTraceNS::CScope ts("[CCardHandler::Unlock]()");
  m_presenceCheck = 0;
  m_suspended = false;
  if (mask == 0) return;
  ts.Msg("Logged in with a card, scanning for presence");
  for (int bit = 63; bit >= 0; --bit) {
    const ULONGLONG credential = ULONGLONG{1} << bit;
    if (!(mask & credential)) continue;
    // By the credential each card stands for, so an NFC tag counts as the contactless card
    // it logs on as.
    bool present = false;
    for (const auto& [name, card] : m_readers)
      if (card.cardType != VDSC_CARD_NONE &&
          CCredential::CardTypeToCredential(card.cardType) == credential)
        present = true;
    if (present) continue;
    const DWORD cardType = CardTypeOfCredential(credential);
    ts.Msg(
        L"No card of type '%ls' was detected. Probably the card was removed before VdAgent "
        L"started.",
        CCredential::CardTypeName(cardType));
    m_host.OnCardRemoved(CCardRecord{cardType, 0, 0, 0});
  }
}

CCardRecord CCardLogic::RecordOf(const std::wstring& reader) const {
  auto it = m_readers.find(reader);
  return it == m_readers.end() ? CCardRecord{} : it->second;
}

// ---- Subscription and suspension -----------------------------------------------------------

HRESULT CCardLogic::Subscribe() {
  VDTraceNS::CScope ts("CCardHandler<class CVdAgentMain>::Subscribe");
  HRESULT hr = m_library.Load();
  if (FAILED(hr)) return ts.Result("Load VDSCApi", hr);
  if (m_library.IsInitialised()) return S_FALSE;
  const VDSC_INIT init{VDSC_INIT_VERSION, m_host.Window(), core::WM_VD_CARD, VDSC_INIT_EVENTS};
  hr = m_library.VDSCInit(&init);
  return ts.Result("VDSCInit", hr);
}

void CCardLogic::Unsubscribe() {
  VDTraceNS::CScope ts("CCardHandler<class CVdAgentMain>::Unsubscribe");
  ts.Result("VDSCTerm", m_library.VDSCTerm());
  m_library.Unload();
  m_readers.clear();
}

void CCardLogic::Lock() {
  VDTraceNS::CScope ts("CCardHandler<class CVdAgentMain>::Lock");
  m_suspended = true;
}

void CCardLogic::Unlock() {
  VDTraceNS::CScope ts("CCardHandler<class CVdAgentMain>::Unlock");
  m_suspended = true;
  const ULONGLONG mask = LogonSettings(m_plat).GetUlong64() & kCardCredentials;
  // One check after the latest unlock: an earlier one would report the same card twice.
  if (m_presenceCheck) {
    m_host.CancelSchedule(m_presenceCheck);
    m_pending.erase(m_presenceCheck);
  }
  m_presenceCheck = ScheduleCheck(kPresenceCheckMs, [this, mask] { PresenceCheck(mask); });
}

void CCardLogic::Dispose() {
  if (m_disposed) return;
  VDTraceNS::CScope ts("CCardHandler<class CVdAgentMain>::Dispose");
  try {
    Lock();
    Unsubscribe();
  } catch (...) {
    ts.Result("Dispose", CaughtResult(m_plat.Kernel()));
  }
  m_disposed = true;
  for (UINT id : std::exchange(m_pending, {})) m_host.CancelSchedule(id);
  m_presenceCheck = 0;
}

// ---- Identity operations -------------------------------------------------------------------

bool CCardLogic::VerifyUser(CVDFPApi& api, const CUser& user, const CCredential& credential) {
  VDTraceNS::CScope ts("CCardHandler<class CVdAgentMain>::VerifyUser");
  if (!user.IsValid()) {
    ts.Result("Invalid user", kInvalidAccountName);
    return false;
  }
  ts.Msg(L"Verifying user = %ls", user.ToString().c_str());
  const std::wstring name = user.AccountName();
  const HRESULT hr = api.VDFPTokenIsEnrolled(CCredential::TokenTypeOf(credential.Type()),
                                             name.c_str(), user.NameFormat());
  if (FAILED(hr)) {
    ts.Result("Querying enrollment", hr);
    return false;
  }
  ts.Msg(L"Token is %ls", hr == S_OK ? L"enrolled" : L"NOT enrolled");
  return hr == S_OK;
}

CUser CCardLogic::IdentifyUser(CVDSCApi& cards, CVDFPApi& api, const std::wstring& reader) {
  VDTraceNS::CScope ts("CCardHandler<class CVdAgentMain>::IdentifyUser");
  CBstrOut name(cards.Platform().Com());
  const HRESULT hr = cards.VDSCTokenIdentify(reader.c_str(), VDSC_NAME_SAM, name.put());
  ts.Result("VDSCTokenIdentify", hr);
  if (hr != S_OK || name.empty()) return {};
  ts.Msg(L"User '%ls' is detected", name.get());
  CUser user(api, name.get(), VDSC_NAME_SAM);
  if (!user.IsValid()) {
    ts.Result("Invalid user", kInvalidAccountName);
    return {};
  }
  return user;
}

HVDFPAUTHENTICATION CCardLogic::Authenticate(CVDSCApi& cards, CVDFPApi& api, HWND window,
                                             const std::wstring& reader, const CUser& user,
                                             const CCredential& credential) {
  VDTraceNS::CScope ts("CCardHandler<class CVdAgentMain>::Authenticate");
  if (!user.IsValid()) {
    ts.Result("Invalid user", kInvalidAccountName);
    return nullptr;
  }
  CVDFPAuthentication operation(api);
  const std::wstring name = user.AccountName();
  HRESULT hr = api.VDFPCreateAuthentication(name.c_str(), user.NameFormat(), operation.put());
  if (FAILED(hr) || !operation) {
    ts.Result("VDFPCreateAuthentication", FAILED(hr) ? hr : E_HANDLE);
    return nullptr;
  }
  if (credential.Type() == VDFP_CRED_SMARTCARD) {
    // A smart card proves itself with its PIN, in the library's own dialog.
    hr = api.VDFPVerifyUserUI(window, 0, 0, operation.get());
    ts.Result("VDFPVerifyUserUI", hr);
  } else {
    hr = cards.VDSCTokenAuthenticate(operation.get(), reader.c_str(), 0);
    ts.Result("VDSCTokenAuthenticate", hr);
  }
  if (FAILED(hr)) return nullptr;  // the operation is destroyed on the way out
  return operation.release();
}
