#!/usr/bin/env bash
# kelm-vantoro-cli encode: a WAV recording along the stream path into ADTS that ffmpeg
# decodes as the configured profile, rate and channels (in both builds), and the error
# rules: one message line, exit status 2 for bad input, OUT untouched.
set -euo pipefail
cli=(${KV_EMULATOR:-} "$KV_CLI")
dir="$(mktemp -d)"
trap 'rm -rf "$dir"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
command -v ffprobe >/dev/null && command -v ffmpeg >/dev/null || fail "ffprobe/ffmpeg not installed"

# OUT.wav RATE FREQ... : 4 s of 16-bit tones at -12 dBFS, one frequency per channel.
make_wav() {
  python3 - "$@" <<'PY'
import math, struct, sys, wave
path, rate, freqs = sys.argv[1], int(sys.argv[2]), [float(f) for f in sys.argv[3:]]
amplitude = 32767 * 10 ** (-12 / 20)
samples = []
for i in range(4 * rate):
    for f in freqs:
        samples.append(int(round(amplitude * math.sin(2 * math.pi * f * i / rate))))
with wave.open(path, "wb") as w:
    w.setnchannels(len(freqs)); w.setsampwidth(2); w.setframerate(rate)
    w.writeframes(struct.pack("<%dh" % len(samples), *samples))
PY
}

# DIR RATE CHANNELS HEVERSION BITRATE: a fresh configuration folder.
make_config() {
  rm -rf "$1"; mkdir -p "$1"
  printf '[Audio]\nsampleRate = %s\nchannels = %s\n[Encoder]\nheVersion = %s\nbitrate = %s\n' "$2" "$3" "$4" "$5" >"$1/config.ini"
}

probe() { ffprobe -v error -select_streams a:0 -show_entries "stream=$2" -of default=nw=1:nk=1 "$1"; }

# AAC RATE CHANNELS BITRATE FRAMELENGTH FREQ...: decoded length at least 4 s (the
# codec delay is drained at the end) and at most four frames more, average bitrate
# within 8 %, and every channel led by its own tone.
check_decoded() {
  local aac="$1" rate="$2" channels="$3"
  ffmpeg -nostdin -v error -y -i "$aac" -f s16le -acodec pcm_s16le "$dir/decoded.raw"
  python3 - "$dir/decoded.raw" "$(stat -c %s "$aac")" "$@" <<'PY'
import math, struct, sys
raw, size = sys.argv[1], int(sys.argv[2])
rate, channels, bitrate, frame = (int(v) for v in sys.argv[4:8])
freqs = [float(f) for f in sys.argv[8:]]
data = open(raw, "rb").read()
frames = len(data) // (2 * channels)
samples = struct.unpack("<%dh" % (frames * channels), data[:frames * channels * 2])
problems = []
if not 4 * rate <= frames <= 4 * rate + 4 * frame:
    problems.append("decoded %d frames, expected %d and the codec delay" % (frames, 4 * rate))
actual = size * 8 * rate / max(frames, 1)
if abs(actual - bitrate) > 0.08 * bitrate:
    problems.append("bitrate %.0f, expected %d" % (actual, bitrate))
def power(channel, f):
    c = 2 * math.cos(2 * math.pi * f / rate); s1 = s2 = 0.0
    for v in samples[channel + rate * channels: channel + 2 * rate * channels: channels]:
        s1, s2 = v + c * s1 - s2, s1
    return 10 * math.log10(s1 * s1 + s2 * s2 - c * s1 * s2 + 1)
for ch in range(channels):
    wanted = freqs[ch % len(freqs)]
    for other in set(freqs) - {wanted}:
        if power(ch, wanted) - power(ch, other) < 15:
            problems.append("channel %d: %g Hz does not lead %g Hz" % (ch, wanted, other))
    if power(ch, wanted) < 150:
        problems.append("channel %d is nearly silent" % ch)
if problems:
    print("; ".join(problems)); sys.exit(1)
PY
}

make_wav "$dir/stereo48.wav" 48000 1000 1500
make_wav "$dir/mono44.wav" 44100 1000

