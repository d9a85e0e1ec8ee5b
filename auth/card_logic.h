// The session's card readers: the smart-card library's events, the card last seen in each
// reader, the debounce of taps and removals, and the check after logon or unlock that the
// card used to log on is still there. The logic of the main window's card handler, apart
// from the window.
//
//   CCardLogic cards(plat, host);          // host: card_host.h
//   cards.OnReady();                       // 0x52D: subscribe, then the presence check
//   cards.OnCardMessage(wParam, lParam);   // 0x52C
//   cards.OnSessionChange(code);           // WM_WTSSESSION_CHANGE
//   cards.Dispose();                       // WM_DESTROY
//
// Window thread, every method. The checks run on the host's queue: a tap must stay 200 ms,
// a removal 1500 ms, before anything happens. Library failures are traced and leave the
// state as it was; exceptions are traced at each entry and go no further.
#pragma once

#include <map>
#include <set>
#include <string>

#include "auth/card_host.h"
#include "auth/card_library.h"
#include "auth/credential.h"
#include "auth/user.h"
#include "platform/platform.h"
#include "support/trace/trace.h"
#include "support/vdfp/vdfp_api.h"

class CCardLogic {
 public:
  static constexpr UINT kReadyCheckMs = 200;
  static constexpr UINT kRemovalCheckMs = 1500;
  static constexpr UINT kPresenceCheckMs = 1500;
  // The logon credentials a card stands for: Smartcard, Contactless, Proximity.
  static constexpr ULONGLONG kCardCredentials = 0x124;

  CCardLogic(platform::IPlatform& plat, ICardHost& host);
  ~CCardLogic();
  CCardLogic(const CCardLogic&) = delete;
  CCardLogic& operator=(const CCardLogic&) = delete;

  // ---- Events of the window ----
  void OnReady();
  void OnSessionChange(WPARAM code);
  // One library event; lParam is the reader name, valid only during the call.
  void OnCardMessage(WPARAM code, LPARAM lParam);
  // Lock, then Unsubscribe; pending checks are cancelled. Safe to run twice.
  void Dispose();

  HRESULT Subscribe();
  void Unsubscribe();
  void Lock();
  // Suspends, then checks 1500 ms later that the logon card is still in a reader. Raises
  // CResultError when the session cannot be learnt.
  void Unlock();

  bool Suspended() const { return m_suspended; }
  const std::map<std::wstring, CCardRecord>& Readers() const { return m_readers; }
  CVDSCApi& Library() { return m_library; }

  // "Reader connected" ... "Card ready (multiplexer)", "Unknown".
  static const wchar_t* EventText(WPARAM code);

  // ---- Identity operations ----
  // True only when the library says `user` has the credential's token enrolled (S_OK). No
  // card is read.
  static bool VerifyUser(CVDFPApi& api, const CUser& user, const CCredential& credential);
  // The owner of the card in `reader`, or the empty user.
  static CUser IdentifyUser(CVDSCApi& cards, CVDFPApi& api, const std::wstring& reader);
  // An authentication operation for `user` proven by the card (a smart card through the
  // library's PIN dialog over `window`), or null. The caller owns the handle.
  static HVDFPAUTHENTICATION Authenticate(CVDSCApi& cards, CVDFPApi& api, HWND window,
                                          const std::wstring& reader, const CUser& user,
                                          const CCredential& credential);

 private:
  void OnCardInserted(const std::wstring& reader, const VDTraceNS::CScope& ts);
  void OnCardRemovedEvent(const std::wstring& reader, const VDTraceNS::CScope& ts);
  void OnCardReadyEvent(const std::wstring& reader, const VDTraceNS::CScope& ts);
  void ReadyCheck(const std::wstring& reader, const CCardRecord& record);
  void RemovalCheck(const std::wstring& reader, const CCardRecord& record);
  void PresenceCheck(ULONGLONG mask);
  CCardRecord RecordOf(const std::wstring& reader) const;
  // Schedules a one-shot check that Dispose can cancel.
  UINT ScheduleCheck(UINT delayMs, std::function<void()> check);

  platform::IPlatform& m_plat;
  ICardHost& m_host;
  CVDSCApi m_library;
  std::map<std::wstring, CCardRecord> m_readers;
  bool m_suspended = false;
  bool m_disposed = false;
  std::set<UINT> m_pending;
  UINT m_presenceCheck = 0;
};
