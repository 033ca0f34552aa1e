#!/usr/bin/env bash
# CPU time and peak memory of the headless encoder while it streams 48 kHz stereo
# HE-AAC v1 with every processing stage on, from the test environment's tone source to
# its Icecast. Run it through the environment:
#   scripts/testenv run bench/stream_cost.sh [SECONDS]   (default 60; linux-release build)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-60}"
cli="$root/build/linux-release/kelm-vantoro-cli"
[ -x "$cli" ] || { echo "build the linux-release preset first" >&2; exit 1; }
[ -n "${KV_ICECAST_PORT:-}" ] || { echo "run it through scripts/testenv run" >&2; exit 1; }

d="$(mktemp -d)"
trap 'rm -rf "$d"' EXIT
cat >"$d/config.ini" <<INI
[Icecast]
host=127.0.0.1
port=$KV_ICECAST_PORT
mountPoint=/bench
password=$KV_ICECAST_SOURCE_PASSWORD
streamName=Benchmark
[Audio]
sampleRate=48000
channels=2
[Encoder]
heVersion=1
bitrate=64000
[DSP]
hpfEnabled=true
gateEnabled=true
gainEnabled=true
gainDb=30
agcEnabled=true
compEnabled=true
boostEnabled=true
bassEnabled=true
stereoWidthEnabled=true
limiterEnabled=true
codecPreEnabled=true
INI

/usr/bin/time -v -o "$d/time.txt" "$cli" stream --config "$d" --seconds "$seconds" \
  --probe-target "127.0.0.1:$KV_ICECAST_STATUS_PORT" >"$d/out.txt" 2>"$d/err.txt"
grep -q '^Online' "$d/out.txt" || { cat "$d/out.txt" "$d/err.txt"; echo "the stream did not go on air" >&2; exit 1; }
python3 - "$d/time.txt" "$seconds" "$(tail -n 2 "$d/out.txt" | head -n 1)" <<'PY'
import re, sys
text = open(sys.argv[1]).read()
seconds = float(sys.argv[2])
def field(name):
    return re.search(re.escape(name) + r":\s*([\d.:]+)", text).group(1)
cpu = float(field("User time (seconds)")) + float(field("System time (seconds)"))
rss_kb = int(field("Maximum resident set size (kbytes)"))
print("streamed %.0f s: CPU %.2f s = %.2f %% of one core; peak resident %.1f MB" %
      (seconds, cpu, 100 * cpu / seconds, rss_kb / 1024))
print("last status line:", sys.argv[3])
PY
