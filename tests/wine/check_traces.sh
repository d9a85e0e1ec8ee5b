#!/usr/bin/env bash
# Reads the trace files the Windows end-to-end cases left, with the native vdtrace.
#   check_traces.sh <vdtrace> <build dir>
set -euo pipefail
vdtrace="$1"; traces="$2/traces"
fail=0
# Decoded whole before any grep: `vdtrace | grep -q` under pipefail fails at random when
# grep stops at its first match and vdtrace, still writing, gets SIGPIPE.
decode() {
  local out
  if ! out="$("$vdtrace" "$traces/$1/VdAgent.VdAgent.exe.1.trc3")"; then
    echo "FAIL $1: vdtrace could not read $traces/$1/VdAgent.VdAgent.exe.1.trc3" >&2
    return 1
  fi
  printf '%s\n' "$out"
}
expect() {  # case, text
  local out
  if ! out="$(decode "$1")" || ! grep -qF -- "$2" <<<"$out"; then
    echo "FAIL $1: no '$2'"; fail=1
  fi
}
# Scope entries in the given order (other records may come between).
expect_order() {
  local case="$1"; shift
  local out
  out="$(decode "$case")" || { echo "FAIL $case: unreadable trace"; fail=1; return; }
  if ! sed -n 's/.* > *//p' <<<"$out" | awk -v want="$(printf '%s\n' "$@")" '
      BEGIN { n = split(want, w, "\n"); i = 1 }
      i <= n && $0 == w[i] { i++ }
      END { exit (i > n ? 0 : 1) }'; then
    echo "FAIL $case: ready scopes missing or out of order"; fail=1
  fi
}
# Decoded lines matching the given extended regular expressions in that order (other lines
# may come between).
expect_sequence() {
  local case="$1"; shift
  local out
  out="$(decode "$case")" || { echo "FAIL $case: unreadable trace"; fail=1; return; }
  if ! awk -v want="$(printf '%s\n' "$@")" '
      BEGIN { n = split(want, w, "\n"); i = 1 }
      i <= n && $0 ~ w[i] { i++ }
      END { exit (i > n ? 0 : 1) }' <<<"$out"; then
    echo "FAIL $case: records missing or out of order: $*"; fail=1
  fi
}
# No decoded line holds the text.
expect_none() {  # case, text
  local out
  out="$(decode "$1")" || { echo "FAIL $1: unreadable trace"; fail=1; return; }
  if grep -qF -- "$2" <<<"$out"; then
    echo "FAIL $1: '$2' is there"; fail=1
  fi
}
# The mixins that trace their ready event today, in chain order, then the window's own.
ready_chain=()
for h in CKeyboardHandler CFingerprintHandler CCardHandler CKwsHandler CUserSessionHandler \
         CKioskHandler CPolicyHandler CUXHandler; do
  ready_chain+=("$h<class CVdAgentMain>::OnReady")
done
ready_chain+=("CVdAgentMain::OnReady")
expect SecondInstanceThenCloseWindow "This is second instance, aborting."
expect ReadyAfterLateHost "Host is started!!!"
expect_order ReadyAfterLateHost "${ready_chain[@]}"
expect ReadyAfterLateHost "All done."
# The running agent's start, each later process after its own 'N' record, the agent's end.
continued=' N [0-9][0-9]-[0-9][0-9]-[0-9][0-9][0-9][0-9]$'
expect_sequence LaterProcessesContinueTheRunningAgentsTrace \
  ' OK to run$' "$continued" ' CLI::Handle$' "$continued" \
  ' This is second instance, aborting[.]$' ' CVdAgentModule::Term$'
# Datagrams 7/2, 7/2, 8/5 written before ready: the repeat dropped, one lock (refused by
# Wine with 120), the failing zero-length read retried, the reader stopped at the close.
expect_sequence MailslotDatagramsBeforeReady \
  'CVdAgentMain::OnReady$' 'Bluetooth proximity message = 0x02$' 'Lock workstation[.][.][.]$' \
  '-2147024776 LockWorkStation$' 'IDs: 7, 7$' 'Bluetooth proximity message = 0x05$' \
  'Bad error 0x6D$' 'Retry in 1000 ms$' 'Loop finished$' 'All done[.]$'
