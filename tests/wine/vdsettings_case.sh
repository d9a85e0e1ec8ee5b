#!/usr/bin/env bash
# vdsettings.exe under Wine: a value seeded in the user's own key is reported with its value
# and the source HKCU, once.
#
#   vdsettings_case.sh <wine-run.sh> <vdsettings.exe>
set -euo pipefail
run="$1"
exe="$2"
key='HKCU\Software\Veridane\Applications\Agent'
"$run" reg add "$key" /v SaveFeedbackIconX /t REG_DWORD /d 640 /f >/dev/null
trap '"$run" reg delete "$key" /v SaveFeedbackIconX /f >/dev/null 2>&1 || true' EXIT
out="$("$run" "$exe" --json | tr -d '\r')"
want='"name": "SaveFeedbackIconX", "type": "dword", "value": 640, "default": 10, "source": "HKCU"'
if [ "$(grep -cF "$want" <<<"$out")" != 1 ]; then
  echo "vdsettings_case.sh: expected one line with: $want" >&2
  echo "$out" >&2
  exit 1
fi
