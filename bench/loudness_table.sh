#!/usr/bin/env bash
# The loudness table: synthesized speech (ffmpeg's flite) and music (aevalsrc), each as
# it is, 16 dB and 30 dB quieter and peak-normalised, through loudness mode and the
# true-peak limiter at their defaults, encoded with each profile and decoded by
# ffmpeg. Prints, per input: its loudness, the loudness of the decoded stream and its
# true peak per profile. Nothing leaves the machine.
#   bench/loudness_table.sh [CLI]   (default build/linux-release/kelm-vantoro-cli)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cli="${1:-$root/build/linux-release/kelm-vantoro-cli}"
d="$(mktemp -d)"
trap 'rm -rf "$d"' EXIT

measure() { # FILE -> "I TP"
  ffmpeg -hide_banner -nostats -i "$1" -af ebur128=peak=true -f null - 2>&1 |
    awk '/^ +I:/{i=$2} /^ +Peak:/{p=$2} END{print i, p}'
}

ffmpeg -hide_banner -loglevel error -y -f lavfi -i "flite=text='Good morning and welcome to the morning show. Today we talk about the weather, the traffic on the ring road, and the concert in the park this weekend. Stay with us for the news at the top of the hour. The city council met yesterday evening and agreed to open two new libraries next spring.':voice=slt" \
  -af "aresample=48000,pan=stereo|c0=c0|c1=c0" -c:a pcm_s16le "$d/speech.wav"
ffmpeg -hide_banner -loglevel error -y -f lavfi -i "aevalsrc='0.12*(sin(2*PI*220*t)+0.5*sin(2*PI*440*t)+0.3*sin(2*PI*660*t)+0.2*sin(2*PI*880*t))*(0.6+0.4*sin(2*PI*0.25*t))+0.1*(sin(2*PI*277.2*t)+0.4*sin(2*PI*554.4*t)+0.25*sin(2*PI*1108.7*t))*exp(-3*mod(t,0.5))+0.1*(sin(2*PI*329.6*t)+0.5*sin(2*PI*659.3*t)+0.2*sin(2*PI*1318.5*t)+0.1*sin(2*PI*2637*t))*exp(-2*mod(t+0.25,1))+0.15*sin(2*PI*55*t)*exp(-8*mod(t,0.5))+0.3*(random(0)-0.5)*exp(-30*mod(t,0.25))|0.12*(sin(2*PI*220.5*t)+0.5*sin(2*PI*441*t)+0.3*sin(2*PI*661*t))*(0.6+0.4*cos(2*PI*0.25*t))+0.1*(sin(2*PI*329.6*t)+0.5*sin(2*PI*659.3*t)+0.3*sin(2*PI*1975*t))*exp(-2*mod(t,1))+0.15*sin(2*PI*55*t)*exp(-8*mod(t,0.5))+0.3*(random(1)-0.5)*exp(-30*mod(t+0.125,0.25))':s=48000:d=30" \
  -c:a pcm_s16le "$d/music.wav"
for f in speech music; do
  ffmpeg -hide_banner -loglevel error -y -i "$d/$f.wav" -af volume=-16dB -c:a pcm_s16le "$d/$f-16dB.wav"
  ffmpeg -hide_banner -loglevel error -y -i "$d/$f.wav" -af volume=-30dB -c:a pcm_s16le "$d/$f-30dB.wav"
  peak=$(ffmpeg -hide_banner -nostats -i "$d/$f.wav" -af volumedetect -f null - 2>&1 | awk '/max_volume/{print $5}')
  ffmpeg -hide_banner -loglevel error -y -i "$d/$f.wav" -af "volume=$(awk -v p="$peak" 'BEGIN{print -p-0.1}')dB" \
    -c:a pcm_s16le "$d/$f-peak.wav"
done

profiles=("AAC-LC 128k:0:128000" "HE-AAC v1 64k:1:64000" "HE-AAC v2 48k:2:48000")
printf '| Input | Loudness in | Out (LC 128k) | TP (LC 128k) | Out (HE v1 64k) | TP (HE v1 64k) | Out (HE v2 48k) | TP (HE v2 48k) |\n|---|---|---|---|---|---|---|---|\n'
for f in speech speech-16dB speech-30dB speech-peak music music-16dB music-30dB music-peak; do
  read -r inI _ <<<"$(measure "$d/$f.wav")"
  row="| $f | $inI LUFS"
  for p in "${profiles[@]}"; do
    IFS=: read -r _ he rate <<<"$p"
    mkdir -p "$d/cfg"
    rm -f "$d/cfg/config.dat"
    printf '[Audio]\nsampleRate = 48000\nchannels = 2\n[Encoder]\nheVersion = %s\nbitrate = %s\n[DSP]\nloudnessEnabled = true\ntruePeakEnabled = true\n' \
      "$he" "$rate" >"$d/cfg/config.ini"
    "$cli" encode --config "$d/cfg" "$d/$f.wav" "$d/out.aac" >/dev/null 2>&1
    read -r outI outTp <<<"$(measure "$d/out.aac")"
    row+=" | $outI LUFS | $outTp dBTP"
  done
  echo "$row |"
done
