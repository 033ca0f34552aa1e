#!/usr/bin/env bash
# The archive recording end to end. A listener on the mount from its first frame, and a
# stream of about 66 s recorded with recordSplitMinutes=1: two files named MOUNT_ and
# the local time of their first frames, the first one cut at the first frame after
# 60 s, their decoded lengths adding up to the stream's within one frame per file, and
# their bytes together those the listener received (and the last frames, which Icecast
# does not relay once the source has gone). Beside it, a stream recording
# into a folder that is a file stays on air and says why recording stopped. Under Wine
# a shorter stream with one file per connection checks the same bytes.
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/stream_common.bash"
need_environment
build="${KV_BUILD:-linux}"

d="$(mktemp -d)"
pid=
bad=
listener=
cleanup() {
  kill $pid $bad $listener 2>/dev/null
  rm -rf "$d"
}
trap cleanup EXIT

if [ -z "${KV_EMULATOR:-}" ]; then seconds=66 split=1 files=2; else seconds=14 split=0 files=1; fi
mount="/record-$build"
mkdir -p "$d/good" "$d/bad"
write_config "$d/good" "$mount" "[System]" "persistentEncoding=false" "recordEnabled=true" \
  "recordSplitMinutes=$split"
started=$(date +%s)
"${stream_cmd[@]}" --config "$d/good" --seconds "$seconds" >"$d/out.txt" 2>"$d/err.txt" &
pid=$!
# Icecast's burst on connect (64 KiB, 8 s of this stream) hands a listener that comes
# within the first seconds everything from the first frame.
wait_for_mount "$mount" 15 || { cat "$d/out.txt" "$d/err.txt"; fail "the mount never appeared"; }
curl -sS -N --max-time $((seconds + 30)) "http://127.0.0.1:${KV_ICECAST_STATUS_PORT}$mount" -o "$d/listened.aac" &
listener=$!

# The folder is a file: the stream goes on, recording stops with the folder and the reason.
blocked="$d/bad/blocked"
echo "a file" >"$blocked"
write_config "$d/bad" "$mount-blocked" "[System]" "persistentEncoding=false" "recordEnabled=true" \
  "recordFolder=$blocked"
"${stream_cmd[@]}" --config "$d/bad" --seconds 10 >"$d/bad-out.txt" 2>"$d/bad-err.txt" &
bad=$!
wait_for_mount "$mount-blocked" 15 || { cat "$d/bad-out.txt" "$d/bad-err.txt"; fail "the blocked stream never went on air"; }
wait_for_text "$d/bad-out.txt" "| Recording stopped: cannot write to the folder \"$blocked\": it is not a folder" 8 ||
  { cat "$d/bad-out.txt"; fail "the status line does not say that recording stopped"; }
if [ -z "${KV_EMULATOR:-}" ]; then
  grep -q "Recording stopped: cannot write to the folder \"$blocked\": it is not a folder" "$d/bad-err.txt" ||
    fail "the log does not say that recording stopped: $(cat "$d/bad-err.txt")"
fi
sleep 2
[ -n "$(mount_json "$mount-blocked")" ] || fail "the stream went off air with its recording"
[ "$(cat "$blocked")" = "a file" ] || fail "the file in the folder's place was changed"
wait $bad
status=$?
bad=
[ $status -eq 0 ] || { cat "$d/bad-out.txt" "$d/bad-err.txt"; fail "the blocked stream exited with $status"; }

# As the service runs it: with a state directory from systemd, an empty recordFolder
# records there, not beside the settings (read-only to the service).
if [ -z "${KV_EMULATOR:-}" ]; then
  mkdir -p "$d/service" "$d/state"
  write_config "$d/service" "$mount-service" "[System]" "recordEnabled=true"
  STATE_DIRECTORY="$d/state" "${stream_cmd[@]}" --config "$d/service" --seconds 4 >"$d/service-out.txt" 2>&1 ||
    { cat "$d/service-out.txt"; fail "the service's stream failed"; }
  [ -n "$(ls "$d/state/recordings" 2>/dev/null)" ] || fail "nothing recorded in the state directory: $(ls -R "$d/service")"
  [ ! -e "$d/service/recordings" ] || fail "recorded beside the settings under the service"
