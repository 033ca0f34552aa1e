#!/usr/bin/env bash
# The dead-air alarm end to end: the stereo tone goes on air, plays 28 dB down (a quiet
# program, which never sounds the alarm), then its source is muted for about 12 s and
# opened again. The alarm starts 5-7 s into the silence with its line, the status line
# says "Audio: Dead air" meanwhile, and the sound coming back ends it within 2 s with
# the length of the silence. Natively only: under Wine the
# diagnostic lines go to the debugger output rather than standard error, and the same
# supervisor decides on the same levels (StreamSupervisorTest, DeadAirAlarmTest).
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/stream_common.bash"
need_environment
if [ -n "${KV_EMULATOR:-}" ]; then
  echo "skipped: the alarm's lines are read from standard error, natively"
  exit 0
fi
build="${KV_BUILD:-linux}"

d="$(mktemp -d)"
pid=
module=
cleanup() {
  [ -n "$pid" ] && kill $pid 2>/dev/null
  [ -n "$module" ] && pactl unload-module "$module" 2>/dev/null
  rm -rf "$d"
}
trap cleanup EXIT

# A source of its own on the tone feed, so that muting it silences no other test.
source_name="kv_dead_air_${build//-/_}"
module="$(pactl load-module module-remap-source source_name="$source_name" master=kv_feed_stereo.monitor \
  source_properties=device.description=KelmDeadAir)" || fail "cannot load a source"
id=
for _ in $(seq 50); do
  id="$("${cli[@]}" devices 2>/dev/null | tr -d '\r' | awk -F'\t' '$1 == "capture" && $3 == "KelmDeadAir" { print $4 }')"
  [ -n "$id" ] && break
  sleep 0.2
done
[ -n "$id" ] || fail "the program does not list the new source"

mount="/dead-air-$build"
write_config "$d" "$mount" "[Audio]" "deviceEndpointId=$id" "[System]" "persistentEncoding=false" \
  "silenceSeconds=5" "silenceThresholdDb=-50"
"${stream_cmd[@]}" --config "$d" --seconds 60 >"$d/out.txt" 2>"$d/err.txt" &
pid=$!
wait_for_mount "$mount" 15 || { cat "$d/out.txt" "$d/err.txt"; fail "the mount never appeared"; }
sleep 2
grep -q 'Dead air' "$d/out.txt" "$d/err.txt" && fail "dead air while the tone plays"

# seconds_since START: elapsed seconds, two decimals.
seconds_since() { python3 -c "import sys; print('%.2f' % (float(sys.argv[2]) - float(sys.argv[1])))" "$1" "$EPOCHREALTIME"; }
within() { python3 -c "import sys; sys.exit(0 if float(sys.argv[2]) <= float(sys.argv[1]) <= float(sys.argv[3]) else 1)" "$@"; }

# A quiet program is no dead air: the tone 28 dB down (-40 dBFS) for longer than the
# alarm's time.
pactl set-source-volume "$source_name" -28dB || fail "cannot turn the source down"
sleep 7
grep -q 'Dead air' "$d/out.txt" "$d/err.txt" && fail "dead air on a quiet (-40 dBFS) program"
pactl set-source-volume "$source_name" 0dB || fail "cannot turn the source up"

pactl set-source-mute "$source_name" 1 || fail "cannot mute the source"
muted=$EPOCHREALTIME
wait_for_text "$d/err.txt" 'Dead air: no sound above -50 dBFS for 5 s$' 12 ||
  { cat "$d/out.txt" "$d/err.txt"; fail "no dead-air line after 12 s of silence"; }
started="$(seconds_since "$muted")"
within "$started" 4.9 7 || fail "the alarm started $started s into the silence, not 5-7 s"
wait_for_text "$d/out.txt" ' | Audio: Dead air | ' 3 || { tail -n 3 "$d/out.txt"; fail "the status line does not say Dead air"; }

# Silent for about 12 s in all, then the tone again.
while within "$(seconds_since "$muted")" 0 12; do sleep 0.1; done
pactl set-source-mute "$source_name" 0 || fail "cannot unmute the source"
unmuted=$EPOCHREALTIME
wait_for_text "$d/err.txt" 'Sound is back after' 4 || { cat "$d/err.txt"; fail "the alarm did not end"; }
ended="$(seconds_since "$unmuted")"
within "$ended" 0 2 || fail "the alarm ended $ended s after the tone, not within 2 s"
back="$(grep -o 'Sound is back after [0-9]* s$' "$d/err.txt")"
length="${back//[^0-9]/}"
# The silence is measured on what reached the encoder: on a busy machine the capture can
# fall behind before the mute and lose what the server held for it, so the last sound
# it saw may lie up to its 3 s stall limit before the mute.
[ -n "$length" ] && [ "$length" -ge 11 ] && [ "$length" -le 15 ] || fail "silence of 12 s reported as: $back"
[ "$(grep -c 'Dead air:' "$d/err.txt")" -eq 1 ] || fail "the start was logged more than once: $(cat "$d/err.txt")"
sleep 1.5
tail -n 1 "$d/out.txt" | grep -q ' | Audio: Dead air | ' && fail "the status line still says Dead air"

kill -INT $pid
wait $pid
status=$?
pid=
[ $status -eq 0 ] || { cat "$d/out.txt" "$d/err.txt"; fail "stream exited with $status"; }
echo "dead_air_e2e: ok (alarm after $started s, ended $ended s after the tone, $back)"
