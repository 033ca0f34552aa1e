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
  ensure_icecast_running
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

# --- with persistence: countdown, blinking caption, back on air. Every line is stamped
# with the wall clock, so the reconnection is judged by the program's own attempts.
stamp() {
  python3 -u -c '
import sys, time
for line in sys.stdin:
    sys.stdout.write("%.3f %s" % (time.time(), line))'
}
mount="/back-${KV_BUILD:-linux}"
write_config "$d" "$mount" "[System]" "persistentEncoding=true"
"${stream_cmd[@]}" --config "$d" --seconds 40 > >(stamp >"$d/out2.txt") 2>"$d/err2.txt" &
pid=$!
wait_for_mount "$mount" 15 || { cat "$d"/out*.txt "$d"/err*.txt; fail "the mount $mount never appeared"; }
sleep 1
"$testenv" icecast stop
wait_for_text "$d/out2.txt" "Reconnecting in" 5 || { cat "$d/out2.txt"; fail "no countdown"; }
sleep 3
grep -q ' Reconnecting |' "$d/out2.txt" || fail "caption never read Reconnecting"
grep -q ' Disconnected |' "$d/out2.txt" || fail "caption never read Disconnected"
"$testenv" icecast start
back=$(date +%s.%N)
wait_for_mount "$mount" 15 || { cat "$d/out2.txt" "$d/err2.txt"; fail "not back on air"; }
seen=$(date +%s.%N)
sleep 1.5
# The attempt that succeeded started within one countdown (5 s) of the server's return,
# and its handshake put the mount on the air promptly. On a busy machine the whole can
# take longer than the sum; each part keeps its own bound.
python3 - "$d/out2.txt" "$back" "$seen" <<'PY' || { cat "$d/out2.txt"; fail "reconnection timing"; }
import sys
back, seen = float(sys.argv[2]), float(sys.argv[3])
rows = []
for line in open(sys.argv[1]):
    t, _, text = line.rstrip("\n").partition(" ")
    rows.append((float(t), text))
lost = [i for i, (t, text) in enumerate(rows) if text.startswith(("Reconnecting |", "Disconnected |"))]
online = [i for i, (t, text) in enumerate(rows) if lost and i > lost[0] and text.startswith("Online |")]
attempts = [i for i, (t, text) in enumerate(rows) if text.endswith("| Reconnecting...") and online and i < online[0]]
if not online or not attempts:
    print("no attempt followed by Online after the server returned"); sys.exit(1)
start = rows[attempts[-1]][0]
print("attempt %.1f s after the server returned, on air %.1f s after the attempt began" % (start - back, seen - start))
sys.exit(0 if start - back <= 5.5 and seen - start <= 4.0 else 1)
PY
tail -n 3 "$d/out2.txt" | grep -q ' Online |' || fail "caption did not return to Online"
kill -0 $pid 2>/dev/null || fail "the stream command ended during the reconnection"
echo "reconnect_e2e: ok"
