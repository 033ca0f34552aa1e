# Shared by the stream tests: configuration, the status document and the tone check.
cli=(${KV_EMULATOR:-} "$KV_CLI")
status_url="http://127.0.0.1:${KV_ICECAST_STATUS_PORT:-8000}/status-json.xsl"

fail() { echo "FAIL: $*"; exit 1; }

need_environment() {
  if [ -z "${KV_ICECAST_PORT:-}" ] || [ -z "${PULSE_SERVER:-}" ]; then
    echo "skipped: needs scripts/testenv"
    exit 0
  fi
}

# For the tests that stop the server: start it again when it is not answering, so the
# tests after them find it.
ensure_icecast_running() {
  curl -fsS --max-time 1 "$status_url" >/dev/null 2>&1 || "$KV_SOURCE_DIR/scripts/testenv" icecast start
}

# write_config DIR MOUNT [EXTRA INI LINES...]
write_config() {
  local d=$1 mount=$2
  shift 2
  # A config.dat from an earlier import would win over the new file.
  rm -f "$d/config.dat"
  cat >"$d/config.ini" <<INI
[Icecast]
host=127.0.0.1
port=$KV_ICECAST_PORT
mountPoint=$mount
password=$KV_ICECAST_SOURCE_PASSWORD
streamName=Kelm Test Stream
streamGenre=Testing
[Audio]
sampleRate=44100
channels=2
[Encoder]
heVersion=1
bitrate=64000
INI
  local line
  for line in "$@"; do printf '%s\n' "$line" >>"$d/config.ini"; done
}

# The status document's source object for a mount, as JSON (empty when absent).
mount_json() {
  curl -fsS --max-time 2 "$status_url" 2>/dev/null | python3 -c '
import json, sys
text = sys.stdin.read()
try:
    data = json.loads(text)
except ValueError:
    sys.exit(0)
sources = data.get("icestats", {}).get("source", [])
if isinstance(sources, dict):
    sources = [sources]
for s in sources:
    if s.get("listenurl", "").endswith(sys.argv[1]):
        print(json.dumps(s))
' "$1"
}

# wait_for_mount MOUNT SECONDS: true once the mount is on the server.
wait_for_mount() {
  local i
  for i in $(seq $(( $2 * 10 ))); do
    [ -n "$(mount_json "$1")" ] && return 0
    sleep 0.1
  done
  return 1
}

# wait_for_no_mount MOUNT SECONDS
wait_for_no_mount() {
  local i
  for i in $(seq $(( $2 * 10 ))); do
    [ -z "$(mount_json "$1")" ] && return 0
    sleep 0.1
  done
  return 1
}

# wait_for_text FILE TEXT SECONDS
wait_for_text() {
  local i
  for i in $(seq $(( $3 * 10 ))); do
    grep -q -- "$2" "$1" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}

# Dominant frequency of each channel of a 16-bit WAV, "LEFT RIGHT" in Hz.
tone_frequencies() {
  python3 - "$1" <<'PY'
import math, struct, sys, wave
w = wave.open(sys.argv[1])
ch, rate, n = w.getnchannels(), w.getframerate(), w.getnframes()
data = struct.unpack("<%dh" % (n * ch), w.readframes(n))
def dominant(x):
    best, best_f = 0.0, 0
    for f in range(300, 800, 10):
        c = s = 0.0
        w0 = 2 * math.pi * f / rate
        for i, v in enumerate(x):
            c += v * math.cos(w0 * i)
            s += v * math.sin(w0 * i)
        p = c * c + s * s
        if p > best:
            best, best_f = p, f
    return best_f
skip = rate // 2
left = data[skip * ch::ch][: rate // 4]
right = data[skip * ch + (1 if ch > 1 else 0)::ch][: rate // 4]
print(dominant(left), dominant(right))
PY
}

# The stream command, its reachability probe aimed at the test server: never outside.
# (An array, not a function: a function run with & would put a shell between the test
# and the program, and the signals meant for the program would stop at that shell.)
stream_cmd=("${cli[@]}" stream --probe-target "127.0.0.1:${KV_ICECAST_STATUS_PORT:-8000}")
