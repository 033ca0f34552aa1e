#!/usr/bin/env bash
# Two stations on one machine as the template unit kelm-vantoro@.service runs them: its
# ExecStart and StateDirectory for two instances, each with its own settings folder,
# mount, control port and recordings folder. Both go on air at once, each interface
# reports its own station, and a stop through one leaves the other on air.
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/../engine/stream_common.bash"
need_environment
[ -n "${KV_EMULATOR:-}" ] && { echo "skipped: the Linux package's unit"; exit 0; }
unit="$KV_SOURCE_DIR/packaging/deb/kelm-vantoro@.service"

d="$(mktemp -d)"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  rm -rf "$d"
}
trap cleanup EXIT

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
echo "instances_e2e: two stations, two ports, two mounts, two recordings folders"
