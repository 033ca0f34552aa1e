#!/usr/bin/env bash
# Shoutcast v1 sources to two real servers: Icecast's Shoutcast port (mount /shoutcast)
# and Liquidsoap's harbor in its Shoutcast mode, which relays to Icecast. Each: the
# stream goes on air, a listener decodes the tones, a new line of the title file shows in
# Icecast's status document, a wrong password gets its text, and after a restart of the
# server the stream comes back by itself. Then a stream id: the scripted peer sees the
# password line end in ":#2".
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/stream_common.bash"
need_environment
testenv="$KV_SOURCE_DIR/scripts/testenv"
[ -n "${KV_SHOUTCAST_PORT:-}" ] || { echo "skipped: the environment has no Shoutcast port"; exit 0; }

d="$(mktemp -d)"
pid=
harbor=
peer=
cleanup() {
  kill $pid $harbor $peer 2>/dev/null
  ensure_icecast_running
  rm -rf "$d"
}
trap cleanup EXIT
tag="${KV_BUILD:-linux}"
harbor_port=$((KV_ICECAST_PORT + 8))

start_harbor() {
  # Liquidsoap takes Shoutcast sources at port + 1 on the mount "/" and relays them.
  cat >"$d/harbor.liq" <<LIQ
settings.init.allow_root.set(true)
settings.log.file.set(false)
settings.log.stdout.set(true)
settings.harbor.bind_addrs.set(["127.0.0.1"])
s = input.harbor("/", port=$harbor_port, password="$KV_ICECAST_SOURCE_PASSWORD", icy=true, buffer=1.)
output.icecast(%ffmpeg(format="adts", %audio(codec="aac", b="128k")), host="127.0.0.1", port=$KV_ICECAST_PORT,
  password="$KV_ICECAST_SOURCE_PASSWORD", mount="/harbor-$tag", format="audio/aac", fallible=true, s)
LIQ
  liquidsoap "$d/harbor.liq" >>"$d/harbor.log" 2>&1 &
  harbor=$!
  # Liquidsoap loads its plugins first: that alone takes half a minute on a busy machine.
  local i
  for i in $(seq 1200); do
    (exec 3<>"/dev/tcp/127.0.0.1/$((harbor_port + 1))") 2>/dev/null && return 0
    sleep 0.1
  done
  cat "$d/harbor.log"
  fail "Liquidsoap's harbor did not start"
}

# check_server NAME PORT MOUNT: the checks above against the server at PORT, whose
# stream appears in Icecast's status document as MOUNT.
check_server() {
  local name=$1 port=$2 mount=$3 restart=$4
  local c="$d/$name"
  mkdir -p "$c"
  echo "First Song" >"$c/title.txt"
  write_config "$c" "/ignored" "[Icecast]" "serverType=shoutcast1" "port=$port" "titleFile=$c/title.txt" \
    "[System]" "persistentEncoding=true"
  "${stream_cmd[@]}" --config "$c" --seconds 120 >"$c/out.txt" 2>"$c/err.txt" &
  pid=$!
  wait_for_mount "$mount" 30 || { cat "$c/out.txt" "$c/err.txt" "$d/harbor.log"; fail "$name: never on air"; }
  # The log reaches standard error in the Linux build only.
  if [ -z "${KV_EMULATOR:-}" ]; then
    grep -q "Connected: 127.0.0.1:$((port + 1))" "$c/err.txt" || fail "$name: not connected at port + 1"
  fi
  ffmpeg -nostdin -loglevel error -t 3 -i "http://127.0.0.1:${KV_ICECAST_STATUS_PORT}$mount" "$c/heard.wav" ||
    fail "$name: the listener decoded nothing"
  read -r left right < <(tone_frequencies "$c/heard.wav")
  [ "$left" -ge 430 ] && [ "$left" -le 450 ] && [ "$right" -ge 650 ] && [ "$right" -le 670 ] ||
    fail "$name: the listener heard $left Hz and $right Hz"
  echo "Second Song & More" >"$c/title.txt"
  local i
  for i in $(seq 150); do
    mount_json "$mount" | grep -q '"title": "Second Song & More"' && break
    sleep 0.1
  done
  mount_json "$mount" | grep -q '"title": "Second Song & More"' ||
    { cat "$c/err.txt"; mount_json "$mount"; fail "$name: the new title is not in Icecast's status"; }

  # The server goes away and comes back; the stream follows it.
  $restart
  wait_for_text "$c/out.txt" "Reconnecting in" 10 || { cat "$c/out.txt"; fail "$name: no countdown after the restart"; }
  wait_for_mount "$mount" 40 || { cat "$c/out.txt" "$c/err.txt"; fail "$name: not back on air"; }
  kill -INT $pid
  wait $pid
  pid=

  write_config "$c" "/ignored" "[Icecast]" "serverType=shoutcast1" "port=$port" "password=wrong"
  "${stream_cmd[@]}" --config "$c" --seconds 5 >"$c/wrong.txt" 2>&1
  grep -q "Connection Failed: Failed to connect to Icecast server: Authentication failed (wrong username/password)" \
    "$c/wrong.txt" || { cat "$c/wrong.txt"; fail "$name: no wrong-password text"; }
}

restart_icecast() { "$testenv" icecast stop; sleep 1; "$testenv" icecast start >/dev/null; }
restart_harbor() {
  kill $harbor
  wait $harbor 2>/dev/null
  sleep 1
  start_harbor
}

check_server icecast "$KV_SHOUTCAST_PORT" /shoutcast restart_icecast
start_harbor
check_server harbor "$harbor_port" "/harbor-$tag" restart_harbor

# A stream id other than 1 rides on the password line.
peer_port=$((KV_ICECAST_PORT + 8))
kill $harbor
wait $harbor 2>/dev/null
harbor=
python3 "$KV_SOURCE_DIR/scripts/shoutcast-peer.py" v1 127.0.0.1 $((peer_port + 1)) "$KV_ICECAST_SOURCE_PASSWORD" \
  "$d/peer.log" &
peer=$!
write_config "$d" "/ignored" "[Icecast]" "serverType=shoutcast1" "port=$peer_port" "streamId=2"
for i in $(seq 50); do (exec 3<>"/dev/tcp/127.0.0.1/$((peer_port + 1))") 2>/dev/null && break; sleep 0.1; done
"${stream_cmd[@]}" --config "$d" --seconds 3 >"$d/sid.txt" 2>&1
grep -qx "password-line $KV_ICECAST_SOURCE_PASSWORD:#2" "$d/peer.log" || { cat "$d/peer.log"; fail "no :#2"; }
grep -qx "header content-type:audio/aacp" "$d/peer.log" || { cat "$d/peer.log"; fail "no content type"; }
grep -qx "header icy-br:64" "$d/peer.log" || { cat "$d/peer.log"; fail "no bitrate"; }
grep -q "Streaming to" "$d/sid.txt" || { cat "$d/sid.txt"; fail "stream id 2 did not go on air"; }
echo "shoutcast_v1_e2e: ok"
