#!/usr/bin/env bash
# What the window costs while a stream is on air, under Wine. In one run, with the test
# environment's tone source as 44.1 kHz stereo HE-AAC v1 at 64 kbit/s to its Icecast:
#   - KelmVantoro.exe on air with its window shown;
#   - KelmVantoro.exe on air hidden in the tray (startMinimized, minimizeToTray): the
#     same engine without the window's painting;
#   - kelm-vantoro-cli.exe stream, the same job without any window;
# each REPEATS times, interleaved, for SECONDS once on air. It counts the CPU time
# (user + system, from /proc) of every process of this environment's Wine (the
# program, wineserver and Wine's own services) and of its X server, and prints the
# best and the median of each, and the window's share: what showing the window adds to
# the hidden program, as a fraction of it. Run it through the environment, on the
# windows build:
#   scripts/testenv run bench/window_cost.sh [SECONDS [REPEATS]]   (default 30 and 3)
# KV_BENCH_GUI and KV_BENCH_CLI name other builds to compare.
set -euo pipefail
seconds="${1:-30}"
repeats="${2:-3}"
root="$(cd "$(dirname "$0")/.." && pwd)"
gui="${KV_BENCH_GUI:-$root/build/windows/KelmVantoro.exe}"
cli="${KV_BENCH_CLI:-$root/build/windows/kelm-vantoro-cli.exe}"
[ -f "$gui" ] && [ -f "$cli" ] || { echo "build the windows preset first" >&2; exit 1; }
[ -n "${KV_ICECAST_PORT:-}" ] && [ -n "${DISPLAY:-}" ] || { echo "run it through scripts/testenv run" >&2; exit 1; }
KV_CLI="$cli" source "$root/tests/engine/stream_common.bash"
export KV_PROBE_TARGET="127.0.0.1:$KV_ICECAST_STATUS_PORT"

d="$(mktemp -d)"
pid=
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  rm -rf "$d"
}
trap cleanup EXIT
cp "$gui" "$d/KelmVantoro.exe"
cp "$cli" "$d/kelm-vantoro-cli.exe"

# config MOUNT [EXTRA [System] LINES...]: the test settings, on air at start.
config() {
  local mount=$1
  shift
  write_config "$d" "$mount" "[System]" "autoStartEncode=true" "$@"
}

on_air() {
  local i
  for i in $(seq 300); do
    curl -fsS --max-time 2 "$status_url" 2>/dev/null | grep -q "\"listenurl\":\"[^\"]*$1\"" && return 0
    sleep 0.1
  done
  return 1
}

# ticks: CPU ticks (user + system) of this environment's Wine processes (the Windows
# programs, wineserver) and of its X server, which carry its KV_ENV_DIR.
ticks() {
  python3 - "$KV_ENV_DIR" <<'PY'
import os, sys
mark = ("KV_ENV_DIR=" + sys.argv[1]).encode()
total = 0
for name in os.listdir("/proc"):
    if not name.isdigit():
        continue
    try:
        with open("/proc/%s/environ" % name, "rb") as f:
            env = f.read().split(b"\0")
        with open("/proc/%s/stat" % name) as f:
            text = f.read()
    except OSError:
        continue
    try:
        program = os.path.basename(os.readlink("/proc/%s/exe" % name))
    except OSError:
        continue
    fields = text.rsplit(")", 1)[1].split()
    # Every Windows program runs in Wine's preloader; the server is wineserver.
    if mark in env and (program.startswith("wine") or program == "Xvfb"):
        total += int(fields[11]) + int(fields[12])
print(total)
PY
}

hz=$(getconf CLK_TCK)
# measure KIND: CPU seconds of SECONDS on air.
measure() {
  local kind=$1 mount="/window-cost-$1"
  case "$kind" in
    shown) config "$mount"; (cd "$d" && exec wine KelmVantoro.exe) >/dev/null 2>&1 & ;;
    hidden) config "$mount" "startMinimized=true" "minimizeToTray=true"; (cd "$d" && exec wine KelmVantoro.exe) >/dev/null 2>&1 & ;;
    cli) config "$mount"; wine "$d/kelm-vantoro-cli.exe" stream --config "$d" --probe-target "$KV_PROBE_TARGET" \
           --seconds $((seconds + 40)) >/dev/null 2>&1 & ;;
  esac
  pid=$!
  on_air "$mount" || { echo "$kind: never on air" >&2; exit 1; }
  sleep 3 # past the start's own work
  local before after
  before=$(ticks)
  sleep "$seconds"
  after=$(ticks)
  kill "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null || true
  pid=
  sleep 2
  echo "scale=2; ($after - $before) / $hz" | bc
}

declare -A runs
for _ in $(seq "$repeats"); do
  for kind in shown hidden cli; do
    runs[$kind]+="$(measure "$kind") "
  done
done

best() { tr ' ' '\n' <<<"$1" | grep . | sort -n | head -1; }
median() { tr ' ' '\n' <<<"$1" | grep . | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
echo "CPU seconds over $seconds s on air (Wine processes and the X server), best / median of $repeats:"
for kind in shown hidden cli; do
  printf '  %-8s %s / %s   (%s)\n' "$kind" "$(best "${runs[$kind]}")" "$(median "${runs[$kind]}")" "${runs[$kind]% }"
done
shown=$(median "${runs[shown]}") hidden=$(median "${runs[hidden]}") cli=$(median "${runs[cli]}")
echo "window shown / hidden: $(echo "scale=2; $shown / $hidden" | bc)x; shown / cli: $(echo "scale=2; $shown / $cli" | bc)x"
echo "the window's share (shown - hidden) / hidden: $(echo "scale=2; ($shown - $hidden) / $hidden" | bc)"
