// The user's logon policy: fetched from the library, reused for a minute, re-read when the
// machine's policy key changes, when the session is unlocked and when another program
// announces a policy change, and announced (policy changed, 1824) when its text changed.
//
//   CPolicyLogic policy(process, host);      // a member of the policy handler mixin
//   policy.OnReady(hWnd);                     // watches HKLM\SOFTWARE\Veridane\Policies
//   policy.OnUserChanged();                   // the new user's policy, not announced
//   if (policy.CurrentPolicy().IsSatisfied(enrolled)) ...
//   policy.Dispose();                         // stops the watch; never stalls
//
// Everything runs on the main window's thread except the watcher's callback, which only
// broadcasts WM_SETTINGCHANGE "Policy" to every top-level window, this agent's included:
// each running agent then refreshes on its own thread.
#pragma once

#include <memory>
#include <string>

#include "auth/user.h"
#include "core/agent_process.h"
#include "policy/fetch_stamp.h"
#include "policy/policy.h"
#include "support/registry_watcher.h"

// What the policy logic needs from elsewhere; the main window implements it.
class IPolicyHost {
 public:
  virtual ~IPolicyHost() = default;
  // The kiosk handler's kiosk-session test.
  virtual bool IsKioskSession() = 0;
  // The person the kiosk handler identified (kiosk sessions only).
  virtual CUser KioskUser() = 0;
  // The user-session handler's Windows user.
  virtual CUser SessionUser() = 0;
};

class CPolicyLogic {
 public:
  static constexpr const wchar_t* kPolicyKey = L"SOFTWARE\\Veridane\\Policies";
  // KEY_READ with the 64-bit view, on every Windows.
  static constexpr REGSAM kPolicyKeyAccess = 0x20119;
  // The WM_SETTINGCHANGE area that names a policy change.
  static constexpr const wchar_t* kPolicyArea = L"Policy";
  static constexpr UINT kBroadcastTimeoutMs = 5000;

  CPolicyLogic(core::CAgentProcess& process, IPolicyHost& host);
  ~CPolicyLogic();
  CPolicyLogic(const CPolicyLogic&) = delete;
  CPolicyLogic& operator=(const CPolicyLogic&) = delete;

  // Ready: opens the policy key and watches it, sub-keys included (no key, no watch).
  void OnReady(HWND hWnd);
  // WM_SETTINGCHANGE: "Policy" (any case) refreshes; anything else, a null lParam included,
  // is someone else's.
  void OnSettingChange(LPARAM lParam);
  // WM_WTSSESSION_CHANGE: an unlock refreshes.
  void OnSessionChange(WPARAM code);
  // User changed: the user's policy becomes the current one, unannounced.
  void OnUserChanged();
  // Closes the key and ends the watch, answering a broadcast in flight to this thread
  // instead of waiting for its time-out. Later events change nothing. Safe to repeat.
  void Dispose();

  // The policy user's policy again; stored and announced (1824) when its text differs.
  void RefreshPolicy();
  // `user`'s policy: the one fetched for that same user less than a minute ago, else the
  // library's (empty when the library fails; a failure is not kept).
  CPolicy FetchUserPolicy(const CUser& user);
  // The credential types of the refreshed policy not suggested last time (remembered in
  // "LastLogonPolicyTokens").
  ULONGLONG GetSuggestedCredentials();

  // Empty (shape 0) until the user is known.
  const CPolicy& CurrentPolicy() const { return m_policy; }
  bool IsWatching() const { return m_watcher && m_watcher->IsStarted(); }

 private:
  // The user whose policy counts: the kiosk user in a kiosk session.
  CUser PolicyUser();
  // Whose policy a cached fetch is: the SID, or else the name and its format.
  static std::wstring CacheKey(const CUser& user);

  core::CAgentProcess& m_process;
  IPolicyHost& m_host;
  HWND m_hWnd = nullptr;
  bool m_disposed = false;
  CPolicy m_policy;
  // The last successful fetch, whose user it was and when.
  CPolicy m_fetched;
  std::wstring m_fetchedFor;
  CFetchStamp m_fetchStamp;
  std::unique_ptr<CRegKeyWatcher> m_watcher;
};