# input rate channels heVersion bitrate | ffprobe profile, channels | frame length | tones per decoded channel
while read -r -u 3 input rate channels he bitrate profile decoded frame tones; do
  name="$input-$rate-$channels-$he-$bitrate"
  make_config "$dir/cfg" "$rate" "$channels" "$he" "$bitrate"
  out="$("${cli[@]}" encode --config "$dir/cfg" "$dir/$input.wav" "$dir/$name.aac" 2>"$dir/stderr")" ||
    fail "$name: exit status $?: $(cat "$dir/stderr")"
  grep -q $'\r' <<<"$out" && fail "$name: carriage returns in the output"
  grep -qx "sampleRate=$rate" <<<"$out" || fail "$name: output: $out"
  grep -qx "bitrate=$bitrate" <<<"$out" || fail "$name: output: $out"
  [ "$(probe "$dir/$name.aac" codec_name)" = aac ] || fail "$name: not AAC"
  [ "$(probe "$dir/$name.aac" profile)" = "$profile" ] || fail "$name: profile $(probe "$dir/$name.aac" profile), expected $profile"
  [ "$(probe "$dir/$name.aac" sample_rate)" = "$rate" ] || fail "$name: rate $(probe "$dir/$name.aac" sample_rate)"
  [ "$(probe "$dir/$name.aac" channels)" = "$decoded" ] || fail "$name: channels $(probe "$dir/$name.aac" channels)"
  result="$(check_decoded "$dir/$name.aac" "$rate" "$decoded" "$bitrate" "$frame" ${tones//,/ })" || fail "$name: $result"
  echo "ok: $name"
done 3<<'CASES'
stereo48 48000 2 0 128000 LC 2 1024 1000,1500
mono44 44100 1 0 48000 LC 1 1024 1000
stereo48 44100 2 1 64000 HE-AAC 2 2048 1000,1500
mono44 32000 2 1 48000 HE-AAC 2 2048 1000
stereo48 48000 2 2 48000 HE-AACv2 2 2048 1000,1500
stereo48 32000 2 2 32000 HE-AACv2 2 2048 1000,1500
mono44 32000 1 2 32000 HE-AACv2 2 2048 1000
CASES
# The last case asked for HE-AAC v2 on one channel: it runs as HE-AAC v1.
grep -qx "profile=HE-AAC v1" <<<"$out" || fail "mono HE-AAC v2: $out"

# Failures: exit status, exactly one message line, the old OUT still in place and no
# temporary file left behind.
expect_failure() { # STATUS WHAT ARGS...
  local status="$1" what="$2"; shift 2
  printf 'keep' >"$dir/old.aac"
  set +e
  "${cli[@]}" encode "$@" >/dev/null 2>"$dir/stderr"
  local got=$?
  set -e
  [ "$got" -eq "$status" ] || fail "$what: exit status $got, expected $status"
  # Other lines may be diagnostics (the encoder's "[Encoder] " lines, Wine's audio back end).
  [ "$(grep -c '^kelm-vantoro-cli: ' "$dir/stderr")" -eq 1 ] || fail "$what: expected one message line: $(cat "$dir/stderr")"
  [ "$(cat "$dir/old.aac")" = keep ] || fail "$what: OUT was changed"
  [ ! -e "$dir/old.aac.part" ] || fail "$what: temporary file left behind"
}
make_config "$dir/cfg" 48000 2 1 64000
expect_failure 2 "missing input" --config "$dir/cfg" "$dir/missing.wav" "$dir/old.aac"
printf 'not a wav file at all' >"$dir/text.wav"
expect_failure 2 "not a WAV file" --config "$dir/cfg" "$dir/text.wav" "$dir/old.aac"
expect_failure 2 "one argument" --config "$dir/cfg" "$dir/stereo48.wav"
make_config "$dir/cfg" 192000 2 0 64000
expect_failure 2 "a rate the library refuses" --config "$dir/cfg" "$dir/stereo48.wav" "$dir/old.aac"
grep -q 'Failed to initialize AAC encoder' "$dir/stderr" || fail "refused configuration: $(cat "$dir/stderr")"
make_config "$dir/cfg" 48000 2 0 64000
set +e
"${cli[@]}" encode --config "$dir/cfg" "$dir/stereo48.wav" "$dir/no-such-folder/out.aac" >/dev/null 2>"$dir/stderr"
status=$?
set -e
[ "$status" -eq 1 ] || fail "unwritable output: exit status $status, expected 1"
echo "encode_cli: ok"
