#!/usr/bin/env bash
# The layer check refuses an upward include and an include of a peer folder, accepts
# the one-way order, and passes on the project's own sources.
set -euo pipefail
root="${KV_SOURCE_DIR:?}"
check="$root/cmake/CheckLayers.cmake"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0

# tree NAME FILE=INCLUDE...: a source tree whose FILE includes INCLUDE (empty: nothing).
tree() {
  local dir="$work/$1"
  shift
  for spec in "$@"; do
    local file=${spec%%=*} include=${spec#*=}
    mkdir -p "$dir/$(dirname "$file")"
    : >"$dir/$file"
    [ -z "$include" ] || echo "#include \"$include\"" >>"$dir/$file"
  done
  echo "$dir"
}

expect() { # expect pass|fail WHAT DIR [TEXT]
  local want=$1 what=$2 dir=$3 text=${4:-}
  local out
  if out=$(cmake -DKV_SRC="$dir" -P "$check" 2>&1); then got=pass; else got=fail; fi
  if [ "$got" != "$want" ]; then
    echo "FAIL: $what: expected $want, got $got"; echo "$out"; failures=$((failures + 1)); return
  fi
  if [ -n "$text" ] && ! grep -qF "$text" <<<"$out"; then
    echo "FAIL: $what: message lacks '$text'"; echo "$out"; failures=$((failures + 1)); return
  fi
  echo "ok: $what"
}

expect pass "one-way includes" "$(tree down base/Log.h= audio/Chain.cpp=base/Log.h engine/Engine.cpp=audio/Chain.h \
  settings/SettingsStore.cpp=base/Log.h settings/AppSettings.h=engine/Engine.h ui/Dialog.cpp=settings/AppSettings.h \
  app/Main.cpp=ui/Dialog.h audio/CaptureWasapi.cpp=audio/Capture.h)"
expect fail "audio includes engine" "$(tree up audio/Capture.h=engine/EngineConfig.h engine/EngineConfig.h=)" \
  "audio/Capture.h includes engine/EngineConfig.h, a higher layer"
expect fail "the store includes the settings model" "$(tree store settings/IniFile.cpp=settings/AppSettings.h)" \
  "settings/IniFile.cpp includes settings/AppSettings.h, a higher layer"
expect fail "engine includes the settings model" "$(tree model engine/StreamSupervisor.h=settings/AppSettings.h)" \
  "a higher layer"
expect fail "a platform file includes upward" "$(tree platform base/LogWin.cpp=ui/Gdi.h)" \
  "base/LogWin.cpp includes ui/Gdi.h, a higher layer"
expect fail "audio includes icecast, a peer" "$(tree peer audio/Preview.cpp=icecast/TcpSocket.h)" "a peer folder"
expect fail "ui includes cli, a peer" "$(tree peers ui/Popups.cpp=cli/Console.h)" "a peer folder"
expect fail "a folder without a layer" "$(tree stray misc/Thing.cpp=)" "has no layer"
expect pass "the project's sources" "$root/src"

echo "$failures failed"
[ "$failures" = 0 ]
