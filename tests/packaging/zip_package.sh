#!/usr/bin/env bash
# The Windows zip unpacked into an empty folder: every file is there and the
# command-line tool runs from it.
set -euo pipefail
source "$KV_SOURCE_DIR/tests/packaging/package_common.bash"
zip="$KV_SOURCE_DIR/dist/KelmVantoro-$KV_VERSION-win64.zip"
need_package "$zip"
dir="$(mktemp -d)"
trap 'rm -rf "$dir"' EXIT

unzip -q "$zip" -d "$dir"
expected=(kelm-vantoro-cli.exe config.ini README.txt LICENSES/KelmVantoro.txt LICENSES/fdk-aac.txt LICENSES/libebur128.txt
  LICENSES/lame.txt LICENSES/libopus.txt LICENSES/libogg.txt LICENSES/cpp-httplib.txt)
[ "$KV_HAS_PROGRAM" = 1 ] && expected+=(KelmVantoro.exe)
for file in "${expected[@]}"; do
  [ -s "$dir/$file" ] || fail "the zip has no $file"
done
grep -q 'Fraunhofer FDK AAC Codec Library' "$dir/LICENSES/fdk-aac.txt" || fail "LICENSES/fdk-aac.txt is not fdk-aac's notice"
grep -q 'Jan Kokem' "$dir/LICENSES/libebur128.txt" || fail "LICENSES/libebur128.txt is not libebur128's licence"
grep -q 'yhirose' "$dir/LICENSES/cpp-httplib.txt" || fail "LICENSES/cpp-httplib.txt is not cpp-httplib's licence"
grep -q 'LIBRARY GENERAL PUBLIC' "$dir/LICENSES/lame.txt" || fail "LICENSES/lame.txt is not LAME's licence"
grep -q 'Xiph' "$dir/LICENSES/libopus.txt" || fail "LICENSES/libopus.txt is not libopus's licence"
grep -q 'Xiph' "$dir/LICENSES/libogg.txt" || fail "LICENSES/libogg.txt is not libogg's licence"
grep -q 'MIT License' "$dir/LICENSES/KelmVantoro.txt" || fail "LICENSES/KelmVantoro.txt is not the MIT licence"
# Texts for Notepad: every line ends in CR LF.
for file in config.ini README.txt; do
  [ "$(grep -c $'\r$' "$dir/$file")" = "$(wc -l <"$dir/$file")" ] || fail "$file has lines without CR LF"
done

version="$(cd "$dir" && ${KV_EMULATOR:-} ./kelm-vantoro-cli.exe --version)"
[ "$version" = "kelm-vantoro-cli $KV_VERSION" ] || fail "--version printed '$version'"
echo "ok: zip holds ${#expected[@]} files; $version"
