#!/usr/bin/env bash
# kelm-vantoro-cli devices and meter against the test environment's PulseAudio devices.
set -euo pipefail
if [ -z "${KV_PULSE_SINK:-}" ] || [ -z "${PULSE_SERVER:-}" ]; then
  echo "SKIP: needs the test environment (scripts/testenv run)"
  exit 0
fi
cli=(${KV_EMULATOR:-} "$KV_CLI")
dir="$(mktemp -d)"
trap 'rm -rf "$dir"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
tab=$'\t'

devices="$("${cli[@]}" devices)"
grep -q $'\r' <<<"$devices" && fail "carriage returns in the output"
while IFS= read -r line; do
  [[ "$line" =~ ^capture$tab[0-9]+$tab[^$tab]+$tab[^$tab]+$ || "$line" =~ ^render$tab[0-9]+$tab[^$tab]+$ ]] ||
    fail "malformed line '$line'"
done <<<"$devices"
for name in "Kelm Stereo Tone" "Kelm Mono Tone" "Monitor of Kelm Test Output"; do
  grep -q "^capture$tab[0-9]*$tab$name$tab" <<<"$devices" || fail "no capture device '$name' in:"$'\n'"$devices"
done
grep -q "^render$tab[0-9]*${tab}Kelm Test Output$" <<<"$devices" || fail "no render device 'Kelm Test Output'"
# Positions count up from 0 in each list.
[ "$(grep '^capture' <<<"$devices" | cut -f2 | tr '\n' ' ')" = "$(seq -s ' ' 0 $(($(grep -c '^capture' <<<"$devices") - 1))) " ] ||
  fail "capture positions are not 0, 1, 2, ..."

# Meter the mono tone, chosen by its endpoint identifier: both sides show its level.
mono_id="$(grep "^capture$tab[0-9]*${tab}Kelm Mono Tone$tab" <<<"$devices" | cut -f4)"
printf '[Audio]\ndeviceEndpointId=%s\n' "$mono_id" >"$dir/config.ini"
out="$("${cli[@]}" meter --config "$dir" --seconds 3)"
[ "$(head -n 1 <<<"$out")" = "input=Kelm Mono Tone" ] || fail "first line: $(head -n 1 <<<"$out")"
[ "$(grep -c '^left=[0-9]\.[0-9]\{4\} right=[0-9]\.[0-9]\{4\}$' <<<"$out")" -eq 30 ] ||
  fail "expected 30 level lines in:"$'\n'"$out"
last="$(tail -n 1 <<<"$out")"
left="$(sed 's/^left=\([0-9.]*\) .*/\1/' <<<"$last")"
right="$(sed 's/.*right=\([0-9.]*\)$/\1/' <<<"$last")"
[ "$left" = "$right" ] || fail "a mono device shows different levels: $last"
# A -12 dBFS sine has an RMS of 0.1776.
awk -v l="$left" 'BEGIN { exit !(l > 0.165 && l < 0.19) }' || fail "level $left is not the tone's"

# "(Default)" names the server's default source, whichever position it is listed at,
# and follows it when it changes. (Wine shows an endpoint of its own, "PulseAudio",
# which follows the server's default by itself; the device tests check the name
# against the endpoint the default rule opens in both builds.)
if [ -z "${KV_EMULATOR:-}" ]; then
  printf '[Audio]\ndeviceIndex=-1\n' >"$dir/config.ini"
  rm -f "$dir/config.dat"
  default_name() { "${cli[@]}" settings --config "$dir" | grep '^inputDeviceName='; }
  [ "$(default_name)" = "inputDeviceName=(Default) - Kelm Stereo Tone" ] || fail "default: $(default_name)"
  pactl set-default-source "$KV_PULSE_MONO_SOURCE"
  trap 'pactl set-default-source "$KV_PULSE_STEREO_SOURCE"; rm -rf "$dir"' EXIT
  named="$(default_name)"
  pactl set-default-source "$KV_PULSE_STEREO_SOURCE"
  [ "$named" = "inputDeviceName=(Default) - Kelm Mono Tone" ] || fail "default after the change: $named"
fi

# Bad usage.
set +e
"${cli[@]}" meter --seconds 0 >/dev/null 2>&1; [ $? -eq 2 ] || fail "--seconds 0 accepted"
"${cli[@]}" meter --seconds abc >/dev/null 2>&1; [ $? -eq 2 ] || fail "--seconds abc accepted"
"${cli[@]}" devices extra >/dev/null 2>&1; [ $? -eq 2 ] || fail "devices took an argument"
echo "ok"
