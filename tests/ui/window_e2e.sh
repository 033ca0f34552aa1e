#!/usr/bin/env bash
# The real KelmVantoro.exe under Wine, driven like a presenter would: it starts beside
# a config.ini with "autoStartEncode" and goes on air (a listener hears both tones, the
# Start button turns "Online" green); a second start leaves it alone; the server goes
# away and comes back under "Auto reconnect"; the X zone and EXIT end it with exit code
# 0; the control interface stops and starts it, and the window shows each at once; a
# wrong password brings the alert; with three outputs, one refused, the other two
# go on air and the encoder indicator shows the partial state. Pixels are read from screenshots; glyphs are not
# (the fonts are substituted under Wine).
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/../engine/stream_common.bash"
need_environment
[ -n "${KV_GUI:-}" ] && [ -f "$KV_GUI" ] || { echo "skipped: needs the Windows build"; exit 0; }
testenv="$KV_SOURCE_DIR/scripts/testenv"

d="$(mktemp -d)"
pid=
listener=
cleanup() {
  [ -n "$listener" ] && kill "$listener" 2>/dev/null
  [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  ensure_icecast_running
  rm -rf "$d"
}
trap cleanup EXIT
cp "$KV_GUI" "$d/KelmVantoro.exe"
export KV_PROBE_TARGET="127.0.0.1:$KV_ICECAST_STATUS_PORT"

# Start button fills (normal), exit dialog and alert background.
online=#22A038 reconnecting=#D27814 disconnected=#C83232 idle=#3C4150 popup=#AA381E

start_program() {
  wine "$d/KelmVantoro.exe" >>"$d/wine.log" 2>&1 &
  pid=$!
}

# Finds the main window and its top-left corner (wx, wy) and centre (cx, cy).
find_window() {
  local wid=
  for _ in $(seq 300); do
    wid="$(timeout 10 xdotool search --name '^Kelm Vantoro$' 2>/dev/null | head -1)"
    [ -n "$wid" ] && break
    sleep 0.1
  done
  [ -n "$wid" ] || fail "no main window"
  eval "$(xdotool getwindowgeometry --shell "$wid")"
  [ "$WIDTH" = 460 ] && [ "$HEIGHT" = 284 ] || fail "window is ${WIDTH}x$HEIGHT"
  wx=$X wy=$Y cx=$((X + 230)) cy=$((Y + 142))
}

shot() { import -window root "$d/shot.png" 2>/dev/null; }
pixel() { convert "$d/shot.png" -crop "1x1+$1+$2" +repage -depth 8 txt:- | grep -o '#[0-9A-F]\{6\}' | head -1; }
start_fill() { pixel $((wx + 18)) $((wy + 256)); }

# wait_for_start_fill COLOUR SECONDS
wait_for_start_fill() {
  local end=$((SECONDS + $2))
  while [ $SECONDS -lt $end ]; do
    shot
    [ "$(start_fill)" = "$1" ] && return 0
    sleep 0.2
  done
  return 1
}

# wait_for_popup DX SECONDS: a popup's background DX left of the window's centre (the
# exit dialog is 280 pixels wide, the alert 380, both centred on the window).
wait_for_popup() {
  local end=$((SECONDS + $2))
  while [ $SECONDS -lt $end ]; do
    shot
    [ "$(pixel $((cx - $1)) "$cy")" = "$popup" ] && return 0
    sleep 0.2
  done
  return 1
}

# --- on air at start, "Online" green, both tones heard.
mount="/window-${KV_BUILD:-windows}"
control="http://127.0.0.1:8193"
write_config "$d" "$mount" "[System]" "autoStartEncode=true" "persistentEncoding=true" \
  "[Control]" "enabled=true" "listen=127.0.0.1:8193" "token=window-test-token"
start_program
find_window
wait_for_mount "$mount" 30 || { cat "$d/wine.log"; fail "the mount never appeared"; }
wait_for_start_fill "$online" 10 || fail "Start button is $(start_fill), not Online green"
[ "$(pixel $((wx + 300)) $((wy + 3)))" = "#2C2E36" ] || fail "title strip is $(pixel $((wx + 300)) $((wy + 3)))"
[ "$(pixel $((wx + 4)) $((wy + 230)))" = "#202228" ] || fail "background is $(pixel $((wx + 4)) $((wy + 230)))"

ffmpeg -nostdin -loglevel fatal -i "http://127.0.0.1:${KV_ICECAST_STATUS_PORT}$mount" -t 4 -c copy -f adts "$d/heard.aac" &
listener=$!
wait "$listener"
listener=
ffmpeg -nostdin -loglevel fatal -i "$d/heard.aac" -ac 2 -ar 44100 "$d/heard.wav" || fail "the stream does not decode"
read -r left right <<<"$(tone_frequencies "$d/heard.wav")"
[ "$left" = 440 ] && [ "$right" = 660 ] || fail "heard $left Hz / $right Hz"

# --- a second start brings the first forward and ends with 0; the stream stays.
timeout 30 wine "$d/KelmVantoro.exe" >>"$d/wine.log" 2>&1
status=$?
[ $status -eq 0 ] || fail "second start exited with $status"
kill -0 "$pid" 2>/dev/null || fail "the first copy ended"
[ -n "$(mount_json "$mount")" ] || fail "the stream went away after the second start"

# --- the server goes away: the caption alternates; it comes back: "Online" again.
"$testenv" icecast stop
seen=
end=$((SECONDS + 40))
while [ $SECONDS -lt $end ]; do
  shot
  case "$(start_fill)" in
    "$reconnecting") [[ $seen == *R* ]] || seen="${seen}R" ;;
    "$disconnected") [[ $seen == *D* ]] || seen="${seen}D" ;;
  esac
  [ ${#seen} = 2 ] && break
  # Uneven pauses: on a busy machine a screenshot can take as long as a blink, and
  # even steps would then see the same phase every time.
  sleep "0.$((RANDOM % 9 + 1))"
done
[ ${#seen} = 2 ] || fail "caption did not alternate Reconnecting/Disconnected (seen: '$seen', now $(start_fill))"
"$testenv" icecast start
wait_for_mount "$mount" 20 || fail "not back on air after the server returned"
wait_for_start_fill "$online" 10 || fail "Start button is $(start_fill) after the reconnection"

# --- the control interface: a stop turns the window to "Start" with the encoder
# "Offline" (red), a start back to "Online".
encoder_dot() { pixel $((wx + 440)) $((wy + 71)); }
reply="$(curl -sS --max-time 30 -X POST -H 'Authorization: Bearer window-test-token' "$control/stop")"
grep -q '"result":"stopped"' <<<"$reply" || fail "POST /stop: $reply"
wait_for_start_fill "$idle" 5 || fail "Start button is $(start_fill) after POST /stop"
[ "$(encoder_dot)" = "#EF4444" ] || fail "encoder indicator is $(encoder_dot) after POST /stop, not Offline red"
wait_for_no_mount "$mount" 10 || fail "the mount stayed after POST /stop"
reply="$(curl -sS --max-time 70 -X POST -H 'Authorization: Bearer window-test-token' "$control/start")"
grep -q '"result":"on air"' <<<"$reply" || fail "POST /start: $reply"
wait_for_start_fill "$online" 5 || fail "Start button is $(start_fill) after POST /start"
wait_for_mount "$mount" 10 || fail "not on air after POST /start"

# --- the X zone opens the exit dialog; EXIT ends the program with 0 and the mount goes.
xdotool mousemove $((wx + 445)) $((wy + 12)) click 1
wait_for_popup 130 10 || fail "no exit dialog after a click on X"
xdotool mousemove $((cx - 140 + 82)) $((cy - 60 + 87)) click 1
for _ in $(seq 150); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null && fail "EXIT did not end the program"
wait "$pid"
status=$?
pid=
[ $status -eq 0 ] || fail "exit code $status after EXIT"
wait_for_no_mount "$mount" 10 || fail "the mount stayed after EXIT"

# --- a wrong password: the alert, nothing on air, the button back at "Start".
mount="/window-refused-${KV_BUILD:-windows}"
write_config "$d" "$mount" "[System]" "autoStartEncode=true"
sed -i "s/^password=.*/password=not-the-password/" "$d/config.ini"
start_program
find_window
wait_for_popup 180 30 || fail "no alert for the wrong password"
[ "$(start_fill)" = "$idle" ] || fail "Start button is $(start_fill) under the alert"
[ -z "$(mount_json "$mount")" ] || fail "the refused stream is on the server"
kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
pid=

# --- three outputs, one refused: the other two go on air without an alert, and the
# encoder indicator is yellow ("2 of 3 on air") while the Start button is Online.
mount="/window-outputs-${KV_BUILD:-windows}"
write_config "$d" "$mount" "[System]" "autoStartEncode=true" "persistentEncoding=true" \
  "[Output2]" "mountPoint=$mount-lc" "heVersion=0" "bitrate=128000" \
  "[Output3]" "port=9"
start_program
find_window
wait_for_mount "$mount" 30 && wait_for_mount "$mount-lc" 30 || { cat "$d/wine.log"; fail "not every output went on air"; }
wait_for_start_fill "$online" 10 || fail "Start button is $(start_fill) with one output refused"
end=$((SECONDS + 10))
while [ $SECONDS -lt $end ]; do shot; [ "$(encoder_dot)" = "#EAB308" ] && break; sleep 0.2; done
[ "$(encoder_dot)" = "#EAB308" ] || fail "encoder indicator is $(encoder_dot), not the yellow of 2 of 3 on air"
[ "$(pixel $((cx - 180)) "$cy")" = "$popup" ] && fail "an alert for the refused output"
echo "window_e2e: on air, tones heard, second start, reconnection, exit, alert and several outputs all behaved"
