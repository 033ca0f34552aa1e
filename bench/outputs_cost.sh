#!/usr/bin/env bash
# What further outputs cost: `kelm-vantoro-cli stream` for SECONDS from the test
# environment's tone source to its Icecast with
#   one    the first output alone (48 kHz stereo HE-AAC v1 at 64 kbit/s);
#   same8  eight outputs in that one encoding, each to a mount of its own;
#   mixed  four outputs in two encodings (HE-AAC v1 64k and AAC-LC 128k), two each;
#   lc     one output in AAC-LC at 128 kbit/s (the second encoding alone, to compare);
#   eight  eight outputs in eight encodings (HE-AAC v1 32/48/64k, HE-AAC v2 32/48k,
#          AAC-LC 96/128/192k): the most a session can ask of one machine;
# each REPEATS times, interleaved, as CPU time (user + system) and peak resident memory
# from GNU time. It prints best and median, eight outputs of one encoding as a multiple
# of one output, the mixed four against the two encodings alone, and the memory each
# output beyond the first adds. Run it through the environment, on the linux-release
# build:
#   scripts/testenv run bench/outputs_cost.sh [SECONDS [REPEATS]]   (default 30 and 3)
# KV_BENCH_SESSIONS="one same8" runs only the sessions named.
set -euo pipefail
seconds="${1:-30}"
repeats="${2:-3}"
source "$(dirname "$0")/bench_common.bash"

d="$(mktemp -d)"
trap 'rm -rf "$d"' EXIT

# config NAME MOUNT [EXTRA INI LINES...]
config() {
  local name=$1 mount=$2
  shift 2
  mkdir -p "$d/$name"
  bench_config "$d/$name" "$mount"
  local line
  for line in "$@"; do printf '%s\n' "$line" >>"$d/$name/config.ini"; done
}
config one /one
same=()
for n in 2 3 4 5 6 7 8; do same+=("[Output$n]" "mountPoint=/same$n"); done
config same8 /same1 "${same[@]}"
config mixed /mixed1 "[Output2]" "mountPoint=/mixed2" "[Output3]" "mountPoint=/mixed3" "heVersion=0" \
  "bitrate=128000" "[Output4]" "mountPoint=/mixed4" "heVersion=0" "bitrate=128000"
config lc /lc
eight=()
n=2
for encoding in "1 48000" "1 32000" "2 32000" "2 48000" "0 96000" "0 128000" "0 192000"; do
  read -r he rate <<<"$encoding"
  eight+=("[Output$n]" "mountPoint=/eight$n" "heVersion=$he" "bitrate=$rate")
  n=$((n + 1))
done
config eight /eight1 "${eight[@]}"
sed -i 's/^heVersion=.*/heVersion=0/; s/^bitrate=.*/bitrate=128000/' "$d/lc/config.ini"

# stream NAME: appends "NAME CPU_SECONDS PEAK_KB" to the results.
stream() {
  /usr/bin/time -f "%U %S %M" -o "$d/time.txt" "$cli" stream --config "$d/$1" --seconds "$seconds" \
    --probe-target "127.0.0.1:$KV_ICECAST_STATUS_PORT" >"$d/out.txt" 2>"$d/err.txt" ||
    { cat "$d/out.txt" "$d/err.txt" >&2; echo "$1 failed" >&2; exit 1; }
  grep -q '^Online | Internet: [A-Za-z ]* | Encoder: Connected' "$d/out.txt" ||
    { tail -n 3 "$d/out.txt" "$d/err.txt"; echo "$1: not every output went on air" >&2; exit 1; }
  awk -v n="$1" '{ printf "%s %.2f %d\n", n, $1 + $2, $3 }' "$d/time.txt" >>"$d/results.txt"
}

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for _ in $(seq "$repeats"); do
  for name in ${KV_BENCH_SESSIONS:-one same8 mixed lc eight}; do stream "$name"; done
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"

python3 - "$d/results.txt" "$seconds" "$repeats" <<'PY'
import statistics, sys
cpu, kb = {}, {}
for line in open(sys.argv[1]):
    name, seconds, peak = line.split()
    cpu.setdefault(name, []).append(float(seconds))
    kb.setdefault(name, []).append(int(peak))
best = {n: min(v) for n, v in cpu.items()}
median = {n: statistics.median(v) for n, v in cpu.items()}
print("CPU time (user + system) for %s s from the tone source, best / median of %s:" % (sys.argv[2], sys.argv[3]))
labels = [("one", "one output, HE-AAC v1 64k"), ("same8", "eight outputs, HE-AAC v1 64k"),
          ("mixed", "four outputs, two each of HE-AAC v1 64k and AAC-LC 128k"), ("lc", "one output, AAC-LC 128k"),
          ("eight", "eight outputs in eight encodings")]
for name, label in labels:
    if name not in best:
        continue
    print("  %-58s %.2f / %.2f s   peak %d KB" % (label, best[name], median[name], max(kb[name])))
for pick, what in ((best, "best"), (median, "median")):
    if "same8" in pick and "one" in pick:
        print("%s: eight outputs of one encoding %.2fx one output" % (what, pick["same8"] / pick["one"]))
    if "mixed" in pick and "lc" in pick:
        print("%s: the mixed four %.2fx the two encodings alone" % (what, pick["mixed"] / (pick["one"] + pick["lc"])))
if "same8" in kb:
    print("memory per output beyond the first, eight of one encoding: %.0f KB"
          % ((max(kb["same8"]) - max(kb["one"])) / 7.0))
if "eight" in median:
    print("eight encodings: %.1f %% of one core (median)" % (100.0 * median["eight"] / float(sys.argv[2])))
PY
