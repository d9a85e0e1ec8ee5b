#include "actions/card_actions.h"

#include "actions/quick_action_select.h"
#include "auth/card_logic.h"
#include "auth/credential.h"
#include "platform/handles.h"
#include "support/editions/editions.h"
#include "support/result_error.h"
#include "support/settings/logon_settings.h"
#include "support/settings/policy_settings.h"
#include "support/trace/trace.h"

namespace {

constexpr DWORD kNoSession = 0xFFFFFFFF;
constexpr LONG kPendingLock = QUICKACTIONS::LockWorkstation;

bool IsContactlessKind(DWORD cardType) {
  return cardType == VD_CARD_CONTACTLESS || cardType == VD_CARD_PROXIMITY ||
         cardType == VD_CARD_NFC;
}

}  // namespace

void CCardActions::OnCardReady(CVDSCApi& cards, const std::wstring& reader,
                               const CCardRecord& record) {
  VDTraceNS::CScope ts("CVdAgentMain::OnCardReady");
  try {
    RunCardReady(cards, reader, record, ts);
  } catch (...) {
    ts.Result("OnCardReady", CaughtResult(m_process.Platform().Kernel()));
  }
}

void CCardActions::RunCardReady(CVDSCApi& cards, const std::wstring& reader,
                                const CCardRecord& record, const VDTraceNS::CScope& ts) {
  CVDFPApi& api = m_process.AuthLibrary();
  const CCredential credential(CCredential::CardTypeToCredential(record.cardType), 0, 0);
  if (!m_actions.StartAction(credential, CUser())) return;
  ActionContext& ctx = m_actions.Context();
  const DWORD seq = ctx.sequence;
  const CUser started = ctx.user;
  const bool smartcard = credential.Type() == VDFP_CRED_SMARTCARD;

  if (smartcard) {
    if (!CCardLogic::VerifyUser(api, started, credential)) {
      ctx.Reset(api, seq);
      ts.Msg("User was nod verified");
      return;
    }
  } else {
    ctx.user = CCardLogic::IdentifyUser(cards, api, reader);
    if (!ctx.user.IsValid()) {
      // The action stays started: the next tap within a minute is refused.
      ts.Msg("User is not recognized with the proximity/contactless card");
      return;
    }
    if (ctx.user != started) {
      if (!m_host.IsKioskSession()) {
        ctx.Reset(api, seq);
        ts.Msg("No card-initiated FUS for non-kiosk");
        return;
      }
      m_host.ChangeKioskUser(ctx.user, false, m_process.Platform().Kernel().GetCurrentProcessId());
    }
  }

  ts.Msg(L"QuickAction Type = %ls", QUICKACTIONS::NameOf(ctx.quickAction));
  switch (ctx.quickAction) {
    case QUICKACTIONS::KwI:
    case QUICKACTIONS::FastConnect:
    case QUICKACTIONS::FastSwitch:
      ctx.SetHandle(
          api, CCardLogic::Authenticate(cards, api, m_host.Window(), reader, ctx.user, credential),
          true);
      if (!ctx.hAuth) {
        ctx.Reset(api, seq);
        ts.Result("Authentication failed", E_ABORT);
        return;
      }
      m_actions.DoAction();
      return;
    default:
      break;
  }
  if (!smartcard && ctx.quickAction == QUICKACTIONS::LockWorkstation && ctx.keyboard.Mask() == 0) {
    // The lock waits for the card to leave the reader: locking under a card still lying
    // there would only be undone by the next tap.
    ctx.info.SetPendingAction(kPendingLock);
    ts.Msg("Contactless card tap initiated");
    return;
  }
  m_actions.DoAction();
}

void CCardActions::OnCardRemoved(const CCardRecord& record) {
  VDTraceNS::CScope ts("CVdAgentMain::OnCardRemoved");
  try {
    RunCardRemoved(record, ts);
  } catch (...) {
    ts.Result("OnCardRemoved", CaughtResult(m_process.Platform().Kernel()));
  }
}

