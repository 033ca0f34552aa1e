#!/usr/bin/env bash
# The headless encoder over TLS: the stream goes on air through Icecast's TLS socket with
# verification on, a listener decodes both tones, and a capture of the loopback traffic
# holds neither the Base64 credentials nor "SOURCE /". The same capture of a plain
# stream holds both, so the check can fail.
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/stream_common.bash"
need_environment
if [ -z "${KV_ICECAST_TLS_PORT:-}" ] || ! command -v tcpdump >/dev/null; then
  echo "skipped: needs the TLS socket of scripts/testenv and tcpdump"
  exit 0
fi
if ! grep -q tlsEnabled "$KV_CLI"; then
  echo "skipped: this command line has no TLS settings"
  exit 0
fi

d="$(mktemp -d)"
pid= capture= listener=
trap 'kill $pid $capture $listener 2>/dev/null; rm -rf "$d"' EXIT
credentials="$(printf 'source:%s' "$KV_ICECAST_SOURCE_PASSWORD" | base64)"

# stream_once NAME HOST PORT [ICECAST LINES...]: a short stream to mount /tls-e2e-NAME
# with the loopback traffic to PORT captured into $d/NAME.pcap.
stream_once() {
  local name=$1 host=$2 port=$3
  shift 3
  local mount="/tls-e2e-$name-${KV_BUILD:-linux}"
  write_config "$d" "$mount" "[System]" "persistentEncoding=false"
  local line
  for line in "$@"; do sed -i "/^\[Icecast\]$/a $line" "$d/config.ini"; done
  sed -i -e "s/^port=.*/port=$port/" -e "s/^host=.*/host=$host/" "$d/config.ini"
  tcpdump -i lo -U -s 0 -w "$d/$name.pcap" "tcp port $port" 2>"$d/$name.tcpdump" &
  capture=$!
  wait_for_text "$d/$name.tcpdump" "listening on" 10 || fail "tcpdump did not start"
  "${stream_cmd[@]}" --config "$d" --seconds 12 >"$d/$name.out" 2>"$d/$name.err" &
  pid=$!
  wait_for_mount "$mount" 15 || { cat "$d/$name.out" "$d/$name.err"; fail "$name: the mount never appeared"; }
  # The listener uses the plain status port: what is checked is the source's transport.
  ffmpeg -nostdin -loglevel fatal -i "http://127.0.0.1:${KV_ICECAST_STATUS_PORT}$mount" -t 5 -c copy -f adts \
    "$d/$name.aac" &
  listener=$!
  wait $listener
  listener=
  wait $pid
  local status=$?
  pid=
  kill -INT $capture
  wait $capture
  capture=
  [ $status -eq 0 ] || { cat "$d/$name.out" "$d/$name.err"; fail "$name: stream exited with $status"; }
  ffmpeg -nostdin -loglevel fatal -i "$d/$name.aac" -ac 2 -ar 44100 "$d/$name.wav" || fail "$name: no decodable stream"
  local left right
  read -r left right <<<"$(tone_frequencies "$d/$name.wav")"
  [ "$left" = 440 ] && [ "$right" = 660 ] || fail "$name: tones at $left / $right Hz"
}

# in_capture NAME TEXT: true when the captured bytes hold TEXT.
in_capture() {
  python3 -c 'import sys; sys.exit(0 if sys.argv[2].encode() in open(sys.argv[1], "rb").read() else 1)' "$d/$1.pcap" "$2"
}

stream_once plain 127.0.0.1 "$KV_ICECAST_PORT"
in_capture plain "$credentials" || fail "the plain capture lacks the credentials: the check could never fail"
in_capture plain "SOURCE /" || fail "the plain capture lacks the request line"

# Natively the CA file; under Wine the pinned certificate.
if [ -z "${KV_EMULATOR:-}" ]; then trust="tlsCaFile=$KV_TEST_CA_FILE"; else trust="tlsFingerprint=$KV_TEST_CERT_SHA256"; fi
stream_once tls localhost "$KV_ICECAST_TLS_PORT" "tlsEnabled=true" "$trust"
grep -q "Encoder: Connected" "$d/tls.out" || fail "the TLS stream never read Connected"
in_capture tls "$credentials" && fail "the credentials crossed in clear over TLS"
in_capture tls "SOURCE /" && fail "the request line crossed in clear over TLS"
[ "$(stat -c %s "$d/tls.pcap")" -gt 20000 ] || fail "the TLS capture is too small to have seen the stream"
echo "tls_e2e: ok"
