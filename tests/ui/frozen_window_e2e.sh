#!/usr/bin/env bash
# The real KelmVantoro.exe under Wine against a server that accepts the connection but
# never answers (frozen with SIGSTOP). The attempt waits on its own thread, so the
# window keeps painting: the encoder indicator turns yellow ("Connecting...") right
# after the click on Start, a click on Stop is answered at once, and EXIT ends the
# program promptly, all while the handshake would still be waiting for 10 s.
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/../engine/stream_common.bash"
need_environment
[ -n "${KV_GUI:-}" ] && [ -f "$KV_GUI" ] || { echo "skipped: needs the Windows build"; exit 0; }
testenv="$KV_SOURCE_DIR/scripts/testenv"

d="$(mktemp -d)"
pid=
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  "$testenv" icecast thaw 2>/dev/null
  rm -rf "$d"
}
trap cleanup EXIT
cp "$KV_GUI" "$d/KelmVantoro.exe"
export KV_PROBE_TARGET="127.0.0.1:$KV_ICECAST_STATUS_PORT"

idle=#3C4150 popup=#AA381E yellow=#EAB308

find_window() {
  local wid=
  for _ in $(seq 300); do
    wid="$(timeout 10 xdotool search --name '^Kelm Vantoro$' 2>/dev/null | head -1)"
    [ -n "$wid" ] && break
    sleep 0.1
  done
  [ -n "$wid" ] || fail "no main window"
  eval "$(xdotool getwindowgeometry --shell "$wid")"
  wx=$X wy=$Y cx=$((X + 230)) cy=$((Y + 142))
}
shot() { import -window root "$d/shot.png" 2>/dev/null; }
pixel() { convert "$d/shot.png" -crop "1x1+$1+$2" +repage -depth 8 txt:- | grep -o '#[0-9A-F]\{6\}' | head -1; }
# The encoder indicator's dot, right of the server box's second row.
encoder_dot() { pixel $((wx + 440)) $((wy + 71)); }
start_fill() { pixel $((wx + 18)) $((wy + 256)); }
now() { date +%s.%N; }
since() { echo "$(now) - $1" | bc; }

# wait_until SECONDS COMMAND...: true once COMMAND holds on a fresh screenshot.
wait_until() {
  local end
  end=$(echo "$(now) + $1" | bc)
  shift
  while [ "$(echo "$(now) < $end" | bc)" = 1 ]; do
    shot
    "$@" && return 0
    sleep 0.1
  done
  return 1
}
dot_is() { [ "$(encoder_dot)" = "$1" ]; }
dot_is_not() { [ "$(encoder_dot)" != "$1" ]; }

mount="/frozen-window-${KV_BUILD:-windows}"
write_config "$d" "$mount" "[System]" "persistentEncoding=false"
wine "$d/KelmVantoro.exe" >>"$d/wine.log" 2>&1 &
pid=$!
find_window
wait_until 20 dot_is_not "" || fail "the window never painted"
"$testenv" icecast freeze

# --- Start: within a moment the indicator reads "Connecting..." in yellow. A window
# that waited for the handshake would not repaint for 10 s.
clicked=$(now)
xdotool mousemove $((wx + 80)) $((wy + 256)) click 1
wait_until 3 dot_is "$yellow" || fail "the encoder indicator is $(encoder_dot), not yellow, after the click on Start"
echo "yellow indicator $(since "$clicked") s after the click on Start"

# --- Stop answers during the attempt: the indicator leaves yellow, the button is idle.
sleep 1
clicked=$(now)
xdotool mousemove $((wx + 196)) $((wy + 256)) click 1
wait_until 3 dot_is_not "$yellow" || fail "the window did not answer Stop during the attempt"
[ "$(start_fill)" = "$idle" ] || fail "Start button is $(start_fill) after Stop"
echo "Stop answered after $(since "$clicked") s"

# --- a new attempt, then EXIT while it waits: the program ends promptly with 0.
xdotool mousemove $((wx + 80)) $((wy + 256)) click 1
wait_until 3 dot_is "$yellow" || fail "no second attempt"
xdotool mousemove $((wx + 445)) $((wy + 12)) click 1
wait_until 5 eval '[ "$(pixel $((cx - 130)) "$cy")" = "$popup" ]' || fail "no exit dialog during the attempt"
clicked=$(now)
xdotool mousemove $((cx - 140 + 82)) $((cy - 60 + 87)) click 1
for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null && fail "EXIT did not end the program during the attempt"
wait "$pid"
status=$?
pid=
took=$(since "$clicked")
[ $status -eq 0 ] || fail "exit code $status after EXIT"
echo "EXIT ended the program after $took s"
# Well inside the handshake's 10 s answer time-out, with Wine's slow window teardown.
[ "$(echo "$took <= 6.0" | bc)" = 1 ] || fail "EXIT took $took s"
echo "frozen_window_e2e: ok"
