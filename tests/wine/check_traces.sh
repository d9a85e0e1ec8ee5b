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
exit $fail