DWORD CCardActions::ReadLockPolicy(const VDTraceNS::CScope& ts) {
  auto lib = GPO::PolicyLibrary(m_process.AuthLibrary());
  GPO::CPolicyItem item(lib, kLockPolicy);
  const HRESULT query = item.Query();
  const VDFP_POLICY_ITEM& v = item.Item();
  DWORD value = 0;
  HRESULT read = FAILED(query) ? query : v.hrStatus;
  if (SUCCEEDED(query) && SUCCEEDED(v.hrStatus)) {
    switch (v.Value.VarType) {
      case VDVAR_BOOL:
      case VDVAR_INT32:
      case VDVAR_UINT32:
        value = v.Value.ulVal;
        break;
      default:
        // No value, or one of another type: the policy is not set.
        read = S_FALSE;
        break;
    }
  }
  ts.Msg("lock policy: hr = %x, serverinfo.hr = 0x%X, %s = %d[%d]", static_cast<unsigned>(read),
         static_cast<unsigned>(query), "LockUponSmartcardRemoval", static_cast<int>(value),
         static_cast<int>(v.hrStatus));
  return value;
}

void CCardActions::RunCardRemoved(const CCardRecord& record, const VDTraceNS::CScope& ts) {
  if (ReadLockPolicy(ts) != 0) {
    LockRules(record, ts);
    return;
  }
  ActionContext& ctx = m_actions.Context();
  // Only a tap's own pending lock: a fingerprint action carries -1 there, which must not
  // rerun when some card leaves.
  if (!IsContactlessKind(record.cardType) || ctx.info.PendingAction() <= 0) return;
  ts.Msg("Complete contactless card tap");
  ctx.info.SetPendingAction(0);
  const DWORD seq = ctx.sequence;
  m_host.Post([this, seq] {
    VDTraceNS::CScope task("[CompletingCardTap]");
    // A newer action took the context in the meantime: it is not this tap's to run.
    if (m_actions.Context().sequence != seq) return;
    m_actions.DoAction();
  });
}

bool CCardActions::IsConsoleSession() {
  platform::IPlatform& plat = m_process.Platform();
  DWORD session = kNoSession;
  if (!plat.Sessions().ProcessIdToSessionId(plat.Kernel().GetCurrentProcessId(), &session))
    session = kNoSession;
  const DWORD console = plat.Sessions().WTSGetActiveConsoleSessionId();
  return session == console || session == kNoSession || console == kNoSession;
}

void CCardActions::LockRules(const CCardRecord& record, const VDTraceNS::CScope& ts) {
  platform::IPlatform& plat = m_process.Platform();
  if (!IsConsoleSession()) {
    ts.Msg("Not a console session, no action");
    return;
  }
  HDESK desktop = plat.Ui().OpenInputDesktop(0, FALSE, GENERIC_READ);
  if (!desktop) {
    ts.Msg("Not an active desktop, no action");
    return;
  }
  struct CloseOnExit {
    platform::IUi& ui;
    HDESK h;
    ~CloseOnExit() { ui.CloseDesktop(h); }
  } closer{plat.Ui(), desktop};

  const auto editions = m_process.Editions();
  const bool lumera =
      EDITIONS::IsLumeraFamilyInstalled(editions) || EDITIONS::IsLumeraADFamilyInstalled(editions);
  if (!lumera && record.cardType != VD_CARD_SMARTCARD) {
    ts.Msg("Contactless/proxy card lock is not supported.");
    return;
  }
  // An unknown card type stands for no credential, whose no bits are all among the logon
  // ones: it locks, the safe side of a lock policy.
  const ULONGLONG credential = CCredential::CardTypeToCredential(record.cardType);
  ts.Msg(L"token type %016I64X", credential);
  const ULONGLONG methods = LogonSettings(plat).GetUlong64();
  if ((credential & ~methods) != 0) {
    ts.Msg("Not logged with the same card type, no action");
    return;
  }
  if (!plat.Ui().LockWorkStation()) {
    const DWORD err = plat.Kernel().GetLastError();
    ts.Result("LockWorkStation", err ? HRESULT_FROM_WIN32(err) : E_FAIL);
    return;
  }
  ts.Msg("Workstation locked.");
}
