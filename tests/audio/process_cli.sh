#!/usr/bin/env bash
# kelm-vantoro-cli process: runs a WAV recording through the stored processing settings
# and the resampler, writes a 16-bit WAV, prints the twelve meters; bad input exits 2
# and leaves an existing output alone. Where both builds exist, their outputs agree
# within one step.
set -euo pipefail
cli=(${KV_EMULATOR:-} "$KV_CLI")
dir="$(mktemp -d)"
trap 'rm -rf "$dir"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
command -v python3 >/dev/null || { echo "process_cli: python3 missing, skipped"; exit 0; }

# make_wav PATH RATE CHANNELS SECONDS [BITS]: tones plus a little noise, deterministic.
make_wav() {
    python3 - "$@" <<'PY'
import math, struct, sys, wave
path, rate, channels, seconds = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), float(sys.argv[4])
bits = int(sys.argv[5]) if len(sys.argv) > 5 else 16
seed = 1
frames = bytearray()
for i in range(int(rate * seconds)):
    for c in range(channels):
        seed = (seed * 1103515245 + 12345) & 0x7FFFFFFF
        v = 14000 * math.sin(2 * math.pi * (220 + 660 * c) * i / rate) + 9000 * math.sin(2 * math.pi * 40 * i / rate)
        v += (seed % 2001) - 1000
        if i > rate * seconds / 2:
            v *= 2.2  # the second half overdrives, for the limiter
        v = max(-32768, min(32767, int(v)))
        frames += struct.pack('<h', v) if bits == 16 else struct.pack('<B', (v >> 8) + 128)
w = wave.open(path, 'wb')
w.setnchannels(channels); w.setsampwidth(bits // 8); w.setframerate(rate)
w.writeframes(bytes(frames)); w.close()
PY
}

# wav_info PATH: "rate channels frames peak lr_equal"
wav_info() {
    python3 - "$1" <<'PY'
import struct, sys, wave
w = wave.open(sys.argv[1], 'rb')
n, ch = w.getnframes(), w.getnchannels()
s = struct.unpack('<%dh' % (n * ch), w.readframes(n))
equal = ch == 2 and all(s[i] == s[i + 1] for i in range(0, len(s), 2))
print(w.getframerate(), ch, n, max(abs(x) for x in s) if s else 0, int(equal))
PY
}

config() { # config DIR RATE CHANNELS
    mkdir -p "$1"
    cat >"$1/config.ini" <<INI
[Audio]
sampleRate = $2
channels = $3
[Encoder]
heVersion = 2
bitrate = 48000
[DSP]
hpfEnabled = 1
gateEnabled = 1
gainEnabled = 1
gainDb = 60
agcEnabled = 1
compEnabled = 1
compThreshDb = -180
compRatio = 10
boostEnabled = 1
bassEnabled = 1
stereoWidthEnabled = 1
limiterEnabled = 1
codecPreEnabled = 1
INI
}

make_wav "$dir/stereo48k.wav" 48000 2 1.0
make_wav "$dir/mono22k.wav" 22050 1 0.5
config "$dir/to44k" 44100 2
config "$dir/keep" 0 2
config "$dir/mono" 48000 1

# Stereo 48000 Hz to a 44100 Hz stereo stream, every stage on.
out="$("${cli[@]}" process --config "$dir/to44k" "$dir/stereo48k.wav" "$dir/out.wav")" || fail "process failed"
grep -q $'\r' <<<"$out" && fail "carriage returns in the output"
names="$(cut -d= -f1 <<<"$out" | tr '\n' ' ')"
[ "$names" = "inputLevel hpfActivity gateActivity gainPosition agcActivity compActivity boostActivity bassActivity widthActivity limiterActivity codecPreActivity outputLevel integratedLoudness truePeak " ] ||
    fail "unexpected meter lines: $out"
grep -Eq '^limiterActivity=(0\.[1-9]|1\.)' <<<"$out" || fail "the limiter did not act: $out"
grep -qx 'gainPosition=1.0000' <<<"$out" || fail "gainPosition: $out"
read -r rate ch frames peak equal <<<"$(wav_info "$dir/out.wav")"
[ "$rate" = 44100 ] && [ "$ch" = 2 ] || fail "format $rate Hz $ch ch"
[ $((frames - 44100)) -ge -2 ] && [ $((frames - 44100)) -le 2 ] || fail "$frames frames for one second"
[ "$peak" -gt 20000 ] || fail "peak $peak"
compgen -G "$dir/*.part" >/dev/null && fail "temporary file left behind"

