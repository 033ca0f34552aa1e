#!/usr/bin/env bash
# Titles from a playout program's text file on the real Icecast: the stream connects
# with the file's first line, the title follows each change within 3 s (a Windows-1252
# line arrives as UTF-8), a missing file gives the stream name, a server restart brings
# the file's line back, and the title command sets a title on the running stream or
# fails with the reason.
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/stream_common.bash"
need_environment
testenv="$KV_SOURCE_DIR/scripts/testenv"

d="$(mktemp -d)"
pid=
cleanup() {
  [ -n "$pid" ] && kill $pid 2>/dev/null
  ensure_icecast_running
  rm -rf "$d"
}
trap cleanup EXIT

mount="/title-${KV_BUILD:-linux}"
file="$d/now playing.txt"
printf 'Opening Song\r\n' >"$file"
write_config "$d" "$mount" "[Icecast]" "titleFile=$file" "[System]" "persistentEncoding=true"

# wait_for_title TITLE SECONDS: polls the status document; prints the seconds it took.
wait_for_title() {
  python3 - "$status_url" "$mount" "$1" "$2" <<'PY'
import json, sys, time, urllib.request
url, mount, want, limit = sys.argv[1], sys.argv[2], sys.argv[3], float(sys.argv[4])
start, title = time.monotonic(), None
while time.monotonic() - start <= limit:
    try:
        sources = json.loads(urllib.request.urlopen(url, timeout=2).read().decode()).get("icestats", {}).get("source", [])
        sources = [sources] if isinstance(sources, dict) else sources
        title = next((s.get("title") for s in sources if s.get("listenurl", "").endswith(mount)), None)
    except (OSError, ValueError):
        pass
    if title == want:
        print("%.2f" % (time.monotonic() - start))
        sys.exit(0)
    time.sleep(0.1)
print("title %r, not %r, after %.1f s" % (title, want, limit))
sys.exit(1)
PY
}

"${stream_cmd[@]}" --config "$d" --seconds 120 >"$d/out.txt" 2>"$d/err.txt" &
pid=$!
wait_for_mount "$mount" 15 || { cat "$d/out.txt" "$d/err.txt"; fail "the mount never appeared"; }
wait_for_title "Opening Song" 5 >/dev/null || { cat "$d/err.txt"; fail "the connection's title is not the file's line"; }

# change TEXT TITLE: the file gets TEXT (bytes, printf escapes); the server shows TITLE within
# 3 s. (Its status document writes characters beyond Latin-1 as HTML entities.)
change() {
  printf "$1" >"$file"
  local took
  took="$(wait_for_title "$2" 3)" || fail "after a change to '$1': $took"
  echo "  '$2' on the air after $took s"
}
change 'Second Song\n' "Second Song"
change '\xef\xbb\xbf  M\xc3\xbcller \xc2\xb7 Lied \t\n' "Müller · Lied"
change 'Caf\xe9 del Mar\r\nnext line\r\n' "Café del Mar"
change '\xff\xfeU\x00T\x00F\x00-\x001\x006\x00 \x00\xe9\x00\r\x00\n\x00' "UTF-16 é"
change '\xfe\xff\x00B\x00E\x00 \x00\xfc\x00\n' "BE ü"
rm -f "$file"
took="$(wait_for_title "Kelm Test Stream" 5)" || fail "a missing file does not give the stream name: $took"
change 'Caf\xe9 del Mar\n' "Café del Mar"

# The title command on the running stream; the file's watcher leaves it, as the file
# does not change.
out="$("${cli[@]}" title --config "$d" "From the  command")" || fail "title command failed: $out"
[ "$(tr -d '\r' <<<"$out")" = "title=From the  command" ] || fail "title command printed: $out"
took="$(wait_for_title "From the  command" 3)" || fail "the title command's title: $took"
mkdir "$d/wrong"
write_config "$d/wrong" "$mount" "[Icecast]" "password=not-the-password"
"${cli[@]}" title --config "$d/wrong" "Never" >"$d/wrong/out.txt" 2>"$d/wrong/err.txt"
status=$?
[ $status -eq 1 ] || fail "title with a wrong password exited $status"
grep -q 'Title refused: authentication failed (wrong username/password)' "$d/wrong/err.txt" ||
  fail "no reason for the wrong password: $(cat "$d/wrong/err.txt")"
"${cli[@]}" title --config "$d" >/dev/null 2>&1
[ $? -eq 2 ] || fail "title without TEXT is not a usage error"
wait_for_title "From the  command" 1 >/dev/null || fail "a refused title changed the stream's"

# A server restart: the new connection carries the file's line, changed meanwhile.
"$testenv" icecast stop
wait_for_text "$d/out.txt" "Reconnecting in" 10 || { tail -n 3 "$d/out.txt"; fail "no countdown"; }
printf 'Back Again\n' >"$file"
"$testenv" icecast start
wait_for_mount "$mount" 20 || { cat "$d/err.txt"; fail "not back on air"; }
took="$(wait_for_title "Back Again" 5)" || fail "after the restart: $took"
change 'After the Restart\n' "After the Restart"
kill -0 $pid 2>/dev/null || fail "the stream command ended"

if [ -z "${KV_EMULATOR:-}" ]; then
  grep -q '^\[Engine\] Title: Café del Mar$' "$d/err.txt" || fail "no log line for a title: $(cat "$d/err.txt")"
  kill -INT $pid
  wait $pid
  status=$?
  pid=
  [ $status -eq 0 ] || { cat "$d/out.txt" "$d/err.txt"; fail "stream exited with $status"; }
fi
# A FIFO as the title file (a playout program's hand-over that nobody writes to) never
# holds the connection: the stream goes on air with the stream name, and the log says
# once why the file is not read.
fifo_dir="$d/fifo"
mkdir "$fifo_dir"
mkfifo "$fifo_dir/now.fifo"
fifo_mount="/title-fifo-${KV_BUILD:-linux}"
write_config "$fifo_dir" "$fifo_mount" "[Icecast]" "titleFile=$fifo_dir/now.fifo"
"${stream_cmd[@]}" --config "$fifo_dir" --seconds 60 >"$fifo_dir/out.txt" 2>"$fifo_dir/err.txt" &
pid=$!
wait_for_mount "$fifo_mount" 15 || { cat "$fifo_dir/out.txt" "$fifo_dir/err.txt"; fail "a FIFO title file held the connection"; }
mount="$fifo_mount"
took="$(wait_for_title "Kelm Test Stream" 5)" || fail "a FIFO title file: $took"
if [ -z "${KV_EMULATOR:-}" ]; then
  sleep 3 # three more readings of the FIFO
  count="$(grep -c 'is not a regular file' "$fifo_dir/err.txt")"
  [ "$count" = 1 ] || fail "the FIFO was reported $count times: $(cat "$fifo_dir/err.txt")"
fi
kill -INT $pid
wait $pid
pid=
echo "title_file_e2e: ok"
