#!/usr/bin/env bash
# Several outputs from one capture: four outputs to two real Icecast servers in two
# encodings (HE-AAC v1 64k and AAC-LC 128k), and a fifth to a port that refuses. Every
# mount goes on air with its encoding and the title, the refused output retries while the
# others stream, and an output whose section holds only a port streams the first
# output's encoding to the second server. Then the second server freezes for 20 s: the
# first server's listener hears a continuous stream throughout, the frozen server's
# outputs are reported lost, and after a restart of that server they come back alone.
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/stream_common.bash"
need_environment
testenv="$KV_SOURCE_DIR/scripts/testenv"

d="$(mktemp -d)"
pid=
listener=
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null
  [ -n "$listener" ] && kill "$listener" 2>/dev/null
  "$testenv" icecast thaw second 2>/dev/null
  rm -rf "$d"
}
trap cleanup EXIT
"$testenv" icecast start second >/dev/null || fail "the second server did not start"
second_status="http://127.0.0.1:$KV_ICECAST2_STATUS_PORT/status-json.xsl"

tag="${KV_BUILD:-linux}"
write_config "$d" "/he-$tag" "[Audio]" "sampleRate=48000" "[System]" "persistentEncoding=true" \
  "[Output2]" "mountPoint=/lc-$tag" "heVersion=0" "bitrate=128000" \
  "[Output3]" "port=$KV_ICECAST2_PORT" \
  "[Output4]" "port=$KV_ICECAST2_PORT" "mountPoint=/lc-$tag" "heVersion=0" "bitrate=128000" \
  "[Output5]" "port=9" "mountPoint=/refused-$tag" \
  "[Output6]" "enabled=false" "mountPoint=/disabled-$tag"

# mounts_on STATUS_URL: "mount type bitrate title" of each source, one a line.
mounts_on() {
  curl -fsS --max-time 2 "$1" 2>/dev/null | python3 -c '
import json, sys
try:
    sources = json.load(sys.stdin).get("icestats", {}).get("source", [])
except ValueError:
    sys.exit(0)
if isinstance(sources, dict):
    sources = [sources]
for s in sources:
    print(s["listenurl"].rsplit("/", 1)[1], s.get("server_type"), s.get("ice-bitrate"), s.get("title", "-"))
'
}
# wait_for_lines SECONDS STATUS_URL N: true once N mounts on that server carry the title.
wait_for_lines() {
  for _ in $(seq $(($1 * 10))); do
    [ "$(mounts_on "$2" | grep -c 'Kelm Test Stream')" -ge "$3" ] && return 0
    sleep 0.1
  done
  return 1
}

"${stream_cmd[@]}" --config "$d" --seconds 300 >"$d/out.txt" 2>"$d/err.txt" &
pid=$!
wait_for_lines 30 "$status_url" 2 && wait_for_lines 30 "$second_status" 2 ||
  { cat "$d/err.txt"; mounts_on "$status_url"; mounts_on "$second_status"; fail "not every mount went on air"; }
for server in "$status_url" "$second_status"; do
  mounts="$(mounts_on "$server")"
  grep -qx "he-$tag audio/aacp 64 Kelm Test Stream" <<<"$mounts" || fail "HE-AAC mount: $mounts"
  grep -qx "lc-$tag audio/aac 128 Kelm Test Stream" <<<"$mounts" || fail "AAC-LC mount: $mounts"
done
mounts_on "$status_url" | grep -q "disabled-$tag" && fail "a disabled output went on air"
grep -q "Streaming to 127.0.0.1:$KV_ICECAST2_PORT/lc-$tag" "$d/out.txt" || fail "no start line for output 4"

# Listen to the first server's AAC-LC mount while the second server is frozen.
ffmpeg -nostdin -loglevel fatal -i "http://127.0.0.1:${KV_ICECAST_STATUS_PORT}/lc-$tag" -c copy -f adts \
  "$d/listened.aac" &
listener=$!
sleep 2
"$testenv" icecast freeze second
started=$SECONDS
sleep 20
"$testenv" icecast thaw second
kill -INT $listener
wait $listener 2>/dev/null
listener=
listened=$((SECONDS - started + 2))
grep -q "Outputs: 1 on air, 2 on air, 3 [a-z]" "$d/out.txt" || fail "the frozen outputs were never reported off air"
# Continuous: at least the wall time of listening, less a second for the connection.
ffmpeg -nostdin -loglevel fatal -i "$d/listened.aac" -ac 2 "$d/listened.wav" || fail "the listened stream does not decode"
seconds="$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$d/listened.wav")"
python3 -c "import sys; sys.exit(0 if float(sys.argv[1]) >= float(sys.argv[2]) - 1.5 else 1)" "$seconds" "$listened" ||
  fail "the first server's listener heard $seconds s in $listened s while the second server was frozen"
read -r left right <<<"$(tone_frequencies "$d/listened.wav")"
[ "$left" = 440 ] && [ "$right" = 660 ] || fail "tones at $left / $right Hz"

# The frozen server restarted: its outputs come back on their own.
"$testenv" icecast stop second
"$testenv" icecast start second >/dev/null || fail "the second server did not restart"
wait_for_lines 60 "$second_status" 2 || { tail -n 5 "$d/err.txt"; fail "the second server's outputs did not come back"; }
wait_for_lines 1 "$status_url" 2 || fail "the first server's mounts went off air"

# Natively the stream ends with Ctrl+C; under Wine it is ended from outside.
if [ -z "${KV_EMULATOR:-}" ]; then
  kill -INT $pid
  wait $pid
  status=$?
  pid=
  [ $status -eq 0 ] || { cat "$d/err.txt"; fail "stream exited with $status"; }
fi
grep -q "Output 5 (127.0.0.1:9/refused-$tag) is not on air" "$d/err.txt" || fail "no reason for output 5: $(cat "$d/err.txt")"
# The refused output counted down to a new attempt again and again: its seconds to the
# next attempt rose at least twice.
python3 - "$d/out.txt" <<'PY' || fail "the refused output did not retry: $(grep -o 'Outputs: .*' "$d/out.txt" | tail -n 3)"
import re, sys
left = [int(m.group(1)) for m in (re.search(r"Outputs: .*5 retry (\d+)s", l) for l in open(sys.argv[1])) if m]
sys.exit(0 if sum(1 for a, b in zip(left, left[1:]) if b > a) >= 2 else 1)
PY
echo "outputs_e2e: ok (listened $seconds s of $listened s with the second server frozen for 20 s)"
