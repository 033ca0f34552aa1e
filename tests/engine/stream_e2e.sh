#!/usr/bin/env bash
# The headless encoder end to end: the stereo tone source goes on air on the real
# Icecast, a listener decodes the configured format and both tones, the data count
# grows at the bitrate, and stopping flushes and ends the mount.
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/stream_common.bash"
need_environment

d="$(mktemp -d)"
trap 'kill $pid $listener 2>/dev/null; rm -rf "$d"' EXIT
mount="/e2e-${KV_BUILD:-linux}"
# The true-peak limiter on (the -12 dBFS tones pass it untouched), so the line, not on a
# terminal, shows the loudness; the limiter's peak is the meter's.
write_config "$d" "$mount" "[System]" "persistentEncoding=false" "[DSP]" "truePeakEnabled=true"

# Natively the stream ends with Ctrl+C (SIGINT), as a presenter ends it; under Wine by
# its own clock.
if [ -z "${KV_EMULATOR:-}" ]; then limit=60; else limit=14; fi
"${stream_cmd[@]}" --config "$d" --seconds "$limit" >"$d/out.txt" 2>"$d/err.txt" &
pid=$!
listener=
wait_for_mount "$mount" 15 || { cat "$d/out.txt" "$d/err.txt"; fail "the mount never appeared"; }

# The title follows right after the handshake.
for _ in $(seq 50); do
  json="$(mount_json "$mount")"
  grep -q '"title"' <<<"$json" && break
  sleep 0.1
done
check() { python3 -c "import json,sys; s=json.loads(sys.argv[1]); sys.exit(0 if str(s.get(sys.argv[2])) == sys.argv[3] else 1)" "$json" "$1" "$2" ||
  fail "status document: $1 is not $2 in $json"; }
check title "Kelm Test Stream"
check server_name "Kelm Test Stream"
check genre "Testing"
check server_type "audio/aacp"
check ice-samplerate 44100
check ice-channels 2
check ice-bitrate 64

# A listener from now until the server closes the mount.
ffmpeg -nostdin -loglevel fatal -i "http://127.0.0.1:${KV_ICECAST_STATUS_PORT}$mount" -c copy -f adts "$d/listened.aac" &
listener=$!
sleep 3
probe="$(ffprobe -v error -show_entries stream=profile,sample_rate,channels -of default=nw=1 "http://127.0.0.1:${KV_ICECAST_STATUS_PORT}$mount")"
grep -qx "profile=HE-AAC" <<<"$probe" || fail "profile: $probe"
grep -qx "sample_rate=44100" <<<"$probe" || fail "sample rate: $probe"
grep -qx "channels=2" <<<"$probe" || fail "channels: $probe"

if [ -z "${KV_EMULATOR:-}" ]; then
  sleep 4
  kill -INT $pid
  interrupted=$SECONDS
fi
wait $pid
status=$?
if [ -n "${interrupted:-}" ] && [ $((SECONDS - interrupted)) -gt 8 ]; then
  fail "the stream took $((SECONDS - interrupted)) s to stop after Ctrl+C"
fi
pid=
[ $status -eq 0 ] || { cat "$d/out.txt" "$d/err.txt"; fail "stream exited with $status"; }
grep -q '^Stopped' "$d/out.txt" || fail "no 'Stopped' after the stop"
grep -q '^Online | Internet: Stable | Encoder: Connected | Audio: Quiet' "$d/out.txt" ||
  fail "indicators never read Stable / Connected / Quiet"
grep -q '| Name: Kelm Test Stream | Title: Kelm Test Stream | Listeners: [0-9]' "$d/out.txt" ||
  fail "the status poll never showed the mount"
grep -q '| 64 kbps | 44.1 kHz | Stereo | aacPlus |' "$d/out.txt" || fail "no quality text"
# The loudness meter on what the encoder receives: the -12 dBFS tones read about -13 LUFS
# short-term and -12 dBTP (up to 2 dB more where a busy machine left a gap in the
# capture: the step overshoots between the samples).
grep -Eq 'R [#-]+ \| -1[0-9]\.[0-9] LUFS \| TP -1[0-3]\.[0-9] dBTP' "$d/out.txt" ||
  fail "no loudness and true peak of the tones: $(grep '^Online' "$d/out.txt" | tail -n 1)"
wait_for_no_mount "$mount" 10 || fail "the mount stayed after the stop"

# The listener ends by itself when the server closes the mount.
for _ in $(seq 50); do kill -0 $listener 2>/dev/null || break; sleep 0.1; done
kill -0 $listener 2>/dev/null && fail "the listener was not released by the server"
listener=

ffmpeg -nostdin -loglevel fatal -i "$d/listened.aac" -ac 2 -ar 44100 "$d/listened.wav" || fail "the listened stream does not decode"
seconds="$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$d/listened.wav")"
python3 -c "import sys; sys.exit(0 if float(sys.argv[1]) > 4.0 else 1)" "$seconds" || fail "listened only $seconds s"
read -r left right <<<"$(tone_frequencies "$d/listened.wav")"
[ "$left" = 440 ] || fail "left tone at $left Hz"
[ "$right" = 660 ] || fail "right tone at $right Hz"

# Data sent grows at about the bitrate (64 kbit/s = 7.8 KB/s), once streaming runs.
python3 - "$d/out.txt" <<'PY' || fail "data rate off: $(grep -c Online "$d/out.txt") status lines"
import re, sys
points = []
for line in open(sys.argv[1]):
    m = re.search(r"\| (\d+):(\d\d):(\d\d) \| ([\d.]+) KB", line)
    if m and line.startswith("Online"):
        points.append((int(m.group(1)) * 3600 + int(m.group(2)) * 60 + int(m.group(3)), float(m.group(4))))
points = [p for p in points if p[0] >= 3]
if len(points) < 2:
    sys.exit(1)
(t0, k0), (t1, k1) = points[0], points[-1]
rate = (k1 - k0) / (t1 - t0)
print("data rate %.2f KB/s" % rate)
sys.exit(0 if 6.0 < rate < 10.0 else 1)
PY
echo "stream_e2e: ok"
