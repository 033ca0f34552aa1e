#!/usr/bin/env bash
# How long a sound takes from the input device to a listener, measured once: clicks
# are played into the test environment's stereo tone source while the headless encoder
# streams it (48 kHz stereo HE-AAC v1 64 kbit/s, processing off) to the environment's
# Icecast; a direct recording of the source and a listener on the mount note when each
# click reaches them. Printed per click and as the median: the whole delay source ->
# listener, the part the codec needs by itself (a whole frame of input plus its look-
# ahead, measured offline with bench/bare-aac-encode and ffmpeg), and the rest, which is
# what capture, queue, sender and server add. KV_BENCH_HE=0 KV_BENCH_BITRATE=128000
# measures AAC-LC at 128 kbit/s instead (its small frames leave the send queue two at a
# time). Run it through the environment, on the linux-release build:
#   scripts/testenv run bench/capture_latency.sh
set -euo pipefail
source "$(dirname "$0")/bench_common.bash"

d="$(mktemp -d)"
trap 'kill "$stream" 2>/dev/null && wait "$stream" || true; rm -rf "$d"' EXIT
bench_config "$d" /latency
"$cli" stream --config "$d" --seconds 20 --probe-target "127.0.0.1:$KV_ICECAST_STATUS_PORT" >"$d/out.txt" 2>&1 &
stream=$!
sleep 3
python3 "$root/bench/capture_latency.py" "$d" "$bare" "$KV_ICECAST_STATUS_PORT" /latency
