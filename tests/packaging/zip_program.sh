#!/usr/bin/env bash
# KelmVantoro.exe started from a freshly unpacked zip under Wine: its window appears and
# it keeps its settings beside itself (the sample config.ini becomes config.dat).
set -euo pipefail
source "$KV_SOURCE_DIR/tests/packaging/package_common.bash"
zip="$KV_SOURCE_DIR/dist/KelmVantoro-$KV_VERSION-win64.zip"
need_package "$zip"
if [ "$KV_HAS_PROGRAM" != 1 ]; then
  echo "skipped: this build has no KelmVantoro target, so the zip has no KelmVantoro.exe"
  exit 77
fi
[ -n "${DISPLAY:-}" ] || { echo "skipped: needs scripts/testenv (a display)"; exit 77; }
dir="$(mktemp -d)"
pid=""
cleanup() {
  if [ -n "$pid" ]; then
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  fi
  rm -rf "$dir"
}
trap cleanup EXIT

unzip -q "$zip" -d "$dir"
(cd "$dir" && exec ${KV_EMULATOR:-wine} ./KelmVantoro.exe) >"$dir/wine.log" 2>&1 &
pid=$!
window=""
for _ in $(seq 300); do
  kill -0 "$pid" 2>/dev/null || { cat "$dir/wine.log"; fail "KelmVantoro.exe exited before its window appeared"; }
  window="$(timeout 10 xdotool search --onlyvisible --name '^Kelm Vantoro$' 2>/dev/null | head -n 1 || true)"
  [ -n "$window" ] && break
  sleep 0.1
done
[ -n "$window" ] || fail "no window named Kelm Vantoro within 30 s"
[ -f "$dir/config.dat" ] || fail "config.dat was not written beside KelmVantoro.exe"
sleep 2
kill -0 "$pid" 2>/dev/null || fail "KelmVantoro.exe ended within 2 s of showing its window"
echo "ok: window $window, config.dat beside the program"