# Without a rate change nothing follows the limiter: its -1 dBFS ceiling holds.
"${cli[@]}" process --config "$dir/keep" "$dir/stereo48k.wav" "$dir/same.wav" >/dev/null || fail "process failed"
read -r rate ch frames peak equal <<<"$(wav_info "$dir/same.wav")"
[ "$rate" = 48000 ] && [ "$frames" = 48000 ] && [ "$peak" -le 29204 ] || fail "same rate: $rate $frames peak $peak"

# A mono recording feeds both channels alike; the configured rate 0 keeps the file's.
"${cli[@]}" process --config "$dir/keep" "$dir/mono22k.wav" "$dir/mono-out.wav" >/dev/null || fail "mono process failed"
read -r rate ch frames peak equal <<<"$(wav_info "$dir/mono-out.wav")"
[ "$rate" = 22050 ] && [ "$ch" = 2 ] && [ "$frames" = 11025 ] && [ "$equal" = 1 ] ||
    fail "mono to stereo: $rate $ch $frames equal=$equal"

# A mono stream takes the first channel of a stereo recording.
"${cli[@]}" process --config "$dir/mono" "$dir/stereo48k.wav" "$dir/m.wav" >/dev/null || fail "stereo to mono failed"
read -r rate ch frames peak equal <<<"$(wav_info "$dir/m.wav")"
[ "$rate" = 48000 ] && [ "$ch" = 1 ] && [ "$frames" = 48000 ] || fail "stereo to mono: $rate $ch $frames"

# Out-of-range stored values are settled at load: channels 40000 is stereo, a rate of
# -1 the lowest stream rate; a gain of 800 dB still gives meters within [0, 1].
mkdir "$dir/odd"
printf '[Audio]\nsampleRate = -1\nchannels = 40000\n[DSP]\ngainEnabled = 1\ngainDb = 8000\nlimiterEnabled = 1\n' \
    >"$dir/odd/config.ini"
out="$("${cli[@]}" process --config "$dir/odd" "$dir/mono22k.wav" "$dir/odd.wav")" || fail "odd settings failed"
read -r rate ch frames peak equal <<<"$(wav_info "$dir/odd.wav")"
[ "$rate" = 8000 ] && [ "$ch" = 2 ] && [ "$peak" -gt 20000 ] || fail "odd settings: $rate Hz $ch ch peak $peak"
grep -v '^integratedLoudness=\|^truePeak=' <<<"$out" | grep -Evq '=(0\.[0-9]{4}|1\.0000)$' && fail "meters out of range: $out"

# Bad input: one line on standard error, exit 2, the existing output untouched.
printf 'keep me' >"$dir/existing.wav"
printf 'this is text, not sound' >"$dir/text.wav"
head -c 20 "$dir/stereo48k.wav" >"$dir/cut.wav"
make_wav "$dir/8bit.wav" 8000 1 0.1 8
# expect_refused LABEL IN OUT: process with the to44k settings exits 2 with one line on
# standard error (OUT is passed even when empty).
expect_refused() {
    local status
    set +e
    "${cli[@]}" process --config "$dir/to44k" "$2" "$3" >"$dir/stdout" 2>"$dir/stderr"
    status=$?
    set -e
    [ "$status" -eq 2 ] || fail "$1: exit $status"
    [ "$(wc -l <"$dir/stderr")" -eq 1 ] || fail "$1: expected one error line, got: $(cat "$dir/stderr")"
}
for bad in missing.wav text.wav cut.wav 8bit.wav; do
    expect_refused "$bad" "$dir/$bad" "$dir/existing.wav"
    [ -s "$dir/stdout" ] && fail "$bad: printed meters"
    [ "$(cat "$dir/existing.wav")" = "keep me" ] || fail "$bad: the existing output was changed"
    compgen -G "$dir/*.part" >/dev/null && fail "$bad: temporary file left behind"
done
set +e
"${cli[@]}" process --config "$dir/to44k" "$dir/stereo48k.wav" >/dev/null 2>&1
[ $? -eq 2 ] || fail "a missing OUT must exit 2"
set -e

# OUT is written, never replaced by something else: an empty name, a folder or (Linux) a
# FIFO is refused with exit 2 and stays as it was; a link's target is written and the
# link stays; files of the user's named like the old temporary file are left alone.
mkdir "$dir/folder.wav" "$dir/own"
refused=("" folder.wav)
if [ "${KV_BUILD:-}" != windows ]; then
    mkfifo "$dir/fifo.wav"
    refused+=(fifo.wav)
    # A device node of our own (like /dev/null), where we may make one.
    mknod "$dir/null.wav" c 1 3 2>/dev/null && refused+=(null.wav)
