# Shared by the benchmark scripts: the linux-release programs they time, and a check
# that they run inside the test environment. Sourced, not run.
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build/linux-release"
cli="${KV_BENCH_CLI:-$build/kelm-vantoro-cli}" # KV_BENCH_CLI: another build to compare
bare="$build/bench/bare-aac-encode"
[ -x "$cli" ] && [ -x "$bare" ] || { echo "build the linux-release preset first" >&2; exit 1; }
[ -n "${KV_ICECAST_PORT:-}" ] || { echo "run it through scripts/testenv run" >&2; exit 1; }

# bench_config DIR MOUNT: settings for 48 kHz stereo HE-AAC v1 at 64 kbit/s (or
# KV_BENCH_HE and KV_BENCH_BITRATE; KV_BENCH_CODEC=mp3 or opus for those codecs) to the environment's Icecast at MOUNT; KV_BENCH_DSP
# adds [DSP] lines (for example "truePeakEnabled=true", to measure what the true-peak
# limiter's look-ahead adds).
bench_config() {
  cat >"$1/config.ini" <<INI
[Icecast]
host=127.0.0.1
port=$KV_ICECAST_PORT
mountPoint=$2
password=$KV_ICECAST_SOURCE_PASSWORD
streamName=Benchmark
[Audio]
sampleRate=48000
channels=2
[Encoder]
codec=${KV_BENCH_CODEC:-aac}
heVersion=${KV_BENCH_HE:-1}
bitrate=${KV_BENCH_BITRATE:-64000}
[DSP]
${KV_BENCH_DSP:-}
INI
}
