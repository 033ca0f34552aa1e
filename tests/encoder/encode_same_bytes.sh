#!/usr/bin/env bash
# The Linux and the Windows kelm-vantoro-cli write byte-identical ADTS for the same PCM
# (fdk-aac is fixed-point), for every profile. Runs when both builds exist.
set -euo pipefail
root="${KV_SOURCE_DIR:?}"
dir="$(mktemp -d)"
trap 'rm -rf "$dir"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

# The most recently built of the Linux presets.
linux_cli=""
for candidate in "$root/build/linux/kelm-vantoro-cli" "$root/build/linux-release/kelm-vantoro-cli"; do
  if [ -x "$candidate" ] && { [ -z "$linux_cli" ] || [ "$candidate" -nt "$linux_cli" ]; }; then linux_cli="$candidate"; fi
done
windows_cli="$root/build/windows/kelm-vantoro-cli.exe"
if [ -z "$linux_cli" ] || [ ! -f "$windows_cli" ]; then
  echo "encode_same_bytes: skipped, needs both build/linux*/kelm-vantoro-cli and build/windows/kelm-vantoro-cli.exe"
  exit 0
fi
if [ -z "${WINEPREFIX:-}" ] && [ -d "$HOME/.cache/kelm-vantoro/wineprefix" ]; then
  export WINEPREFIX="$HOME/.cache/kelm-vantoro/wineprefix"
fi
export WINEDEBUG="${WINEDEBUG:--all}"
command -v wine >/dev/null || fail "wine is not installed"

# 3 s of a chirp on the left and noise on the right: busy enough to exercise every tool.
python3 - "$dir/in.wav" <<'PY'
import math, random, struct, sys, wave
rate = 48000
random.seed(7)
samples = []
for i in range(3 * rate):
    t = i / rate
    samples.append(int(9000 * math.sin(2 * math.pi * (200 + 3000 * t) * t)))
    samples.append(random.randint(-6000, 6000))
with wave.open(sys.argv[1], "wb") as w:
    w.setnchannels(2); w.setsampwidth(2); w.setframerate(rate)
    w.writeframes(struct.pack("<%dh" % len(samples), *samples))
PY

# Stream rate = recording rate and no processing switch: only the encoder is compared.
for he in 0 1 2; do
  for build in linux windows; do
    rm -rf "$dir/cfg"; mkdir "$dir/cfg"
    printf '[Audio]\nsampleRate = 48000\nchannels = 2\n[Encoder]\nheVersion = %s\nbitrate = 64000\n' "$he" >"$dir/cfg/config.ini"
    if [ "$build" = linux ]; then
      "$linux_cli" encode --config "$dir/cfg" "$dir/in.wav" "$dir/$build.aac" >/dev/null 2>&1 </dev/null || fail "linux encode, heVersion $he"
    else
      wine "$windows_cli" encode --config "$dir/cfg" "$dir/in.wav" "$dir/$build.aac" >/dev/null 2>&1 </dev/null || fail "windows encode, heVersion $he"
    fi
  done
  [ -s "$dir/linux.aac" ] || fail "heVersion $he: empty output"
  cmp -s "$dir/linux.aac" "$dir/windows.aac" || fail "heVersion $he: the builds wrote different bytes ($(stat -c %s "$dir/linux.aac") / $(stat -c %s "$dir/windows.aac"))"
  echo "ok: heVersion $he, $(stat -c %s "$dir/linux.aac") bytes"
done
echo "encode_same_bytes: ok"
