#!/usr/bin/env bash
# Shoutcast 2 (Ultravox 2.1) sources at the scripted peer, which checks the framing of
# every message and the order of the handshake: the authentication decrypts to the user
# and password, the data messages carry exactly the bytes the archive recorded (the
# encoder's frames), titles arrive as metadata messages, and the stream ends with its
# terminate message. Then each refusal of the server gets its own status text.
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/stream_common.bash"
need_environment

d="$(mktemp -d)"
pid=
peer=
cleanup() {
  kill $pid $peer 2>/dev/null
  rm -rf "$d"
}
trap cleanup EXIT
port=$((KV_ICECAST_PORT + 8))
python3 "$KV_SOURCE_DIR/scripts/shoutcast-peer.py" v2 127.0.0.1 "$port" "$KV_ICECAST_SOURCE_PASSWORD" "$d/peer.log" \
  "3:1001=NAK:2.1 Deny" "4:1001=NAK:Stream In Use" "5:1002=NAK:Bitrate Error" "6:1001=NAK:Server Full" \
  "7:1040=NAK:Unsupported MIME type" &
peer=$!
for _ in $(seq 50); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.1; done

echo "First Song" >"$d/title.txt"
write_config "$d" "/ignored" "[Icecast]" "serverType=shoutcast2" "port=$port" "username=dj" "streamId=2" \
  "titleFile=$d/title.txt" "[System]" "recordEnabled=true" "recordSplitMinutes=0"
"${stream_cmd[@]}" --config "$d" --seconds 60 >"$d/out.txt" 2>"$d/err.txt" &
pid=$!
wait_for_text "$d/peer.log" "^title First Song$" 20 || { cat "$d/peer.log" "$d/err.txt"; fail "no first title"; }
sleep 2
echo "Second Song & More" >"$d/title.txt"
wait_for_text "$d/peer.log" "^title Second Song & More$" 10 || { cat "$d/peer.log"; fail "no second title"; }
# The status poll reads the server's statistics of stream 2.
wait_for_text "$d/out.txt" "Name: Peer Stream | Title: Second Song & More | Listeners: 3 |" 15 ||
  { tail -n 3 "$d/out.txt"; fail "the status line does not show the server's statistics"; }
kill -INT $pid
wait $pid
pid=
log="$(cat "$d/peer.log")"
grep -q "^error" <<<"$log" && fail "the peer found faults: $log"
grep -qx "auth sid=2 user=dj password=$KV_ICECAST_SOURCE_PASSWORD" <<<"$log" || fail "authentication: $log"
grep -qx "order ok" <<<"$log" || fail "the handshake is incomplete: $log"
grep -qx "message 0x1040 audio/aacp" <<<"$log" || fail "MIME type: $log"
grep -qx "message 0x1002 64:64" <<<"$log" || fail "bitrate: $log"
grep -qx "message 0x1100 Kelm Test Stream" <<<"$log" || fail "name: $log"
grep -qx "data 0x8003" <<<"$log" || fail "no AAC data messages: $log"
grep -qx "terminate" <<<"$log" || fail "the stream did not end with its terminate message: $log"
recorded=("$d"/recordings/*)
# The stream's connection is the one that carried data.
python3 - "$(ls -S "$d"/peer.log.*.data | head -n 1)" "${recorded[0]}" <<'PY' || fail "the data messages are not the encoder's frames"
import sys
sent, archived = open(sys.argv[1], "rb").read(), open(sys.argv[2], "rb").read()
print("sent %d bytes, archived %d" % (len(sent), len(archived)))
sys.exit(0 if len(sent) > 20000 and sent[:4096] == archived[:4096] and sent in archived else 1)
PY

# Each refusal: the server's NAK for stream ids 3 to 7, and a wrong password.
expect_refusal() {
  local sid=$1 text=$2
  shift 2
  write_config "$d" "/ignored" "[Icecast]" "serverType=shoutcast2" "port=$port" "streamId=$sid" "$@"
  "${stream_cmd[@]}" --config "$d" --seconds 5 >"$d/refused.txt" 2>&1
  grep -qF "Connection Failed: Failed to connect to Icecast server: $text" "$d/refused.txt" ||
    { cat "$d/refused.txt"; fail "stream $sid: no \"$text\""; }
}
expect_refusal 3 "Authentication failed (wrong username/password)"
expect_refusal 4 "Stream id in use: 4"
expect_refusal 5 "Bitrate refused by the server: 64 kbps"
expect_refusal 6 "Server full (no free source slot)"
expect_refusal 7 "Stream format refused by the server"
expect_refusal 1 "Authentication failed (wrong username/password)" "password=wrong"
echo "shoutcast_v2_e2e: ok"
