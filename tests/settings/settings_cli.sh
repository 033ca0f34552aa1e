#!/usr/bin/env bash
# kelm-vantoro-cli settings: imports config.ini, prints name=value lines, hides the password.
set -euo pipefail
cli=(${KV_EMULATOR:-} "$KV_CLI")
dir="$(mktemp -d)"
trap 'rm -rf "$dir"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

cat >"$dir/config.ini" <<'INI'
[Icecast]
host = radio.example
port = 8005
mountPoint = live
password = top-secret-word
streamName = Morning Show
tlsEnabled = yes
tlsCaFile = /srv/our ca.pem
titleFile = /srv/play out/now playing.txt
[Encoder]
heVersion = 0
bitrate = 128000
[DSP]
gainDb = -35
agcSpeed = 125
agcEnabled = YES
loudnessEnabled = true
truePeakCeilingDb = -25
[Audio]
channels = 1
[System]
silenceSeconds = 8
recordEnabled = yes
recordFolder = /srv/the archive
INI

out="$("${cli[@]}" settings --config "$dir")"
[ -f "$dir/config.dat" ] || fail "config.dat was not written by the import"
grep -q 'top-secret-word' <<<"$out" && fail "the password was printed"
grep -q 'top-secret-word' "$dir/config.dat" && fail "config.dat holds the password in plain text"

expect() { grep -qx -- "$1" <<<"$out" || fail "missing line '$1' in:"$'\n'"$out"; }
expect "host=radio.example"
expect "port=8005"
expect "mountPoint=live"
expect "username="
expect "streamName=Morning Show"
expect "heVersion=0"
expect "contentCode=2"
expect "bitrate=128000"
expect "statusAddress=radio.example:8000/live"
expect "channels=1"
expect "mono=true"
expect "gainDb=-3.5"
expect "agcSpeed=0.0125"
expect "agcEnabled=true"
expect "compAttackMs=27.5"
expect "compReleaseMs=247.5"
expect "isPublic=true"
expect "deviceIndex=-1"
expect "tlsEnabled=true"
expect "tlsCaFile=/srv/our ca.pem"
expect "tlsFingerprint="
expect "titleFile=/srv/play out/now playing.txt"
expect "serverType=icecast"
expect "streamId=1"
expect "silenceSeconds=8"
expect "silenceThresholdDb=-50"
expect "recordEnabled=true"
expect "recordFolder=/srv/the archive"
expect "recordSplitMinutes=60"
# The loudness keys: those given, and the defaults of the others.
expect "loudnessEnabled=true"
expect "loudnessTarget=-16.0"
expect "loudnessMaxGainDb=18.0"
expect "truePeakEnabled=false"
expect "truePeakCeilingDb=-2.5"
[ "$(head -n 1 <<<"$out")" = "sampleRate=48000" ] || fail "first line is not sampleRate"
[ "$(wc -l <<<"$out")" -eq 59 ] || fail "expected 59 lines, got $(wc -l <<<"$out")"
grep -q $'\r' <<<"$out" && fail "carriage returns in the output"

# Later edits of config.ini are ignored while config.dat reads.
sed -i 's/radio.example/other.example/' "$dir/config.ini"
"${cli[@]}" settings --config "$dir" | grep -qx "host=radio.example" || fail "config.ini was read again"

# A hand-written port that does not fit is shown as written, never as its low 16 bits.
bad="$(mktemp -d)"
trap 'rm -rf "$dir" "$bad"' EXIT
printf '[Icecast]\nhost=radio.example\nport=99999\nmountPoint=live\nstreamGenre=Jazz\n' >"$bad/config.ini"
badOut="$("${cli[@]}" settings --config "$bad")"
grep -qx "port=99999" <<<"$badOut" || fail "port 99999 not kept in:"$'\n'"$badOut"
grep -qx "streamGenre=Jazz" <<<"$badOut" || fail "genre not read in:"$'\n'"$badOut"

# Bad usage.
set +e
"${cli[@]}" settings --config >/dev/null 2>&1
[ $? -eq 2 ] || fail "--config without a value must exit 2"
"${cli[@]}" no-such-command >/dev/null 2>&1
[ $? -eq 2 ] || fail "an unknown command must exit 2"
echo "settings_cli: ok"
