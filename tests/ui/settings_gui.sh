#!/usr/bin/env bash
# The settings dialog in the real program under Wine, driven like a user with xdotool:
# it opens over the main window, checks the server fields against the test Icecast, adds
# and removes a further output, writes config.dat and the Run value on OK, starts the
# stream with Auto reconnect, and is refused with a toast while a stream is on.
set -u
source "$KV_SOURCE_DIR/tests/engine/stream_common.bash"

if [ -z "${KV_GUI:-}" ] || [ -z "${DISPLAY:-}" ]; then
  echo "skipped: needs the Windows program and scripts/testenv"
  exit 0
fi
need_environment

work=$(mktemp -d)
run_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
# Wine starts the Run entries at its next boot in this prefix: leave none behind.
gui=
cleanup() {
  [ -n "$gui" ] && kill "$gui" 2>/dev/null && wait "$gui" 2>/dev/null
  wine reg delete "$run_key" /v KelmVantoro /f >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT
cp "$KV_GUI" "$work/KelmVantoro.exe"
write_config "$work" /dialog
wine reg delete "$run_key" /v KelmVantoro /f >/dev/null 2>&1

(cd "$work" && exec wine KelmVantoro.exe) >/dev/null 2>&1 &
gui=$!

# window_named NAME: the first window with exactly that title, waiting up to 20 s.
window_named() {
  local i w
  for i in $(seq 100); do
    w=$(timeout 10 xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1)
    [ -n "$w" ] && { echo "$w"; return 0; }
    sleep 0.2
  done
  return 1
}

# pixel X Y: the screen colour at a point of the main window's client area, as #RRGGBB.
pixel() {
  import -window root -crop "1x1+$((X + $1))+$((Y + $2))" -depth 8 txt:- 2>/dev/null |
    grep -o '#[0-9A-F]\{6\}' | head -1
}

# wait_pixel X Y COLOUR SECONDS
wait_pixel() {
  local i
  for i in $(seq $(( $4 * 5 ))); do
    [ "$(pixel "$1" "$2")" = "$3" ] && return 0
    sleep 0.2
  done
  echo "pixel ($1,$2) is $(pixel "$1" "$2"), wanted $3"
  return 1
}

click() { xdotool mousemove $((X + $1)) $((Y + $2)) click 1; sleep 0.3; }

green='#22C55E'
red='#EF4444'

main=$(window_named 'Kelm Vantoro') || fail "the main window did not appear"
eval "$(xdotool getwindowgeometry --shell "$main")"
sleep 1

# Settings (the gear button) opens the dialog exactly over the main window.
click 400 256
dialog=$(window_named Settings) || fail "Settings did not open the dialog"
dx=$(xdotool getwindowgeometry --shell "$dialog" | sed -n 's/^X=//p')
dy=$(xdotool getwindowgeometry --shell "$dialog" | sed -n 's/^Y=//p')
[ "$dx,$dy" = "$X,$Y" ] || fail "dialog at $dx,$dy, main window at $X,$Y"

# SERVER: both dots green for the right password, red for a wrong one, green again.
click 140 50
wait_pixel 429 124 "$green" 10 || fail "address dot not green for the test server"
wait_pixel 429 150 "$green" 10 || fail "password dot not green for the right password"
click 380 150
xdotool key End key --repeat 40 BackSpace type wrong-password
wait_pixel 429 150 "$red" 10 || fail "password dot not red for a wrong password"
wait_pixel 429 124 "$green" 2 || fail "address dot not green with a wrong password"
xdotool key End key --repeat 40 BackSpace type "$KV_ICECAST_SOURCE_PASSWORD"
wait_pixel 429 150 "$green" 10 || fail "password dot not green again"

# The output chooser below: "+" adds output 2, chosen at once (its chip pressed), and
# its remove button takes it away before OK, output 1 chosen again and "+" back in place.
chosen='#505A6E'
click 133 222
wait_pixel 126 222 "$chosen" 2 || fail "+ did not add output 2 and choose it"
click 404 222
wait_pixel 103 222 "$chosen" 2 || fail "output 1 not chosen again after the removal"
wait_pixel 126 222 '#3C4150' 2 || fail "+ not back beside output 1"

# SYSTEM: Start with Windows and Auto reconnect on, then OK.
click 50 50
click 48 91
click 256 121
click 312 256
wait_for_mount /dialog 20 || fail "Auto reconnect: the stream did not start after OK"

run=$(wine reg query "$run_key" /v KelmVantoro 2>/dev/null | tr -d '\r')
echo "$run" | grep -q 'KelmVantoro.*REG_SZ.*KelmVantoro\.exe$' || fail "Run value missing: $run"

settings=$("${cli[@]}" settings --config "$work" | tr -d '\r')
for expected in persistentEncoding=true host=127.0.0.1 "port=$KV_ICECAST_PORT" mountPoint=/dialog \
    username=source bitrate=64000 heVersion=1 sampleRate=44100; do
  grep -qx -- "$expected" <<<"$settings" || fail "config.dat lacks $expected: $settings"
done

# While streaming, Settings shows only the toast (its red-brown above its centred
# line of text, over the middle of the window), gone two seconds later.
click 400 256
wait_pixel 230 120 '#AA381E' 2 || fail "no toast while streaming"
timeout 10 xdotool search --onlyvisible --name '^Settings$' >/dev/null 2>&1 && fail "the dialog opened while streaming"
sleep 2.5
[ "$(pixel 230 120)" != '#AA381E' ] || fail "the toast stayed"
[ -n "$(mount_json /dialog)" ] || fail "the stream stopped"

echo "settings dialog: dots, Run value, config.dat, Auto reconnect and toast as expected"
