#!/usr/bin/env bash
# kelm-vantoro-cli test-server and status against the test environment's Icecast.
set -euo pipefail
if [ -z "${KV_ICECAST_HOST:-}" ]; then
  echo "icecast_cli: skipped (no test Icecast; run inside scripts/testenv)"
  exit 0
fi
cli=(${KV_EMULATOR:-} "$KV_CLI")
fail() { echo "FAIL: $*"; exit 1; }
source_host="$KV_ICECAST_HOST:$KV_ICECAST_PORT"
status_host="$KV_ICECAST_HOST:$KV_ICECAST_STATUS_PORT"
mount="/kv-cli-${KV_BUILD:-build}"

# expect_run STATUS EXPECTED_OUTPUT CLI_ARGS...
expect_run() {
  local want_status=$1 want=$2 out status
  shift 2
  set +e
  out="$("${cli[@]}" "$@")"
  status=$?
  set -e
  [ "$status" -eq "$want_status" ] || fail "$* exited $status, not $want_status"$'\n'"$out"
  [ "$out" = "$want" ] || fail "$* printed:"$'\n'"$out"$'\n'"instead of:"$'\n'"$want"
}

expect_run 0 $'serverResult=1\nauthResult=1' test-server "$source_host$mount-a" "$KV_ICECAST_SOURCE_PASSWORD"
expect_run 1 $'serverResult=1\nauthResult=-1' test-server "http://$source_host$mount-b" "not-the-password"
expect_run 0 $'serverResult=1\nauthResult=0' test-server "$source_host$mount-c"
expect_run 1 $'serverResult=-1\nauthResult=0' test-server "$source_host" "$KV_ICECAST_SOURCE_PASSWORD"
expect_run 2 "" test-server

# The transport is the stream's: https:// means TLS, which the plain source port cannot
# complete; without a scheme the settings of --config decide, and an explicit http://
# wins over them. A fingerprint no handshake could use is bad input.
tlsdir="$(mktemp -d)"
trap 'rm -rf "$tlsdir"' EXIT
printf '[Icecast]\ntlsEnabled=true\n' >"$tlsdir/config.ini"
expect_run 1 $'serverResult=-1\nauthResult=0' test-server "https://$source_host$mount-d" "$KV_ICECAST_SOURCE_PASSWORD"
expect_run 1 $'serverResult=-1\nauthResult=0' test-server --config "$tlsdir" "$source_host$mount-e" "$KV_ICECAST_SOURCE_PASSWORD"
expect_run 0 $'serverResult=1\nauthResult=1' test-server --config "$tlsdir" "http://$source_host$mount-f" "$KV_ICECAST_SOURCE_PASSWORD"
printf '[Icecast]\ntlsEnabled=true\ntlsFingerprint=12:34\n' >"$tlsdir/config.ini"
rm -f "$tlsdir/config.dat"
expect_run 2 "" test-server --config "$tlsdir" "$source_host$mount-g"
expect_run 1 $'serverName=\ntitle=\nlisteners=-1' status "$KV_ICECAST_HOST:9" "$mount"
expect_run 2 "" status

# A source that holds the mount, sets its title and keeps sending. Its name has quotes
# (escaped in the document) and its title the escape sequence that would retitle a
# terminal: status prints the name whole and the title without control characters.
title=$'Rock & Roll / 100% + m\xc3\xbcsic]0;pwned'
python3 - "$KV_ICECAST_HOST" "$KV_ICECAST_PORT" "$KV_ICECAST_SOURCE_PASSWORD" "$mount" <<'PY' &
import base64, socket, sys, time, urllib.parse
host, port, password, mount = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
auth = base64.b64encode(f"source:{password}".encode()).decode()
s = socket.create_connection((host, port))
s.sendall(f"SOURCE {mount} HTTP/1.0\r\nAuthorization: Basic {auth}\r\nContent-Type: audio/aac\r\n"
          f"ice-name: Kelm \"CLI\" Source\r\n\r\n".encode())
assert s.recv(1024).startswith(b"HTTP/1.0 200")
song = urllib.parse.quote_plus("Rock & Roll / 100% + m\u00fcsic\x1b]0;pwned\x07")
m = socket.create_connection((host, port))
m.sendall(f"GET /admin/metadata?mount={mount}&mode=updinfo&song={song}&charset=UTF-8 HTTP/1.0\r\n"
          f"Authorization: Basic {auth}\r\n\r\n".encode())
while m.recv(1024):
    pass
for _ in range(600):
    s.sendall(b"\0" * 512)
    time.sleep(0.1)
PY
feeder=$!
trap 'kill $feeder 2>/dev/null || true; rm -rf "$tlsdir"' EXIT

want="serverName=Kelm \"CLI\" Source"$'\n'"title=$title"$'\n'"listeners=0"
for _ in $(seq 50); do
  out="$("${cli[@]}" status "$status_host" "$mount" || true)"
  [ "$out" = "$want" ] && break
  sleep 0.2
done
[ "$out" = "$want" ] || fail "status printed:"$'\n'"$out"$'\n'"instead of:"$'\n'"$want"
expect_run 0 "$want" status "$status_host${mount}"
# A TLS stream's poll asks https first; this plain status port then answers over http.
printf '[Icecast]\ntlsEnabled=true\n' >"$tlsdir/config.ini"
rm -f "$tlsdir/config.dat"
expect_run 0 "$want" status --config "$tlsdir" "$status_host${mount}"
grep -q $'\r' <<<"$out" && fail "carriage returns in the output"
# A station that pins its server's certificate, which no system store trusts: the poll
# asks the TLS port through the stream's own verified TLS and finds the name and the
# listeners; another pin finds nothing.
if [ -n "${KV_ICECAST_TLS_PORT:-}" ] && [ -n "${KV_TEST_CERT_SHA256:-}" ] && grep -q tlsEnabled "$KV_CLI"; then
  printf '[Icecast]\ntlsEnabled=true\ntlsFingerprint=%s\n' "$KV_TEST_CERT_SHA256" >"$tlsdir/config.ini"
  rm -f "$tlsdir/config.dat"
  expect_run 0 "$want" status --config "$tlsdir" "localhost:$KV_ICECAST_TLS_PORT$mount"
  other="$(printf '%s' "$KV_TEST_CERT_SHA256" | tr 'A-F0-9' '0-9A-F')"
  printf '[Icecast]\ntlsEnabled=true\ntlsFingerprint=%s\n' "$other" >"$tlsdir/config.ini"
  rm -f "$tlsdir/config.dat"
  expect_run 1 $'serverName=\ntitle=\nlisteners=-1' status --config "$tlsdir" "localhost:$KV_ICECAST_TLS_PORT$mount"
fi
echo "icecast_cli: ok"
