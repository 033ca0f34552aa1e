#!/usr/bin/env bash
# The control interface of the stream command against a real Icecast: /status follows
# the stream through a server restart, /stop and /start work, the three title requests
# reach Icecast's status document with their UTF-8 intact, /metrics passes promtool and
# its counters grow. Bad requests (no or a wrong token, a header or a body too large, a
# path out of the tree, junk bytes) each get a 4xx and leave the stream on air. A listen
# address off loopback without a token is refused. Two stations run side by side as the
# template unit kelm-vantoro@.service runs them: its ExecStart and StateDirectory for two
# instances, each with its own settings folder, mount, control port and recordings
# folder; a stop through one leaves the other on air.
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/../engine/stream_common.bash"
need_environment
testenv="$KV_SOURCE_DIR/scripts/testenv"
# The Windows program's interface is tried in the window's test; the CLI's under Wine
# would add nothing but time.
[ -n "${KV_EMULATOR:-}" ] && { echo "skipped: the Linux build's test"; exit 0; }

d="$(mktemp -d)"
pid=
pids=()
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  ensure_icecast_running >/dev/null 2>&1
  rm -rf "$d"
}
trap cleanup EXIT

token="kv-control-test-token-0123456789"
port=8190
api="http://127.0.0.1:$port"
mount="/control-${KV_BUILD:-linux}"
write_config "$d" "$mount" "[System]" "persistentEncoding=true" \
  "[Output2]" "mountPoint=$mount-lc" "heVersion=0" "bitrate=128000" \
  "[Control]" "enabled=true" "listen=127.0.0.1:$port" "token=$token"

# call METHOD PATH [CURL ARGS...]: prints the body, then the status on a line of its own.
call() {
  local method=$1 path=$2
  shift 2
  curl -sS --max-time 70 --path-as-is -X "$method" -H "Authorization: Bearer $token" -w '\n%{http_code}\n' \
    "$@" "$api$path"
}
status_of() { tail -n 1 <<<"$1"; }
body_of() { sed '$d' <<<"$1"; }
# json FIELD: a field of /status (a Python expression over the document s).
json() { body_of "$(call GET /status)" | python3 -c "import json,sys; s=json.load(sys.stdin); print($1)"; }
# wait_for_state STATE SECONDS
wait_for_state() {
  for _ in $(seq $(($2 * 5))); do
    [ "$(json 's["state"]' 2>/dev/null)" = "$1" ] && return 0
    sleep 0.2
  done
  return 1
}
# Icecast's JSON writes characters beyond Latin-1 as XML character references.
title_on_server() {
  mount_json "$mount" | python3 -c 'import html,json,sys; print(html.unescape(json.load(sys.stdin).get("title","")))'
}
# wait_for_title TEXT: Icecast's status document carries exactly TEXT.
wait_for_title() {
  for _ in $(seq 50); do
    [ "$(title_on_server 2>/dev/null)" = "$1" ] && return 0
    sleep 0.1
  done
  return 1
}
on_air() { wait_for_state online 10 && [ -n "$(mount_json "$mount")" ]; }

"${stream_cmd[@]}" --config "$d" --seconds 600 >"$d/out.txt" 2>"$d/err.txt" &
pid=$!
wait_for_mount "$mount" 30 || { cat "$d/err.txt"; fail "the stream did not go on air"; }
wait_for_state online 10 || fail "status never said online: $(call GET /status)"
grep -q "Control interface on 127.0.0.1:$port" "$d/out.txt" || fail "no line about the interface"

# /status: the output, its mount and its counters.
[ "$(json 's["outputs"][0]["mount"]')" = "$mount" ] || fail "status mount: $(call GET /status)"
[ "$(json 's["outputs"][0]["connected"]')" = True ] || fail "status not connected"
[ "$(json 's["recording"]["state"]')" = off ] || fail "recording reported on"

# /metrics: valid for promtool, and the byte counter grows.
metric() { body_of "$(call GET /metrics)" | awk -v name="$1" '$1 ~ "^"name"({|$)" {print $2; exit}'; }
body_of "$(call GET /metrics)" >"$d/metrics.txt"
promtool check metrics <"$d/metrics.txt" >"$d/promtool.txt" 2>&1 || fail "promtool: $(cat "$d/promtool.txt")"
for name in kelm_vantoro_output_up kelm_vantoro_output_connected kelm_vantoro_output_sent_bytes_total \
  kelm_vantoro_output_reconnects_total kelm_vantoro_dead_air kelm_vantoro_input_peak_dbfs \
  kelm_vantoro_loudness_short_term_lufs kelm_vantoro_loudness_integrated_lufs kelm_vantoro_true_peak_dbtp \
  kelm_vantoro_recording kelm_vantoro_recording_written_bytes_total; do
  grep -q "^$name" "$d/metrics.txt" || fail "no $name in: $(cat "$d/metrics.txt")"
