#!/usr/bin/env bash
# The true-peak limiter measured from outside by ffmpeg's ebur128 filter: intersample
# peaks (a quarter-rate sine at 45 degrees, hard-clipped squares) leave `process` at or
# below truePeakCeilingDb, and `encode` reports the same figure ffmpeg reads. Decoded:
# AAC-LC 128 kbit/s keeps the quarter-rate sine and the lower squares at or below the
# ceiling; HE-AAC v1 64 kbit/s and v2 48 kbit/s keep a synthesized program (chords,
# decaying notes, noise hits) there; MP3 128 kbit/s and Opus 96 kbit/s keep the program
# and full-scale test tones (440 Hz left, 660 Hz right) at or below -1 dBTP with the
# ceiling at its default.
set -euo pipefail
cli=(${KV_EMULATOR:-} "$KV_CLI")
dir="$(mktemp -d)"
trap 'rm -rf "$dir"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

true_peak() { # FILE -> dBTP, as ffmpeg measures it
  ffmpeg -hide_banner -nostats -i "$1" -af ebur128=peak=true -f null - 2>&1 | awk '/^ +Peak:/{print $2}'
}
at_most() { awk -v a="$1" -v b="$2" 'BEGIN{exit !(a <= b)}'; }
config() { # DIR HEVERSION BITRATE [CODEC CEILING]
  mkdir -p "$1"
  printf '[Audio]\nsampleRate = 48000\nchannels = 2\n[Encoder]\nheVersion = %s\nbitrate = %s\ncodec = %s\n[DSP]\ntruePeakEnabled = true\ntruePeakCeilingDb = %s\n' \
    "$2" "$3" "${4:-aac}" "${5:--10}" >"$1/config.ini"
}

python3 - "$dir" <<'PY'
import math, struct, sys, wave
rate = 48000
def save(name, value):
    w = wave.open(sys.argv[1] + "/" + name + ".wav", "wb")
    w.setnchannels(2); w.setsampwidth(2); w.setframerate(rate)
    frames = bytearray()
    for f in range(rate * 3):
        v = max(-32768, min(32767, int(round(value(f)))))
        frames += struct.pack("<hh", v, v)
    w.writeframes(bytes(frames)); w.close()
save("quarter", lambda f: 46340.95 * math.sin(math.pi / 2 * f + math.pi / 4))
for freq in (997, 3150):
    save("square%d" % freq, lambda f, freq=freq: 4 * 32767 * math.sin(2 * math.pi * freq * f / rate))
w = wave.open(sys.argv[1] + "/tones.wav", "wb")
w.setnchannels(2); w.setsampwidth(2); w.setframerate(rate)
w.writeframes(b"".join(struct.pack("<hh", int(32767 * math.sin(2 * math.pi * 440 * f / rate)),
                                   int(32767 * math.sin(2 * math.pi * 660 * f / rate))) for f in range(rate * 3)))
w.close()
PY
ffmpeg -hide_banner -loglevel error -y -f lavfi -i "aevalsrc='0.3*(sin(2*PI*220*t)+0.5*sin(2*PI*440*t)+0.3*sin(2*PI*660*t))*(0.6+0.4*sin(2*PI*0.25*t))+0.25*(sin(2*PI*329.6*t)+0.5*sin(2*PI*659.3*t)+0.2*sin(2*PI*1318.5*t))*exp(-2*mod(t,1))+0.6*(random(0)-0.5)*exp(-30*mod(t,0.25))':s=48000:d=8" \
  -af "pan=stereo|c0=c0|c1=c0" -c:a pcm_s16le "$dir/program.wav"

config "$dir/lc" 0 128000
config "$dir/he1" 1 64000
config "$dir/he2" 2 48000
for signal in quarter square997 square3150; do
  in="$(true_peak "$dir/$signal.wav")"
  at_most 0 "$in" || fail "$signal: no overs to limit ($in dBTP)"
  out="$("${cli[@]}" process --config "$dir/lc" "$dir/$signal.wav" "$dir/out.wav")" || fail "process $signal"
  tp="$(true_peak "$dir/out.wav")"
  at_most "$tp" -1.0 || fail "$signal: processed true peak $tp dBTP"
  said="$(sed -n 's/^truePeak=//p' <<<"$out")"
  awk -v a="$said" -v b="$tp" 'BEGIN{d=a-b; exit !(d < 0.25 && d > -0.25)}' || fail "$signal: process says $said, ffmpeg $tp"
  "${cli[@]}" encode --config "$dir/lc" "$dir/$signal.wav" "$dir/out.aac" >/dev/null || fail "encode $signal"
  tp="$(true_peak "$dir/out.aac")"
  at_most "$tp" -1.0 || fail "$signal: decoded AAC-LC true peak $tp dBTP"