expect_none MailslotDatagramsBeforeReady "Cannot stop thread."
expect MissingLibraryEndsAgent "Cannot load VDFPApi.dll"
expect_order MissingLibraryEndsAgent "${ready_chain[@]}"
# ERROR_INVALID_DATA from the library that refused its machine description, whether the host
# was up before the agent or not.
expect BadDescriptionEndsAgent "-2147024883 OnReady"
expect_order BadDescriptionEndsAgent "${ready_chain[@]}"
# The hotkey's quick action locks by itself when no fill-in takes the lock (Wine's
# LockWorkStation then fails: the lock is the simulated machine's to show).
expect HotKeyLocksWorkstation "Locking the workstation (no PM)"
expect FingerTouchRunsFastConnect "Selected QuickAction = FastConnect"
expect KioskLockAndUnlock "WTS_SESSION_LOCK"
expect KioskLockAndUnlock "Full path script!!!"
# The lock and log-off records through the registered event-log component.
expect_sequence LockAndLogOffReachTheEventLog \
  'Loading library <.*VDEvtLog[.]dll>$' 'Event logged; ID: 0x41101305, LEVEL: 1, TYPE: 4, STRINGS:' \
  'ENDSESSION_LOGOFF$' 'Event logged; ID: 0x41101306, LEVEL: 1, TYPE: 4, STRINGS:'
# The icon added at the start and after a restarted taskbar, removed and added again by the
# setting (the shell's NIM_ADD 0, NIM_DELETE 2). The taskbar did not really restart, so the
# second add finds the icon there and recovers by deleting it and adding it anew: that must not
# fail, nor any other call.
tray='CTrayIconHandler<class CVdAgentMain>::'
shell='CTrayIcon::More_Reliable_Shell_NotifyIcon$'
expect_sequence IconFollowsTaskbarAndSettings \
  "${tray}OnCreate\$" 'CTrayIcon::PutIconOnTray$' "$shell" 'message: 0$' \
  "${tray}OnTaskbarCreated\$" 'CTrayIcon::PutIconOnTray$' "$shell" 'message: 0$' \
  "${tray}OnSettingsChanged\$" 'ShowTaskbarIcon = 0$' "${tray}Hide\$" \
  'CTrayIcon::DeleteIconFromTray$' "$shell" 'message: 2$' \
  "${tray}OnSettingsChanged\$" 'ShowTaskbarIcon = 1$' "${tray}Show\$" \
  'CTrayIcon::PutIconOnTray$' "$shell" 'message: 0$'
for text in "no icons loaded" "Deleting/Adding failed" "Failed to remove tray icon."; do
  expect_none IconFollowsTaskbarAndSettings "$text"
done
expect_sequence ThemeChangeReadsTaskbarColour \
  "${tray}OnAmbientChange\$" 'CTrayIcon::GetTaskBarColor$' 'clr = \([0-9]+,[0-9]+,[0-9]+\)$'
expect_sequence RightClickOpensMenuEscapeClosesIt "${tray}ShowMenu::Task\$" 'Menu destroyed$'
# The plug-in's item ran; at the end the loader, hung in the other plug-in, was left behind.
expect_sequence PluginItemNotifiesAndAHangingPluginDoesNotHoldUpExit \
  'Finished loading \{1A2B3C4D' 'CVdAgentMain::OnPluginCommand$' 'CAgentPlugins::UnLoad$' \
  'Loader still running after 2000 ms: left to finish$'
expect_sequence PolicyWriteIsBroadcastAndRefreshed \
  '\[registryChanged\]\(HKLM/Veridane/Policies\)$' \
  'CPolicyHandler<class CVdAgentMain>::OnSettingChange$' \
  'CPolicyHandler<class CVdAgentMain>::FetchUserPolicy$'
# The pulled card reached the lock, which Wine refuses with 120 (0x80070078).
expect_sequence PulledCardLocksWorkstation \
  "Event: 'Card inserted', reader: 'Wine Reader'" 'Card Type: Smartcard$' \
  "Event: 'Card removed', reader: 'Wine Reader'" 'CVdAgentMain::OnCardRemoved$' \
  'LockUponSmartcardRemoval = 1\[0\]$' 'token type 0000000000000004$' \
  '-2147024776 LockWorkStation$'