done
first_bytes="$(metric kelm_vantoro_output_sent_bytes_total)"
sleep 2
later_bytes="$(metric kelm_vantoro_output_sent_bytes_total)"
[ "$later_bytes" -gt "$first_bytes" ] || fail "bytes sent did not grow: $first_bytes then $later_bytes"

# The three title forms, UTF-8 exact.
reply="$(call POST /title -H 'Content-Type: text/plain; charset=utf-8' --data-binary 'Ünïcödé – Fïrst & Bëst')"
[ "$(status_of "$reply")" = 200 ] || fail "POST /title: $reply"
wait_for_title 'Ünïcödé – Fïrst & Bëst' || fail "POST /title did not arrive: $(title_on_server)"
reply="$(call POST /title --data-urlencode 'text=Förm Títle + plus')"
wait_for_title 'Förm Títle + plus' || fail "POST /title text= did not arrive: $reply / $(title_on_server)"
reply="$(call GET /nowplaying -G --data-urlencode 'artist=Ärtist' --data-urlencode 'title=Sóng #2')"
[ "$(status_of "$reply")" = 200 ] || fail "nowplaying: $reply"
wait_for_title 'Ärtist - Sóng #2' || fail "nowplaying did not arrive: $(title_on_server)"
reply="$(curl -sS -u "source:$token" -w '\n%{http_code}\n' -G --data-urlencode 'mode=updinfo' \
  --data-urlencode 'mount=/whatever' --data-urlencode 'song=Ïcecast – Style' "$api/admin/metadata")"
[ "$(status_of "$reply")" = 200 ] && grep -q "<return>1</return>" <<<"$reply" || fail "admin/metadata: $reply"
wait_for_title 'Ïcecast – Style' || fail "admin/metadata did not arrive: $(title_on_server)"

# Refusals, each with its status and the stream still on air.
expect_status() { # WANT WHAT STATUS
  [ "$3" = "$1" ] || fail "$2: status $3, not $1"
}
expect_status 401 "no token" "$(curl -s -o /dev/null -w '%{http_code}' "$api/status")"
expect_status 401 "a wrong token" "$(curl -s -o /dev/null -w '%{http_code}' -H 'Authorization: Bearer wrong' "$api/status")"
expect_status 401 "a wrong Basic password" \
  "$(curl -s -o /dev/null -w '%{http_code}' -u source:wrong "$api/admin/metadata?mode=updinfo&song=x")"
expect_status 401 "a Basic password on /stop" "$(curl -s -o /dev/null -w '%{http_code}' -u "source:$token" -X POST "$api/stop")"
curl -s -D "$d/headers.txt" -o "$d/body.txt" "$api/status"
grep -q "$token" "$d/headers.txt" "$d/body.txt" && fail "the token was echoed"
long="$(head -c 9000 /dev/zero | tr '\0' a)"
expect_status 400 "a header too long" "$(curl -s -o /dev/null -w '%{http_code}' -H "X-Long: $long" "$api/status")"
many=()
for i in $(seq 60); do many+=(-H "X-Many-$i: $i"); done
expect_status 431 "too many headers" "$(curl -s -o /dev/null -w '%{http_code}' "${many[@]}" "$api/status")"
expect_status 413 "a body too large" \
  "$(head -c 10000 /dev/zero | curl -s -o /dev/null -w '%{http_code}' -H "Authorization: Bearer $token" --data-binary @- "$api/title")"
expect_status 404 "a path out of the tree" \
  "$(curl -s --path-as-is -o /dev/null -w '%{http_code}' -H "Authorization: Bearer $token" "$api/../../etc/passwd")"
expect_status 405 "GET /stop" "$(curl -s -o /dev/null -w '%{http_code}' -H "Authorization: Bearer $token" "$api/stop")"
junk="$(python3 - "$port" <<'PY'
import socket, sys
s = socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=10)
s.sendall(b"\x16\x03\x01\x00\xff\x01\x00 GARBAGE \x00\x7f\r\n\r\n")
print(s.recv(200).split(b"\r\n")[0].decode("latin-1"))
PY
)"
grep -q "^HTTP/1.1 400" <<<"$junk" || fail "junk bytes: $junk"
grep -q "$long" "$d/err.txt" && fail "a request's header reached the log"
on_air || fail "the refused requests took the stream off air"

# A server restart: the status follows the loss and the reconnection.
"$testenv" icecast stop
wait_for_state reconnecting 30 || fail "status did not follow the loss: $(call GET /status)"
"$testenv" icecast start >/dev/null || fail "Icecast did not restart"
wait_for_state online 60 || fail "status did not follow the reconnection: $(call GET /status)"
[ "$(json 's["outputs"][0]["reconnects"]')" -ge 1 ] || fail "no reconnect counted"
[ "$(metric kelm_vantoro_output_reconnects_total)" -ge 1 ] || fail "no reconnect in the metrics"