done
for profile in lc he1 he2; do
  "${cli[@]}" encode --config "$dir/$profile" "$dir/program.wav" "$dir/out.aac" >/dev/null || fail "encode $profile"
  tp="$(true_peak "$dir/out.aac")"
  at_most "$tp" -1.0 || fail "program, $profile: decoded true peak $tp dBTP"
done

config "$dir/mp3" 1 128000 mp3 -1
config "$dir/opus" 1 96000 opus -1
for codec in mp3 opus; do
  for signal in program tones; do
    "${cli[@]}" encode --config "$dir/$codec" "$dir/$signal.wav" "$dir/out.$codec" >/dev/null || fail "encode $signal as $codec"
    tp="$(true_peak "$dir/out.$codec")"
    echo "$signal, $codec: decoded true peak $tp dBTP"
    at_most "$tp" -1.0 || fail "$signal, $codec: decoded true peak $tp dBTP"
  done
done

loudness() { # FILE [ebur128 options] -> "INTEGRATED MAX_SHORT_TERM_AFTER_10_S"
  ffmpeg -hide_banner -nostats -v verbose -i "$1" -af "ebur128=framelog=verbose${2:-}" -f null - 2>&1 |
    awk '/Parsed_ebur128.*t: /{for (i = 1; i < NF; i++) {if ($i == "t:") t = $(i + 1); if ($i == "S:") s = $(i + 1)}
         if (t + 0 >= 10 && (max == "" || s + 0 > max)) max = s + 0} /^ +I:/{i = $2} END{print i, max}'
}
ffmpeg -hide_banner -loglevel error -y -f lavfi -i "anoisesrc=c=pink:r=48000:a=1:d=40:s=3" \
  -af "pan=stereo|c0=c0|c1=c0,volume='if(lt(t,20),0.12,1)':eval=frame" -c:a pcm_s16le "$dir/step.wav"
ffmpeg -hide_banner -loglevel error -y -i "$dir/program.wav" -af "pan=mono|c0=c0,volume=-14dB" -c:a pcm_s16le "$dir/mono.wav"
ffmpeg -hide_banner -loglevel error -y -i "$dir/mono.wav" -af "pan=stereo|c0=c0|c1=c0" -c:a pcm_s16le "$dir/stereo.wav"
for channels in 1 2; do
  mkdir -p "$dir/ld$channels"
  printf '[Audio]\nsampleRate = 48000\nchannels = %s\n[Encoder]\nheVersion = 0\nbitrate = 128000\n[DSP]\nloudnessEnabled = true\n' \
    "$channels" >"$dir/ld$channels/config.ini"
done
"${cli[@]}" encode --config "$dir/ld2" "$dir/step.wav" "$dir/step.aac" >/dev/null || fail "encode step"
read -r integrated highest <<<"$(loudness "$dir/step.aac")"
at_most "$highest" -12.0 || fail "after a quiet introduction: short-term $highest LUFS"
awk -v i="$integrated" 'BEGIN{exit !(i >= -17 && i <= -15)}' || fail "quiet introduction: integrated $integrated LUFS"
"${cli[@]}" encode --config "$dir/ld1" "$dir/mono.wav" "$dir/mono.aac" >/dev/null || fail "encode mono"
"${cli[@]}" encode --config "$dir/ld2" "$dir/stereo.wav" "$dir/stereo.aac" >/dev/null || fail "encode stereo"
read -r mono _ <<<"$(loudness "$dir/mono.aac" :dualmono=true)"
read -r stereo _ <<<"$(loudness "$dir/stereo.aac")"
awk -v a="$mono" -v b="$stereo" 'BEGIN{d=a-b; exit !(d < 0.5 && d > -0.5)}' || fail "mono $mono LUFS, stereo $stereo LUFS"
echo "true peaks and loudness held"