expect_none PulledCardLocksWorkstation "Workstation locked."
# The component's "ShowMenu" opened the dashboard; each forged reply left its trace, and the
# last "ShowMenu" opened it again.
expect_sequence FillInReplyOpensTheDashboardAndForgedRepliesAreSurvived \
  'actionType: ShowMenu$' 'Launching mini/user console[.][.][.]$' 'running=1$' \
  'Unknown reply kind 0x0$' 'Unknown reply kind 0x3$' 'actionType: Undefined$' \
  'actionType: Undefined$' 'FB transition: Inactive --> Invalid$' \
  'FB transition: Invalid --> Inactive$' 'Unknown reply kind 0xFFFFFFFFFFFFFFFF$' \
  'actionType: NoMenu$' 'actionType: ShowMenu$' 'running=1$'
expect_none FillInReplyOpensTheDashboardAndForgedRepliesAreSurvived "vda::wndproc"
# The start-up reminder on Windows 7: the prompt, the ticked box remembered on its close.
ux='CUXHandler<class CVdAgentMain>::'
expect_sequence StartupPromptRemembersDontAskAgain \
  'Notifications accepted, launching startup UI sequences$' "${ux}RunUserWizardIfNeeded\$" \
  "${ux}NotifyEnrollmentRecommended\$" 'CAskUserToRegisterAtStartDlg::DoModal$' \
  'CAskUserToRegisterAtStartDlg::OnCloseCmd$' 'Setting ShowAdminWizard[.][.][.]$'
# The additional-credentials balloon, clicked: its action asks for the console.
expect_sequence BalloonClickManagesCredentials \
  "${ux}NotifyAdditionalCredentialsAvailable\$" 'CTrayIconBalloons::OnBalloonUserClick$' \
  '\[launch\]\(NotifyAdditionalCredentialsAvailable\)\{\}$' 'LAUNCHAPPID::LaunchApp$'
expect_none BalloonClickManagesCredentials "CAskUserToRegisterAtStartDlg::DoModal"
# Windows 10: a toast rather than the prompt, clicked in the toast library.
expect_sequence ToastClickRunsTheWizard \
  "${ux}NotifyEnrollmentRecommended\$" 'Toast sent$' 'toastResult = 0$' \
  '\[launch\]\(NotifyEnrollmentRecommended\)\{\}$' 'LAUNCHAPPID::LaunchApp$'
expect_none ToastClickRunsTheWizard "CAskUserToRegisterAtStartDlg::DoModal"
expect_none ForgedToastMessagesAreSurvived "vda::wndproc"
# The terminal-services client: its failing answer traced twice, then its absence.
expect_sequence EachStartRegistersTheTerminalServicesClient \
  'DllRegisterServer result = 0x80004005$' 'DllRegisterServer result = 0x80004005$' \
  'module not found$'
# The explorer's modes on traces of the real program: each lock with its cause (Wine refuses
# the lock itself with 120, 0x80070078), the time per scope, a timeline page.
explore() {  # case, extended regular expression, vdtrace options...
  local case="$1" want="$2" out; shift 2
  if ! out="$("$vdtrace" "$@" "$traces/$case/VdAgent.VdAgent.exe.1.trc3")" ||
     ! grep -qE -- "$want" <<<"$out"; then
    echo "FAIL $case: vdtrace $* shows no '$want'"; fail=1
  fi
}
explore PulledCardLocksWorkstation \
  '^[0-9/]+ [0-9:.]+ +[0-9]+ workstation lock: card removal; user: .+; failed: -2147024776$' --locks
explore HotKeyLocksWorkstation 'workstation lock: quick action \(hotkey\)' --locks
explore MailslotDatagramsBeforeReady 'workstation lock: proximity message 2 \(mailslot\)' --locks
explore HotKeyLocksWorkstation ' _tWinMain$' --summary
explore PulledCardLocksWorkstation 'LockWorkStation' --errors
page="$(mktemp)"
explore PulledCardLocksWorkstation '' --html "$page"
grep -q 'CVdAgentMain::OnCardRemoved' "$page" || { echo "FAIL timeline page: no card removal"; fail=1; }
rm -f "$page"
exit $fail
