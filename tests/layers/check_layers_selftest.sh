#!/usr/bin/env bash
# The layer check itself: a tree whose includes point down passes; an include up, one
# sideways between two subsystems and one from a folder into its parent's upper neighbour
# each fail and are named.
set -euo pipefail
check="$(dirname "$0")/check_layers.sh"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp"/{platform,support/settings,support/vdfp,core,auth,tray,kiosk,app}
echo '#include "platform/a.h"' > "$tmp/support/s.h"
echo '#include "support/vdfp/v.h"' > "$tmp/support/settings/x.cpp"
printf '#include "core/c.h"\n#include "auth/a.h"\n#include <vector>\n' > "$tmp/tray/t.cpp"
echo '#include "tray/t.h"' > "$tmp/app/m.h"
bash "$check" "$tmp" >/dev/null || { echo "a downward tree was refused"; exit 1; }

expect_fail() {
  local file="$1" inc="$2" out
  mkdir -p "$tmp/$(dirname "$file")"
  echo "#include \"$inc\"" > "$tmp/$file"
  if out=$(bash "$check" "$tmp"); then echo "not refused: $file -> $inc"; exit 1; fi
  grep -qF "$file: includes \"$inc\"" <<<"$out" || { echo "not named: $out"; exit 1; }
  rm "$tmp/$file"
}
expect_fail core/up.h app/main_window.h
expect_fail tray/side.cpp kiosk/k.h
expect_fail support/vdfp/up.h support/settings/s.h
expect_fail support/down_is_not.h support/vdfp/v.h
echo "layer check self-test passed"
