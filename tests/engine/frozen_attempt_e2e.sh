#!/usr/bin/env bash
# The stream command started against a server that accepts the connection but never
# answers (frozen with SIGSTOP): the attempt waits on its own thread, so Ctrl+C ends the
# program within about a second, with "Stopped" and status 0, instead of after the
# handshake's time-outs.
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/stream_common.bash"
need_environment
testenv="$KV_SOURCE_DIR/scripts/testenv"
# Under Wine the signal does not reach the program as Ctrl+C; the window test covers it.
[ -z "${KV_EMULATOR:-}" ] || { echo "skipped: Ctrl+C is tested natively"; exit 0; }

d="$(mktemp -d)"
pid=
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null
  "$testenv" icecast thaw 2>/dev/null
  rm -rf "$d"
}
trap cleanup EXIT

mount="/frozen-attempt-${KV_BUILD:-linux}"
write_config "$d" "$mount" "[System]" "persistentEncoding=false"
"$testenv" icecast freeze
"${stream_cmd[@]}" --config "$d" --seconds 60 >"$d/out" 2>"$d/err" &
pid=$!
wait_for_text "$d/out" "Connecting..." 20 || { cat "$d/out" "$d/err"; fail "no 'Connecting...' line"; }
# Well inside the attempt: the server's answer would take 10 s.
sleep 1
kill -0 "$pid" || fail "the program ended during the attempt: $(cat "$d/err")"
start=$(date +%s.%N)
kill -INT "$pid"
wait "$pid"
status=$?
pid=
took=$(echo "$(date +%s.%N) - $start" | bc)
"$testenv" icecast thaw
[ $status -eq 0 ] || { cat "$d/out" "$d/err"; fail "exit status $status"; }
grep -q '^Stopped' "$d/out" || { cat "$d/out"; fail "no 'Stopped'"; }
grep -q 'Streaming to' "$d/out" && fail "announced a stream that never went on air"
echo "Ctrl+C during the attempt ended the program after $took s"
[ "$(echo "$took <= 2.0" | bc)" = 1 ] || fail "Ctrl+C took $took s"
echo "frozen_attempt_e2e: ok"
