#!/usr/bin/env bash
# Icecast goes away mid-stream. Without "Auto reconnect" the stream ends "Offline" with
# the reason; with it the caption blinks, the countdown runs, and the stream is back on
# air within about 5 s of the server's return.
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/stream_common.bash"
need_environment
testenv="$KV_SOURCE_DIR/scripts/testenv"

d="$(mktemp -d)"
pid=
cleanup() {
  [ -n "$pid" ] && kill $pid 2>/dev/null
  curl -fsS --max-time 1 "$status_url" >/dev/null 2>&1 || "$testenv" icecast start
  rm -rf "$d"
}
trap cleanup EXIT

# --- without persistence: "Offline" and the reason, exit status 1.
mount="/lost-${KV_BUILD:-linux}"
write_config "$d" "$mount" "[System]" "persistentEncoding=false"
"${stream_cmd[@]}" --config "$d" --seconds 30 >"$d/out1.txt" 2>"$d/err1.txt" &
pid=$!
wait_for_mount "$mount" 15 || { cat "$d"/out*.txt "$d"/err*.txt; fail "the mount $mount never appeared"; }
sleep 1
"$testenv" icecast stop
wait $pid
status=$?
pid=
[ $status -eq 1 ] || { cat "$d/out1.txt" "$d/err1.txt"; fail "exit status $status after the loss"; }
tail -n 1 "$d/out1.txt" | grep -q '^Offline' || fail "last caption is not Offline: $(tail -n 1 "$d/out1.txt")"
grep -E -q 'Stream lost: (Server closed connection|Connection lost \(error [0-9]+\))$' "$d/err1.txt" ||
  fail "no reason given: $(cat "$d/err1.txt")"
"$testenv" icecast start

# --- with persistence: countdown, blinking caption, back on air.
mount="/back-${KV_BUILD:-linux}"
write_config "$d" "$mount" "[System]" "persistentEncoding=true"
"${stream_cmd[@]}" --config "$d" --seconds 40 >"$d/out2.txt" 2>"$d/err2.txt" &
pid=$!
wait_for_mount "$mount" 15 || { cat "$d"/out*.txt "$d"/err*.txt; fail "the mount $mount never appeared"; }
sleep 1
"$testenv" icecast stop
wait_for_text "$d/out2.txt" "Reconnecting in" 5 || { cat "$d/out2.txt"; fail "no countdown"; }
sleep 3
grep -q '^Reconnecting |' "$d/out2.txt" || fail "caption never read Reconnecting"
grep -q '^Disconnected |' "$d/out2.txt" || fail "caption never read Disconnected"
lines_before=$(wc -l <"$d/out2.txt")
"$testenv" icecast start
back=$(date +%s.%N)
wait_for_mount "$mount" 12 || { cat "$d/out2.txt" "$d/err2.txt"; fail "not back on air"; }
took=$(python3 -c "import sys,time; print('%.1f' % (time.time() - float(sys.argv[1])))" "$back")
python3 -c "import sys; sys.exit(0 if float(sys.argv[1]) <= 7.5 else 1)" "$took" || fail "back on air after $took s"
sleep 1.5
tail -n +"$lines_before" "$d/out2.txt" | grep -q '^Online |' || fail "caption did not return to Online"
kill -0 $pid 2>/dev/null || fail "the stream command ended during the reconnection"
echo "reconnect_e2e: back on air $took s after the server returned"
