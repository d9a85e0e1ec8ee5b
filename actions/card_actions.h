// What a card does once the card handler has debounced it: a tap that stayed in the reader
// starts a quick action for the card's owner; a card gone for good locks the workstation
// under the administrator's "LockUponSmartcardRemoval", or completes a pending contactless
// tap.
//
//   CCardActions cards(process, host, quickActions);      // host: the main window
//   cards.OnCardReady(cardLogic.Library(), reader, record); // ICardHost::OnCardReady
//   cards.OnCardRemoved(record);                            // ICardHost::OnCardRemoved
//
// Window thread only. Errors are traced here and go no further.
#pragma once

#include <string>

#include "actions/action_host.h"
#include "actions/quick_actions.h"
#include "auth/card_library.h"
#include "core/agent_process.h"
#include "support/trace/trace.h"

class CCardActions {
 public:
  static constexpr const wchar_t* kLockPolicy = L"LockUponSmartcardRemoval";

  CCardActions(core::CAgentProcess& process, IActionHost& host, CQuickActions& actions)
      : m_process(process), m_host(host), m_actions(actions) {}
  CCardActions(const CCardActions&) = delete;
  CCardActions& operator=(const CCardActions&) = delete;

  // CVdAgentMain::OnCardReady: starts the quick action for the card in `reader`.
  void OnCardReady(CVDSCApi& cards, const std::wstring& reader, const CCardRecord& record);
  // CVdAgentMain::OnCardRemoved: the lock rules, or the completion of a contactless tap.
  void OnCardRemoved(const CCardRecord& record);

 private:
  void RunCardReady(CVDSCApi& cards, const std::wstring& reader, const CCardRecord& record,
                    const VDTraceNS::CScope& ts);
  void RunCardRemoved(const CCardRecord& record, const VDTraceNS::CScope& ts);
  // The lock policy's value; 0 when it has none or cannot be read (traced).
  DWORD ReadLockPolicy(const VDTraceNS::CScope& ts);
  void LockRules(const CCardRecord& record, const VDTraceNS::CScope& ts);
  bool IsConsoleSession();

  core::CAgentProcess& m_process;
  IActionHost& m_host;
  CQuickActions& m_actions;
};
