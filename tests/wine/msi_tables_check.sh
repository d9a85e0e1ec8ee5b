#!/usr/bin/env bash
# The tables of a built VdAgent.msi, read with msiinfo (no Wine): where the registration runs
# in the install script, how its actions are typed, what is on by default. wixl decides the
# numbers itself and has placed actions past InstallFinalize and written a rollback action
# as an immediate one: this check notices such a package before any machine runs it.
#
#   msi_tables_check.sh MSIINFO PACKAGE.msi x64|x86 [failing]
set -euo pipefail
msiinfo="$1" msi="$2" arch="$3" kind="${4:-release}"
fails=0
fail() { echo "FAIL: $*" >&2; fails=$((fails + 1)); }
table() { "$msiinfo" export "$msi" "$1" | tr -d '\r' | tail -n +4; }

sequence="$(table InstallExecuteSequence)"
seq_of() { awk -F'\t' -v a="$1" '$1 == a { print $3 }' <<<"$sequence"; }
cond_of() { awk -F'\t' -v a="$1" '$1 == a { print $2 }' <<<"$sequence"; }
# before A B: A runs before B in the install script.
before() {
  local a b
  a="$(seq_of "$1")" b="$(seq_of "$2")"
  [ -n "$a" ] && [ -n "$b" ] && [ "$a" -lt "$b" ] || fail "$1 (${a:-none}) is not before $2 (${b:-none})"
}
before InstallValidate RemoveExistingProducts      # the older version goes first, whole
before RemoveExistingProducts InstallInitialize
before InstallInitialize AgentUnRegServerRollback  # unregistered while files and values exist
before AgentUnRegServerRollback AgentUnRegServer
before AgentUnRegServer RemoveRegistryValues
before AgentUnRegServer RemoveFiles
before InstallFiles AgentRegServerRollback         # registered once files and values exist
before WriteRegistryValues AgentRegServerRollback
before AgentRegServerRollback AgentRegServer       # the rollback covers a half registration
before AgentRegServer InstallFinalize              # deferred actions run inside the script
for a in AgentUnRegServer AgentUnRegServerRollback; do
  [ "$(cond_of $a)" = 'REMOVE="ALL"' ] || fail "$a runs on: $(cond_of $a)"
done
for a in AgentRegServer AgentRegServerRollback; do
  [ "$(cond_of $a)" = 'NOT REMOVE="ALL"' ] || fail "$a runs on: $(cond_of $a)"
done

# Type bits: 18 an installed program, 0x40 exit code ignored, 0x100 rollback, 0x400 in the
# install script, 0x800 as the system.
actions="$(table CustomAction)"
expect_type() {
  local t
  t="$(awk -F'\t' -v a="$1" '$1 == a { print $2 }' <<<"$actions")"
  [ "${t:-x}" = "$2" ] || fail "$1 has type ${t:-none}, not $2 ($3)"
}
expect_type AgentRegServer $((18 | 0x400 | 0x800)) "deferred, as the system, checked"
expect_type AgentRegServerRollback $((18 | 0x40 | 0x100 | 0x400 | 0x800)) "rollback, as the system"
expect_type AgentUnRegServer $((18 | 0x40 | 0x400 | 0x800)) "deferred, as the system, never blocking"
expect_type AgentUnRegServerRollback $((18 | 0x40 | 0x100 | 0x400 | 0x800)) "rollback, as the system"
if [ "$kind" = failing ]; then
  grep -q '^FailAfterRegister' <<<"$actions" || fail "the failing package has no failing action"
else
  grep -q 'FailAfterRegister' <<<"$actions$sequence" && fail "a test action is in the package"
fi

features="$(table Feature)"
level() { awk -F'\t' -v f="$1" '$1 == f { print $6 }' <<<"$features"; }
[ "$(level Agent)" = 1 ] || fail "the agent feature has level $(level Agent)"
[ "$(level StandIns)" -gt 1 ] || fail "the stand-ins are on by default"

# Every component in the 64-bit view (0x100) in the x64 package, none in the x86 one.
while IFS=$'\t' read -r comp _ _ attrs _; do
  bit=$(( attrs & 0x100 ))
  if [ "$arch" = x64 ] && [ $bit -eq 0 ]; then fail "$comp is not a 64-bit component"; fi
  if [ "$arch" = x86 ] && [ $bit -ne 0 ]; then fail "$comp is a 64-bit component"; fi
done < <(table Component)
if [ "$arch" = x86 ]; then
  table LaunchCondition | grep -q '^NOT VersionNT64' || fail "the x86 package installs on 64-bit Windows"
fi

registry="$(table Registry)"
for v in 'SOFTWARE\\Veridane	VeridanePath	\[VERIDANEDIR\]' \
         'SOFTWARE\\Veridane\\Applications	BinDir	\[VERIDANEDIR\]'; do
  grep -qP "\t2\t$v\t" <<<"$registry" || fail "no HKLM value $v"
done

# An installed suite keeps its values: they are the package's only where it wrote them.
table Component | awk -F'\t' '$1 == "SuiteValues" { print $5 }' |
  grep -qx 'NOT SUITEPATH OR SUITEVALUESBYPACKAGE' || fail "the suite values have no condition"

[ $fails -eq 0 ] && echo "$msi: tables as intended"
exit $(( fails > 0 ))
