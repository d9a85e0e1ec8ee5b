// The toast library "VDWinRTUtils.dll" and the quick-link library "VdMiniOnlineIds.dll" on
// the simulated machine, with a user in front of the toasts and the shell's action center.
//
//   - WinRT_DisplayToast refuses a null title, message, id text or completion
//     (E_INVALIDARG, nothing shown), shows the toast as a desktop record of kind "toast"
//     ("toast shown 0000002A \"Title\" \"Text\" button \"Open\" param \"ManageCredentials\"",
//     button and param only when given), and later completes exactly once, on a pool thread
//     of the machine, with the result the user chose ("toast ended clicked", "... timed out",
//     "... button", "... dismissed", "... result 7"). Completions wait for the clock: an
//     answer after 0 ms is queued at once (RunUntilIdle sees it through), a later one when
//     AdvanceBy reaches it.
//   - A toast that timed out or was dismissed stays in the action center of its session.
//     ActivateFromActionCenter does what the shell does when the user clicks it there: from a
//     shell process of that session it creates the agent's toast activator (a local server)
//     and calls Activate with the application user model id and the toast's param
//     ("toast activated ManageCredentials: 0x00000000").
//   - LaunchQuickLink shows kind "quick-link" ("<entry id> <number>") in the caller's session.
//
// Both libraries live in the system directory, where a bare name finds them for every process.
//
//   sim::Machine machine;
//   auto toasts = toast_standin::InstallToastStandIns(machine);
//   toasts->AnswerNext(toast_standin::ToastAnswer::Dismiss(500));
//   ... the agent shows a toast ...
//   machine.AdvanceBy(500);
//   EXPECT_EQ(toasts->ActivateFromActionCenter(1, 0), S_OK);
//
// Destroy the installation before the machine.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/sim/machine.h"
#include "standins/toast/description.h"

namespace toast_standin {

inline constexpr wchar_t kToastKind[] = L"toast";
inline constexpr wchar_t kQuickLinkKind[] = L"quick-link";

// One toast the library was asked to show.
struct ShownToast {
  DWORD session = 0;
  DWORD processId = 0;
  UINT32 id = 0;
  std::wstring title, message, idText;
  std::optional<std::wstring> button, param;
  UINT32 flags = 0;
  // Set once the completion ran: the result handed over, the machine thread it ran on, and
  // what the completion answered.
  std::optional<INT32> result;
  DWORD completionThread = 0;
  HRESULT completionAnswer = S_OK;
};

struct ActionCenterEntry {
  std::wstring title, message;
  std::optional<std::wstring> param;
};

class SimToastInstallation {
 public:
  ~SimToastInstallation();
  SimToastInstallation(const SimToastInstallation&) = delete;
  SimToastInstallation& operator=(const SimToastInstallation&) = delete;

  const ToastStandInsDescription& Description() const;
  // Where each library lives (set whether or not it is installed).
  const std::wstring& ToastLibraryPath() const;
  const std::wstring& QuickLinkLibraryPath() const;

  // ---- Steering the user and the library ----
  // The user's answer to the next toast shown; queued answers go first, in order, before
  // the description's.
  void AnswerNext(ToastAnswer answer);
  // The next WinRT_DisplayToast returns `hr` and shows nothing ("toast refused 0x80004005").
  void FailNextDisplay(HRESULT hr);

  // ---- Looking in ----
  std::vector<ShownToast> Toasts() const;
  // Toasts shown whose completion has not run yet.
  std::size_t Pending() const;
  std::vector<ActionCenterEntry> ActionCenter(DWORD session) const;

  // ---- The shell ----
  // The user clicks entry `index` of the session's action center: it leaves the action
  // center and the activator is called with its param (null when it had none). Returns the
  // activator's answer, or the failure to create it; E_INVALIDARG (nothing recorded) when
  // there is no such entry.
  HRESULT ActivateFromActionCenter(DWORD session, std::size_t index);
  // The activator called as the shell would, with explicit arguments (null: none).
  HRESULT Activate(DWORD session, const wchar_t* invokedArgs);

  struct Impl;

 private:
  friend std::unique_ptr<SimToastInstallation> InstallToastStandIns(sim::Machine&,
                                                                    ToastStandInsDescription);
  explicit SimToastInstallation(std::shared_ptr<Impl> impl);
  std::shared_ptr<Impl> m_impl;
};

// One installation per machine.
std::unique_ptr<SimToastInstallation> InstallToastStandIns(sim::Machine& machine,
                                                           ToastStandInsDescription desc = {});

// "clicked", "timed out", "button", "dismissed", else "result <n>".
std::wstring ToastEndText(INT32 result);

}  // namespace toast_standin
