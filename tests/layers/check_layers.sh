#!/usr/bin/env bash
# Keeps the agent's includes pointing down. Each folder has a rank; a file may include files
# of its own folder and of folders of a lower rank, never of a higher rank nor of another
# folder of the same rank (subsystems meet only through the main window or an interface).
#
#   check_layers.sh <source root>     lists every include that breaks the order; exit 1 if any
#
# The tools, tests, benchmarks, fuzzers and stand-ins stand outside the agent and may include
# anything.
set -euo pipefail

# Lower first. The longest matching folder names a file's layer.
ranks=(
  "platform 0"
  "support 1"
  "support/vdfp 2"
  "support/settings 3"
  "core 4"
  "launch 5"
  "auth 6"
  "policy 7" "kiosk 7" "tray 7" "ext 7"
  "actions 8"
  "app 9"
)

root="${1:?usage: check_layers.sh <source root>}"
cd "$root"

folders=()
for r in "${ranks[@]}"; do folders+=("${r% *}"); done

# The layer of a path: the longest listed folder that contains it, or nothing.
layer_of() {
  local path="$1" best="" f
  for f in "${folders[@]}"; do
    if [[ "$path" == "$f/"* && ${#f} -gt ${#best} ]]; then best="$f"; fi
  done
  printf '%s' "$best"
}
rank_of() {
  local r
  for r in "${ranks[@]}"; do [[ "${r% *}" == "$1" ]] && { printf '%s' "${r#* }"; return; }; done
}

bad=0
checked=0
while IFS= read -r file; do
  from=$(layer_of "$file")
  [ -n "$from" ] || continue
  from_rank=$(rank_of "$from")
  while IFS= read -r line; do
    inc="${line#*\"}"; inc="${inc%%\"*}"
    to=$(layer_of "$inc")
    [ -n "$to" ] || continue
    checked=$((checked + 1))
    [ "$to" == "$from" ] && continue
    to_rank=$(rank_of "$to")
    if ((to_rank >= from_rank)); then
      echo "$file: includes \"$inc\" ($to, rank $to_rank) from $from (rank $from_rank)"
      bad=$((bad + 1))
    fi
  done < <(grep -E '^[[:space:]]*#[[:space:]]*include[[:space:]]+"' "$file" || true)
done < <(find "${folders[@]}" -type f \( -name '*.h' -o -name '*.cpp' \) 2>/dev/null | sort)

if ((bad)); then
  echo "$bad include(s) point up or sideways ($checked checked)"
  exit 1
fi
echo "includes point down ($checked checked)"