fi

wait $pid
status=$?
pid=
[ $status -eq 0 ] || { cat "$d/out.txt" "$d/err.txt"; fail "stream exited with $status"; }
wait $listener
listener=

# The files, beside the settings file as none is configured.
mapfile -t recorded < <(ls "$d/good/recordings" 2>/dev/null | sort)
[ ${#recorded[@]} -eq $files ] || fail "expected $files files, found: ${recorded[*]:-none}"
for name in "${recorded[@]}"; do
  [[ $name =~ ^record-${build}_[0-9]{4}-[0-9]{2}-[0-9]{2}_[0-9]{2}-[0-9]{2}-[0-9]{2}\.aac$ ]] || fail "file name $name"
done
first_time="$(python3 -c 'import re, sys, time
m = re.search(r"_(\d{4}-\d\d-\d\d_\d\d-\d\d-\d\d)\.aac$", sys.argv[1])
print(int(time.mktime(time.strptime(m.group(1), "%Y-%m-%d_%H-%M-%S"))))' "${recorded[0]}")"
[ $((first_time - started)) -ge 0 ] && [ $((first_time - started)) -le 10 ] ||
  fail "the first file is named $((first_time - started)) s after the start: ${recorded[0]}"

paths=()
for name in "${recorded[@]}"; do paths+=("$d/good/recordings/$name"); done
cat "${paths[@]}" >"$d/joined.aac"
[ -s "$d/listened.aac" ] || fail "the listener received nothing"
# The listener got every byte of the files, up to the last few frames: a listener of
# Icecast 2.4 does not get what the server still held when the source left.
listened_bytes=$(stat -c %s "$d/listened.aac")
joined_bytes=$(stat -c %s "$d/joined.aac")
cmp -s -n "$listened_bytes" "$d/joined.aac" "$d/listened.aac" ||
  fail "the files are not what the listener received: $(cmp "$d/joined.aac" "$d/listened.aac" 2>&1 | head -n 1)"
tail_bytes=$((joined_bytes - listened_bytes))
[ $tail_bytes -ge 0 ] && [ $tail_bytes -le 4096 ] ||
  fail "the files hold $joined_bytes bytes, the listener received $listened_bytes"

# Decoded lengths in samples at 44.1 kHz; an HE-AAC frame is 2048 of them. Decoded one
# by one, the files give the stream's length (the files joined) within a frame each.
samples() { ffmpeg -nostdin -v error -i "$1" -f s16le -ac 1 -ar 44100 - | wc -c | awk '{ print $1 / 2 }'; }
total=0
lengths=()
for p in "${paths[@]}"; do
  n="$(samples "$p")"
  lengths+=("$n")
  total=$((total + n))
done
stream="$(samples "$d/joined.aac")"
listened="$(samples "$d/listened.aac")"
difference=$((total > stream ? total - stream : stream - total))
[ $difference -le $((2048 * files)) ] || fail "decoded: files ${lengths[*]} (sum $total), the stream $stream samples"
[ $((stream - listened)) -ge 0 ] && [ $((stream - listened)) -le $((2048 * (tail_bytes / 100 + 2))) ] ||
  fail "decoded: the stream $stream samples, the listener $listened"
if [ $files -eq 2 ]; then
  # The split comes at the first frame boundary at or after 60 s of sound.
  [ "${lengths[0]}" -ge 2646000 ] && [ "${lengths[0]}" -lt $((2646000 + 2048 * 2)) ] ||
    fail "the first file holds ${lengths[0]} samples, not 60 s and a frame at most"
fi
grep -q "Recording to ${recorded[0]}" "$d/err.txt" || [ -n "${KV_EMULATOR:-}" ] || fail "the log does not name the file"
echo "record_e2e: ok (${recorded[*]}; samples ${lengths[*]}, the stream $stream, listener $listened; $tail_bytes bytes not relayed)"
