#!/usr/bin/env bash
# The Windows setup under Wine, as a user and winget run it: a silent install into the
# per-user folder (the zip's files, the Start-menu shortcut, the uninstall entry), the
# installed program on air, a silent upgrade while it streams (it is asked to close and
# the settings stay byte for byte), then a silent uninstall that removes everything but
# the settings.
set -euo pipefail
source "$KV_SOURCE_DIR/tests/packaging/package_common.bash"
setup="$KV_SOURCE_DIR/dist/KelmVantoro-$KV_VERSION-setup.exe"
zip="$KV_SOURCE_DIR/dist/KelmVantoro-$KV_VERSION-win64.zip"
need_package "$setup"
need_package "$zip"
if [ "$KV_HAS_PROGRAM" != 1 ] || [ -z "${DISPLAY:-}" ] || [ -z "${KV_ICECAST_PORT:-}" ]; then
  echo "skipped: needs the Windows program and scripts/testenv"
  exit 77
fi
# It installs into the Wine prefix: only into an environment's private layer of it.
[ "${WINEPREFIX:-}" = "$KV_ENV_DIR/wine/prefix" ] || { echo "skipped: the Wine prefix is shared"; exit 77; }
KV_CLI=unused source "$KV_SOURCE_DIR/tests/engine/stream_common.bash"
d="$(mktemp -d)"
pid=""
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  rm -rf "$d"
}
trap cleanup EXIT
unzip -q "$zip" -d "$d/zip"
mv "$d/zip/config.ini" "$d/zip/config.ini.sample"

# The setup's version resource is the program's.
python3 - "$setup" "$d/zip/KelmVantoro.exe" "$KV_VERSION.0" <<'PY' || fail "version resources differ"
import struct, sys
def version(data):
    ms, ls = struct.unpack_from("<II", data, data.find(struct.pack("<I", 0xFEEF04BD)) + 16)
    return f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"
found = [version(open(path, "rb").read()) for path in sys.argv[1:3]]
sys.exit(found != [sys.argv[3]] * 2 and f"setup, program: {found}")
PY

winpath() { wine cmd /c echo "$1" 2>/dev/null | tr -d '\r'; }
key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\KelmVantoro'
run_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
inst_win="$(winpath '%LOCALAPPDATA%')\\Programs\\Kelm Vantoro"
inst="$(winepath -u "$inst_win")"
link="$(winepath -u "$(winpath '%APPDATA%')\\Microsoft\\Windows\\Start Menu\\Programs\\Kelm Vantoro.lnk")"
profile="$(winepath -u "$(winpath '%USERPROFILE%')")"
# Wine links the desktop to the home folder: this private prefix gets a desktop of its own.
if [ -L "$profile/Desktop" ]; then rm "$profile/Desktop" && mkdir "$profile/Desktop"; fi
desktop="$profile/Desktop/Kelm Vantoro.lnk"

# --- install: the zip's files, byte for byte, the shortcut and the uninstall entry.
timeout 120 wine "$setup" /S >>"$d/wine.log" 2>&1 || fail "setup /S exited with $?"
diff -r -x uninstall.exe "$d/zip" "$inst" || fail "the installed files are not the zip's"
[ -s "$inst/uninstall.exe" ] || fail "no uninstall.exe"
grep -aqF "$inst_win\\KelmVantoro.exe" "$link" || fail "no Start-menu shortcut to the installed KelmVantoro.exe"
[ -e "$desktop" ] && fail "a desktop shortcut without /DESKTOP"
diff <(wine reg query "$key" | tr -d '\r' | sed -n 's/^ *\([A-Za-z]*\) *REG_[A-Z]* *\(.*\)/\1=\2/p' | sort) - <<REG ||
DisplayIcon=$inst_win\\KelmVantoro.exe,0
DisplayName=Kelm Vantoro
DisplayVersion=$KV_VERSION
EstimatedSize=$(printf '0x%x' $(( ($(find "$d/zip" -type f -printf '%s+' && echo 0) + 1023) / 1024 )))
InstallLocation=$inst_win
NoModify=0x1
NoRepair=0x1
Publisher=Kelm Vantoro developers
QuietUninstallString="$inst_win\\uninstall.exe" /S
UninstallString="$inst_win\\uninstall.exe"
REG
  fail "the uninstall entry's values"

# --- the installed program goes on air with settings beside it.
mount="/setup-installed"
write_config "$inst" "$mount" "[System]" "autoStartEncode=true"
export KV_PROBE_TARGET="127.0.0.1:$KV_ICECAST_STATUS_PORT"
wine "$inst_win\\KelmVantoro.exe" >>"$d/wine.log" 2>&1 &
pid=$!
wait_for_mount "$mount" 60 || { cat "$d/wine.log"; fail "the installed program never went on air"; }
[ -f "$inst/config.dat" ] || fail "no config.dat beside the installed program"
cp "$inst/config.dat" "$inst/config.ini" "$d/"

# --- upgrade while on air: the program is asked to close, the settings stay.
timeout 120 wine "$setup" /S /DESKTOP >>"$d/wine.log" 2>&1 || fail "the upgrade exited with $?"
for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null && fail "the running program was not closed by the upgrade"
wait "$pid" || fail "the program closed by the upgrade exited with $?"
pid=""
wait_for_no_mount "$mount" 10 || fail "the mount stayed after the upgrade closed the program"
cmp -s "$d/config.dat" "$inst/config.dat" || fail "the upgrade changed config.dat"
cmp -s "$d/config.ini" "$inst/config.ini" || fail "the upgrade changed config.ini"
cmp -s "$d/zip/KelmVantoro.exe" "$inst/KelmVantoro.exe" || fail "KelmVantoro.exe is not the zip's after the upgrade"
[ -f "$desktop" ] || fail "no desktop shortcut with /DESKTOP"

# --- silent uninstall: everything goes but the settings, also "Start with Windows".
wine reg add "$run_key" /v KelmVantoro /d "$inst_win\\KelmVantoro.exe" /f >>"$d/wine.log" 2>&1
wine "$inst_win\\uninstall.exe" /S >>"$d/wine.log" 2>&1 || fail "uninstall /S exited with $?"
# The uninstaller works from a copy of itself and removes uninstall.exe last.
for _ in $(seq 600); do [ -f "$inst/uninstall.exe" ] || break; sleep 0.1; done
[ -f "$inst/uninstall.exe" ] && fail "uninstall.exe is still there after 60 s"
left="$(cd "$inst" && find . -mindepth 1 | sort | tr '\n' ' ')"
[ "$left" = "./config.dat ./config.ini " ] || fail "left after the uninstall: $left"
cmp -s "$d/config.dat" "$inst/config.dat" || fail "the uninstall changed config.dat"
[ -e "$link" ] || [ -e "$desktop" ] && fail "a shortcut stayed"
wine reg query "$key" >/dev/null 2>&1 && fail "the uninstall key stayed"
wine reg query "$run_key" /v KelmVantoro >/dev/null 2>&1 && fail "the Run value stayed"
echo "ok: installed, on air, upgraded with config.dat kept, uninstalled"