# /stop and /start, as the window's buttons, for both outputs: after the start the
# program streams again (bytes flow on each).
reply="$(call POST /stop)"
[ "$(status_of "$reply")" = 200 ] && grep -q '"stopped 2 outputs"' <<<"$reply" || fail "POST /stop: $reply"
wait_for_no_mount "$mount" 10 && wait_for_no_mount "$mount-lc" 10 || fail "a mount stayed after /stop"
[ "$(json 's["state"]')" = idle ] || fail "status after /stop: $(call GET /status)"
reply="$(call POST /stop)"
grep -q '"result":"idle"' <<<"$reply" || fail "a second /stop: $reply"
reply="$(call POST /start)"
[ "$(status_of "$reply")" = 200 ] && grep -q '"result":"on air"' <<<"$reply" || fail "POST /start: $reply"
wait_for_mount "$mount" 10 && wait_for_mount "$mount-lc" 10 || fail "a mount did not come back after /start"
sleep 2
[ "$(json 'min(o["bytesSent"] for o in s["outputs"])')" -gt 0 ] || fail "nothing sent after /start: $(call GET /status)"
reply="$(call POST /start)"
grep -q '"message":"already on air"' <<<"$reply" || fail "a second /start: $reply"

kill -INT $pid
wait $pid
status=$?
pid=
[ $status -eq 0 ] || { cat "$d/err.txt"; fail "stream exited with $status"; }

# Off loopback without a token: refused, and nothing streams.
write_config "$d" "$mount" "[Control]" "enabled=true" "listen=0.0.0.0:$port"
"${stream_cmd[@]}" --config "$d" --seconds 5 >"$d/out.txt" 2>"$d/err.txt"
status=$?
[ $status -ne 0 ] || fail "an open interface off loopback was accepted"
grep -q "reachable from other machines" "$d/err.txt" || fail "no reason for the refusal: $(cat "$d/err.txt")"

# --- two stations of the template unit.
unit="$KV_SOURCE_DIR/packaging/deb/kelm-vantoro@.service"
exec_start="$(sed -n 's/^ExecStart=//p' "$unit")"
state_directory="$(sed -n 's/^StateDirectory=//p' "$unit")"
[ -n "$exec_start" ] && [ -n "$state_directory" ] || fail "the unit has no ExecStart or StateDirectory"

# instance NAME PORT: runs the unit's command for NAME, as systemd would (%i the name,
# STATE_DIRECTORY under /var/lib), with the built command and folders under $d.
instance() {
  local name=$1 port=$2 folder="$d/etc/kelm-vantoro/$1"
  mkdir -p "$folder"
  write_config "$folder" "/station-$name" "[System]" "recordEnabled=true" \
    "[Control]" "enabled=true" "listen=127.0.0.1:$port"
  local command="${exec_start//%i/$name}"
  command="${command//\/etc\/kelm-vantoro/$d/etc/kelm-vantoro}"
  command="${command/\/usr\/bin\/kelm-vantoro-cli/$KV_CLI}"
  local state="$d/var/lib/${state_directory//%i/$name}"
  mkdir -p "$state"
  # shellcheck disable=SC2086 # the unit's command line, split as systemd splits it
  STATE_DIRECTORY="$state" $command --probe-target "127.0.0.1:$KV_ICECAST_STATUS_PORT" --seconds 120 \
    >"$d/$name.out" 2>"$d/$name.err" &
  pids+=($!)
}
instance studio1 8191
instance studio2 8192
wait_for_mount /station-studio1 30 && wait_for_mount /station-studio2 30 ||
  { cat "$d"/*.err; fail "not both stations went on air"; }

mount_of() { curl -fsS --max-time 10 "http://127.0.0.1:$1/status" | python3 -c 'import json,sys; print(json.load(sys.stdin)["outputs"][0]["mount"])'; }
[ "$(mount_of 8191)" = /station-studio1 ] || fail "port 8191 reports $(mount_of 8191)"
[ "$(mount_of 8192)" = /station-studio2 ] || fail "port 8192 reports $(mount_of 8192)"
curl -fsS --max-time 20 -X POST "http://127.0.0.1:8191/stop" >/dev/null || fail "stop of studio1"
wait_for_no_mount /station-studio1 10 || fail "studio1 stayed on air"
[ -n "$(mount_json /station-studio2)" ] || fail "studio2 went off air with studio1"
for name in studio1 studio2; do
  ls "$d/var/lib/kelm-vantoro/$name/recordings/"station-"$name"_*.aac >/dev/null 2>&1 ||
    fail "no recording of $name in its own state folder: $(find "$d/var" | head)"
done
echo "control_e2e: ok (bytes sent grew from $first_bytes to $later_bytes in 2 s; two template instances)"