fi
for bad in "${refused[@]}"; do
    expect_refused "OUT '$bad'" "$dir/stereo48k.wav" "${bad:+$dir/$bad}"
done
[ -d "$dir/folder.wav" ] || fail "the folder OUT was replaced"
[ "${KV_BUILD:-}" = windows ] || [ -p "$dir/fifo.wav" ] || fail "the FIFO OUT was replaced"
[ ! -e "$dir/null.wav" ] || [ -c "$dir/null.wav" ] || fail "the device OUT was replaced"
printf 'mine' >"$dir/own/new.wav.part"
mkdir "$dir/own/new2.wav.part"
"${cli[@]}" process --config "$dir/to44k" "$dir/stereo48k.wav" "$dir/own/new.wav" >/dev/null || fail "new.wav"
"${cli[@]}" process --config "$dir/to44k" "$dir/stereo48k.wav" "$dir/own/new2.wav" >/dev/null || fail "new2.wav"
[ "$(cat "$dir/own/new.wav.part")" = mine ] && [ -d "$dir/own/new2.wav.part" ] || fail "a file of the user's was touched"
[ "$(ls "$dir/own" | wc -l)" -eq 4 ] || fail "files left behind: $(ls "$dir/own")"
if [ "${KV_BUILD:-}" != windows ]; then
    printf 'old' >"$dir/own/target.wav"
    ln -s target.wav "$dir/own/link.wav"
    ln -s missing.wav "$dir/own/dangling.wav"
    "${cli[@]}" process --config "$dir/to44k" "$dir/stereo48k.wav" "$dir/own/link.wav" >/dev/null || fail "link OUT"
    "${cli[@]}" process --config "$dir/to44k" "$dir/stereo48k.wav" "$dir/own/dangling.wav" >/dev/null ||
        fail "dangling link OUT"
    [ -L "$dir/own/link.wav" ] && [ -L "$dir/own/dangling.wav" ] || fail "a link OUT was replaced by a file"
    cmp -s "$dir/own/target.wav" "$dir/out.wav" && cmp -s "$dir/own/missing.wav" "$dir/out.wav" ||
        fail "a link's target was not written"
fi

# Success replaces an existing output.
"${cli[@]}" process --config "$dir/to44k" "$dir/stereo48k.wav" "$dir/existing.wav" >/dev/null || fail "replace failed"
cmp -s "$dir/existing.wav" "$dir/out.wav" || fail "the replaced output differs from the first run"

# The other build, where it exists, gives the same samples within one step.
root="${KV_SOURCE_DIR:-.}/build"
linux_cli=""
for candidate in "$root/linux/kelm-vantoro-cli" "$root/linux-release/kelm-vantoro-cli"; do
    [ -x "$candidate" ] && { linux_cli="$candidate"; break; }
done
windows_cli="$root/windows/kelm-vantoro-cli.exe"
if [ -n "$linux_cli" ] && [ -f "$windows_cli" ] && command -v wine >/dev/null &&
    { [ "${KV_BUILD:-}" = windows ] || [ -n "${WINEPREFIX:-}" ]; }; then
    for input in stereo48k.wav mono22k.wav; do
        "$linux_cli" process --config "$dir/to44k" "$dir/$input" "$dir/linux.wav" >"$dir/linux.txt"
        wine "$windows_cli" process --config "$dir/to44k" "$dir/$input" "$dir/windows.wav" >"$dir/windows.txt"
        python3 - "$dir/linux.wav" "$dir/windows.wav" <<'PY' || fail "$input: the builds disagree"
import struct, sys, wave
def samples(path):
    w = wave.open(path, 'rb')
    return w.getparams()[:3], struct.unpack('<%dh' % (w.getnframes() * w.getnchannels()), w.readframes(w.getnframes()))
(pa, a), (pb, b) = samples(sys.argv[1]), samples(sys.argv[2])
worst = max((abs(x - y) for x, y in zip(a, b)), default=0)
print("builds: %d samples, largest difference %d" % (len(a), worst))
sys.exit(0 if pa == pb and len(a) == len(b) and worst <= 1 else 1)
PY
    done
else
    echo "process_cli: one build missing, cross-build comparison skipped"
fi
echo "process_cli: ok"
