#!/usr/bin/env bash
# vdtrace.exe under Wine reads a trace the agent wrote under Wine: the case's known line is
# there once, and when the native vdtrace is at hand the text is exactly its text, so the
# program on the customer's machine reads a trace as the developer's copy does.
#
#   vdtrace_case.sh <wine-run.sh> <vdtrace.exe> <build dir> [<native vdtrace>]
set -euo pipefail
run="$1"; exe="$2"; native="${4:-}"
trace="$3/traces/SecondInstanceThenCloseWindow/VdAgent.VdAgent.exe.1.trc3"
want='U   This is second instance, aborting.'
[ -f "$trace" ] || { echo "vdtrace_case.sh: no trace $trace (the e2e cases write it)" >&2; exit 1; }
# Decoded whole before any grep (see check_traces.sh). Wine's Z: is the Unix root.
out="$("$run" "$exe" "Z:$trace" | tr -d '\r')"
if [ "$(grep -cF -- "$want" <<<"$out")" != 1 ]; then
  echo "vdtrace_case.sh: expected one line with: $want" >&2
  echo "$out" >&2
  exit 1
fi
if [ -n "$native" ] && [ -x "$native" ]; then
  if ! diff <("$native" "$trace") <(printf '%s\n' "$out") >&2; then
    echo "vdtrace_case.sh: vdtrace.exe and the native vdtrace read the trace differently" >&2
    exit 1
  fi
fi
