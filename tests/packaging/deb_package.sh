#!/usr/bin/env bash
# The .deb: its dependencies, its files unpacked into a temporary root (the command,
# its manual page, the sample settings, the service unit), lintian, and the packaged
# command streaming with its status lines going to the journal.
set -euo pipefail
source "$KV_SOURCE_DIR/tests/packaging/package_common.bash"
deb="$KV_SOURCE_DIR/dist/kelm-vantoro_${KV_VERSION}_amd64.deb"
need_package "$deb"
root="$(mktemp -d)"
trap 'rm -rf "$root"' EXIT

# Dependencies computed from the binary, plus adduser for the maintainer scripts.
depends="$(dpkg-deb --info "$deb" | sed -n 's/^ Depends: //p')"
for dep in libfdk-aac2 libpulse0 libebur128-1 libcurl4 adduser; do
  grep -Eq "(^|, )$dep( |,|$)" <<<"$depends" || fail "Depends lacks $dep: $depends"
done
dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles | grep -qx /etc/kelm-vantoro/config.ini ||
  fail "config.ini is not a conffile"

dpkg-deb -x "$deb" "$root/fs"
cli="$root/fs/usr/bin/kelm-vantoro-cli"
help="$("$cli" help)"
grep -q '^usage: kelm-vantoro-cli COMMAND' <<<"$help" || fail "help: $help"
[ "$("$cli" --version)" = "kelm-vantoro-cli $KV_VERSION" ] || fail "--version: $("$cli" --version)"

# The manual page names every command and option the help lists.
man="$(MANWIDTH=200 man -l "$root/fs/usr/share/man/man1/kelm-vantoro-cli.1.gz" 2>&1)"
for command in $(sed -n 's/^  \([a-z-]*\).*/\1/p' <<<"$help"); do
  grep -Eq "^ {7}$command( |$)" <<<"$man" || fail "the manual page has no entry for $command"
done
for option in $(grep -o -- '--[a-z-]*' <<<"$help" | sort -u); do
  grep -q -- "$option" <<<"$man" || fail "the manual page never names $option"
done
grep -q '^EXIT STATUS' <<<"$man" || fail "the manual page has no exit statuses"

# The sample settings: every key the programs read is in it, under its section, and
# importing it gives exactly the defaults.
python3 - "$root/fs/etc/kelm-vantoro/config.ini" "$KV_SOURCE_DIR/src" <<'PY' || fail "sample config.ini"
import pathlib, re, sys
section, sample = None, set()
for line in open(sys.argv[1]):
    line = line.strip()
    if line.startswith("["):
        section = line[1:-1]
    elif line and line[0] not in ";#":
        sample.add((section, line.split("=")[0].strip()))
read = set()
for path in pathlib.Path(sys.argv[2]).rglob("*.cpp"):
    read |= set(re.findall(r'Get(?:Int|Bool|String)\(\s*"(\w+)",\s*"(\w+)"', path.read_text()))
missing = sorted(read - sample)
if missing or len(read) < 20:
    sys.exit(f"keys read but not in the sample: {missing} (found {len(read)})")
PY
mkdir "$root/empty" && cp "$root/fs/etc/kelm-vantoro/config.ini" "$root/sample.ini" && mkdir "$root/imported" &&
  cp "$root/sample.ini" "$root/imported/config.ini"
diff <("$cli" settings --config "$root/empty") <("$cli" settings --config "$root/imported") ||
  fail "the sample config.ini does not give the defaults"

# The unit, checked against this system's units with the packaged command in place.
unitroot="$root/unit"
cp -a "$root/fs" "$unitroot"
cp -rn /lib/systemd/system/. "$unitroot/lib/systemd/system/"
mkdir -p "$unitroot/usr/bin" && cp /usr/bin/pulseaudio "$unitroot/usr/bin/"
verify="$(systemd-analyze verify --man=no --root="$unitroot" "$unitroot/lib/systemd/system/kelm-vantoro.service" 2>&1)" ||
  fail "systemd-analyze verify: $verify"
[ -z "$verify" ] || fail "systemd-analyze verify: $verify"
# The template unit, as an instance for a settings folder.
mkdir -p "$unitroot/etc/kelm-vantoro/studio2" && cp "$root/sample.ini" "$unitroot/etc/kelm-vantoro/studio2/config.ini"
cp "$unitroot/lib/systemd/system/kelm-vantoro@.service" "$unitroot/lib/systemd/system/kelm-vantoro@studio2.service"
verify="$(systemd-analyze verify --man=no --root="$unitroot" "$unitroot/lib/systemd/system/kelm-vantoro@studio2.service" 2>&1)" ||
  fail "systemd-analyze verify of an instance: $verify"
[ -z "$verify" ] || fail "systemd-analyze verify of an instance: $verify"

lint="$(lintian --fail-on error "$deb" 2>&1)" || fail "lintian: $lint"
grep '^[EW]:' <<<"$lint" || true

# The packaged command streams, and with its output on the journal (as the service
# runs it) it writes one status line per 5 s and never a carriage return.
if [ -z "${KV_ICECAST_PORT:-}" ] || [ -z "${PULSE_SERVER:-}" ]; then
  echo "ok without the stream check: it needs scripts/testenv"
  exit 0
fi
export KV_CLI="$cli" KV_EMULATOR=""
source "$KV_SOURCE_DIR/tests/engine/stream_common.bash"
mkdir "$root/service"
write_config "$root/service" /packaged
(
  exec >"$root/journal.txt"
  export JOURNAL_STREAM="$(stat -c '%d:%i' "$root/journal.txt")"
  exec "${stream_cmd[@]}" --config "$root/service" --seconds 6
) 2>"$root/err.txt" || fail "stream exited with $?: $(cat "$root/err.txt")"
# The line written just before the connection attempt blocks ("Connecting...") comes
# on top of the regular ones.
lines="$(grep ' | Internet: ' "$root/journal.txt" | grep -vc 'Connecting\.\.\.' || true)"
grep -q '^Online | ' "$root/journal.txt" || fail "never online: $(cat "$root/journal.txt" "$root/err.txt")"
[ "$lines" -ge 1 ] && [ "$lines" -le 2 ] || fail "$lines status lines in 6 s on the journal, not one per 5 s"
grep -q $'\r' "$root/journal.txt" && fail "a carriage return on the journal"
tail -n 1 "$root/journal.txt" | grep -qx Stopped || fail "no Stopped line"
echo "ok: $lines status lines in 6 s on the journal"
