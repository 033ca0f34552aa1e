#!/usr/bin/env bash
# What the headless encoder's live path costs beside the encoding itself. In one run,
# with the test environment's tone source (440 Hz left, 660 Hz right, -12 dBFS) as
# 48 kHz stereo HE-AAC v1 at 64 kbit/s:
#   - the bare encoder (bench/bare-aac-encode, libfdk-aac and nothing else) encoding
#     SECONDS of the same tone from a WAV, flat out, paced in real time (each frame
#     taken when its sound would have been captured, as the live path must) and with
#     the live path's wake-ups and nothing else (a 20 ms capture cadence, a sender
#     thread woken per frame, a 100 ms tick: the floor under any live path built so);
#   - the offline processing chain on that WAV (`process` with every stage on minus
#     `process` with none, so reading and writing the files cancel out);
#   - `kelm-vantoro-cli stream` to the environment's Icecast for SECONDS, with
#     processing off and with every stage on;
# each REPEATS times, interleaved, as CPU time (user + system, GNU time). It prints the
# best and the median of each and the live path's CPU as a multiple of the encoder's
# (with every stage on: of the encoder's plus the offline chain's), best against best
# and median against median, and the stream's peak resident memory. Run it through the
# environment, on the linux-release build:
#   scripts/testenv run bench/stream_cost.sh [SECONDS [REPEATS]]   (default 60 and 3)
set -euo pipefail
seconds="${1:-60}"
repeats="${2:-3}"
source "$(dirname "$0")/bench_common.bash"

d="$(mktemp -d)"
trap 'rm -rf "$d"' EXIT

# The tone source's signal, as a WAV of the same duration.
python3 - "$d/tone.wav" "$seconds" <<'PY'
import math, struct, sys
rate, seconds = 48000, int(sys.argv[2])
amplitude = 32767 * 10 ** (-12 / 20)
second = []
for i in range(rate):
    for f in (440, 660):
        second.append(int(round(amplitude * math.sin(2 * math.pi * f * i / rate))))
data = struct.pack("<%dh" % len(second), *second) * seconds
with open(sys.argv[1], "wb") as out:
    out.write(b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVEfmt ")
    out.write(struct.pack("<IHHIIHH", 16, 1, 2, rate, rate * 4, 4, 16))
    out.write(b"data" + struct.pack("<I", len(data)) + data)
PY

# Two settings folders: every processing stage off, and every stage on.
for dsp in off on; do
  mkdir -p "$d/$dsp"
  bench_config "$d/$dsp" /bench
  [ "$dsp" = on ] && cat >>"$d/$dsp/config.ini" <<INI
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
done

# timed NAME CMD...: appends "NAME CPU_SECONDS PEAK_KB" to the results.
timed() {
  local name="$1"
  shift
  /usr/bin/time -f "%U %S %M" -o "$d/time.txt" "$@" >"$d/out.txt" 2>"$d/err.txt" ||
    { cat "$d/out.txt" "$d/err.txt" >&2; echo "$name failed" >&2; exit 1; }
  awk -v n="$name" '{ printf "%s %.2f %d\n", n, $1 + $2, $3 }' "$d/time.txt" >>"$d/results.txt"
}

stream() {
  timed "$1" "$cli" stream --config "$d/$2" --seconds "$seconds" \
    --probe-target "127.0.0.1:$KV_ICECAST_STATUS_PORT"
  grep -q '^Online' "$d/out.txt" || { cat "$d/out.txt" "$d/err.txt"; echo "the stream did not go on air" >&2; exit 1; }
  tail -n 2 "$d/out.txt" | head -n 1 >"$d/last-$1.txt"
}

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for _ in $(seq "$repeats"); do
  timed encoder "$bare" "$d/tone.wav" "$d/tone.aac" 1 64000
  timed encoder_paced env KV_BARE_PACED=1 "$bare" "$d/tone.wav" "$d/tone.aac" 1 64000
  timed encoder_wakes env KV_BARE_PACED=live "$bare" "$d/tone.wav" "$d/tone.aac" 1 64000
  timed process_off "$cli" process --config "$d/off" "$d/tone.wav" "$d/plain.wav"
  timed process_on "$cli" process --config "$d/on" "$d/tone.wav" "$d/shaped.wav"
  stream live_off off
  stream live_on on
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"

python3 - "$d/results.txt" "$seconds" "$repeats" "$(cat "$d/last-live_on.txt")" <<'PY'
import statistics, sys
runs = {}
peak = 0
for line in open(sys.argv[1]):
    name, cpu, kb = line.split()
    runs.setdefault(name, []).append(float(cpu))
    if name.startswith("live"):
        peak = max(peak, int(kb))
seconds, repeats = float(sys.argv[2]), sys.argv[3]
best = {n: min(v) for n, v in runs.items()}
median = {n: statistics.median(v) for n, v in runs.items()}
print("CPU time (user + system) for %.0f s of 48 kHz stereo HE-AAC v1 64 kbit/s, best / median of %s:"
      % (seconds, repeats))
labels = [("encoder", "bare fdk-aac encoder"), ("encoder_paced", "bare encoder, paced in real time"),
          ("encoder_wakes", "bare encoder with the live wake-ups"), ("chain", "offline processing chain, every stage on"),
          ("live_off", "live stream, processing off"), ("live_on", "live stream, every stage on")]
for pick in (best, median):
    pick["chain"] = max(pick["process_on"] - pick["process_off"], 0.0)
for key, label in labels:
    print("  %-44s %6.2f s  %6.2f s  (%.2f %% of one core)" % (label, best[key], median[key], 100 * best[key] / seconds))
for name, pick in (("best", best), ("median", median)):
    off = pick["live_off"] / pick["encoder"]
    on = pick["live_on"] / (pick["encoder"] + pick["chain"])
    print("live path / encoder (%s): processing off %.2fx, every stage on %.2fx (encoder + chain)" % (name, off, on))
for name, pick in (("best", best), ("median", median)):
    print("paced encoder / encoder (%s): %.2fx; encoder with the live wake-ups / encoder: %.2fx;"
          " live path / encoder with the live wake-ups, processing off: %.2fx"
          % (name, pick["encoder_paced"] / pick["encoder"], pick["encoder_wakes"] / pick["encoder"],
             pick["live_off"] / pick["encoder_wakes"]))
print("peak resident memory of the stream: %.1f MB" % (peak / 1024))
print("last status line:", sys.argv[4])
PY
