#!/usr/bin/env bash
# MP3 and Opus on air beside each other, from one capture with the true-peak limiter on:
# MP3 at 128 and 64 kbit/s and Opus at 96 and 48 kbit/s. Each mount shows its content
# type and bitrate in Icecast's status document; ffprobe reads the codec, rate and
# channels of what the server relays, and ffmpeg decodes the test tones (440 Hz left,
# 660 Hz right) at one level in every mount with no crosstalk. Three title changes on the
# Opus mount each start a new chained logical stream: a listener's capture holds them
# all in its OpusTags, opusinfo accepts every link, and the decoded sound runs on with no
# gap or click at the links' joins (sample count and phase). The archive writes .mp3 and
# .opus files that decode from their first byte; natively the stream runs past a split.
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/stream_common.bash"
need_environment
tag="${KV_BUILD:-linux}"

d="$(mktemp -d)"
pid=
listener=
cleanup() {
  kill $pid $listener 2>/dev/null
  rm -rf "$d"
}
trap cleanup EXIT

# Natively past one split of the archive; under Wine one file per connection, and long
# enough for the checks below on a busy machine, where Wine's start and the decoding
# take half a minute or more before the titles change.
if [ -z "${KV_EMULATOR:-}" ]; then seconds=75 split=1; else seconds=90 split=0; fi
mkdir -p "$d/rec"
echo "Kelm Test Stream" >"$d/title.txt"
write_config "$d" "/mp3-$tag" "[Audio]" "sampleRate=44100" \
  "[Encoder]" "codec=mp3" "bitrate=128000" \
  "[Icecast]" "titleFile=$d/title.txt" \
  "[System]" "persistentEncoding=true" "recordEnabled=true" "recordFolder=$d/rec" "recordSplitMinutes=$split" \
  "[DSP]" "truePeakEnabled=true" \
  "[Output2]" "mountPoint=/mp3lo-$tag" "bitrate=64000" \
  "[Output3]" "mountPoint=/opus-$tag" "codec=opus" "bitrate=96000" \
  "[Output4]" "mountPoint=/opuslo-$tag" "codec=OPUS" "bitrate=48000" \
  "[Control]" "enabled=true" "listen=127.0.0.1:$((KV_ICECAST_PORT + 30))"

"${stream_cmd[@]}" --config "$d" --seconds "$seconds" >"$d/out.txt" 2>"$d/err.txt" &
pid=$!
for mount in mp3 mp3lo opus opuslo; do
  wait_for_mount "/$mount-$tag" 20 || { cat "$d/err.txt"; fail "/$mount-$tag never went on air"; }
done
# From the first page on: Icecast's burst hands a listener that comes now the stream's
# headers and everything since.
curl -sS -N --max-time $((seconds + 10)) "http://127.0.0.1:${KV_ICECAST_STATUS_PORT}/opus-$tag" -o "$d/chain.opus" &
listener=$!

# type_and_bitrate MOUNT: "content-type bitrate" from the status document.
type_and_bitrate() {
  mount_json "$1" | python3 -c 'import json, sys; s = json.load(sys.stdin); print(s.get("server_type"), s.get("ice-bitrate"))'
}
check_mount() { # MOUNT TYPE KBPS CODEC RATE
  local mount="/$1-$tag" got
  got="$(type_and_bitrate "$mount")"
  [ "$got" = "$2 $3" ] || fail "$mount: status shows '$got', not '$2 $3'"
  curl -sS --max-time 5 "http://127.0.0.1:${KV_ICECAST_STATUS_PORT}$mount" -o "$d/$1.part" 2>/dev/null
  got="$(ffprobe -v error -select_streams a:0 -show_entries stream=codec_name,sample_rate,channels -of csv=p=0 "$d/$1.part")"
  [ "$got" = "$4,$5,2" ] || fail "$mount: ffprobe reads '$got', not '$4,$5,2'"
  ffmpeg -nostdin -loglevel error -y -i "$d/$1.part" -ac 2 -c:a pcm_s16le "$d/$1.wav" || fail "$mount does not decode"
  python3 - "$d/$1.wav" <<'PY' || fail "$mount: tones wrong"
import math, struct, sys, wave
w = wave.open(sys.argv[1])
ch, rate, n = w.getnchannels(), w.getframerate(), w.getnframes()
data = struct.unpack("<%dh" % (n * ch), w.readframes(n))
x = data[rate * ch:]  # past the first second
# A tone's amplitude over 50 ms windows, the loudest tenth: a busy machine's capture may
# drop blocks, which the windows between them show and this leaves out.
def level(side, f, share=0.9):
    found = []
    samples = x[side::2]
    size = rate // 20
    for start in range(0, min(len(samples), 3 * rate) - size, size):
        s = samples[start:start + size]
        c = sum(v * math.cos(2 * math.pi * f * i / rate) for i, v in enumerate(s))
        q = sum(v * math.sin(2 * math.pi * f * i / rate) for i, v in enumerate(s))
        found.append(2 * math.hypot(c, q) / len(s))
    found.sort()
    return 20 * math.log10(max(found[int(len(found) * share)], 1e-9) / 32768)
# The other side's tone, in the median window (a dropped block's edges splash).
l440, l660, r660, r440 = level(0, 440), level(0, 660, 0.5), level(1, 660), level(1, 440, 0.5)
ok = abs(l440 - r660) < 1.0 and l660 < l440 - 30 and r440 < r660 - 30
print("%s: left 440 Hz %.1f dBFS (660 Hz %.1f), right 660 Hz %.1f dBFS (440 Hz %.1f)" % (sys.argv[1].rsplit("/", 1)[1], l440, l660, r660, r440))
open(sys.argv[1] + ".level", "w").write("%.2f\n" % l440)
sys.exit(0 if ok else 1)
PY
}
check_mount mp3 audio/mpeg 128 mp3 44100
check_mount mp3lo audio/mpeg 64 mp3 44100
check_mount opus audio/ogg 96 opus 48000
check_mount opuslo audio/ogg 48 opus 48000
# The same program at the same level in every codec and bitrate.
cat "$d"/*.wav.level | sort -n | sed -n '1p;$p' | tr '\n' ' ' |
  awk '{exit !($2 - $1 < 1.0)}' || fail "the codecs' levels differ: $(cat "$d"/*.wav.level | tr '\n' ' ')"

# mount_title MOUNT: the title the status document shows for a mount, "-" for none.
mount_title() {
  mount_json "$1" | python3 -c 'import json, sys; print(json.load(sys.stdin).get("title", "-"))'
}
# Three title changes, a few seconds apart: the MP3 mount's title in the status
# document says when one was taken; the Opus outputs take it within a second too. The
# second comes through the control interface, which puts it into the Opus streams too.
titles=("Artist One - First Song" "Second Song" "Artist Three - Third Song")
for title in "${titles[@]}"; do
  sleep 3
  if [ "$title" = "${titles[1]}" ]; then
    curl -sS --max-time 10 -X POST --data-urlencode "text=$title" \
      "http://127.0.0.1:$((KV_ICECAST_PORT + 30))/title" >/dev/null || fail "the control interface refused a title"
  else
    echo "$title" >"$d/title.txt"
  fi
  for _ in $(seq 50); do
    [ "$(mount_title "/mp3-$tag")" = "$title" ] && break
    sleep 0.1
  done
  [ "$(mount_title "/mp3-$tag")" = "$title" ] || fail "the title '$title' was not taken"
done
sleep 3
shown="$(mount_title "/opus-$tag")"
echo "Icecast's status shows the Opus mount's title as: $shown"

# The stream ends by itself, each archive file with the end of its stream.
wait $pid
status=$?
pid=
[ $status -eq 0 ] || [ -n "${KV_EMULATOR:-}" ] || { cat "$d/err.txt"; fail "stream exited with $status"; }
sleep 1
kill $listener 2>/dev/null
wait $listener 2>/dev/null
listener=

# The listener's chain: every link valid, the titles in order, no gap or click.
opusinfo "$d/chain.opus" >"$d/opusinfo.txt" 2>&1
grep -qi "error\|hole\|corrupt" "$d/opusinfo.txt" && { cat "$d/opusinfo.txt"; fail "opusinfo finds faults"; }
opusdec --quiet --rate 48000 "$d/chain.opus" "$d/chain.wav" 2>"$d/opusdec.txt" || fail "opusdec: $(cat "$d/opusdec.txt")"
python3 - "$d/chain.opus" "$d/chain.wav" "${titles[@]}" <<'PY' || fail "the chained Opus stream is wrong"
import math, struct, sys, wave
data = open(sys.argv[1], "rb").read()
links, pos = [], 0
while pos + 27 <= len(data) and data[pos:pos + 4] == b"OggS":
    flags, granule = data[pos + 5], struct.unpack_from("<q", data, pos + 6)[0]
    segments = data[pos + 26]
    table = data[pos + 27:pos + 27 + segments]
    body = data[pos + 27 + segments:pos + 27 + segments + sum(table)]
    if flags & 2:
        links.append({"preskip": struct.unpack_from("<H", body, 10)[0], "granule": 0, "tags": {}})
    elif body.startswith(b"OpusTags"):
        vendor = struct.unpack_from("<I", body, 8)[0]
        at = 12 + vendor
        for _ in range(struct.unpack_from("<I", body, at)[0]):
            size = struct.unpack_from("<I", body, at + 4)[0]
            key, _, value = body[at + 8:at + 8 + size].decode().partition("=")
            links[-1]["tags"][key.upper()] = value
            at += 4 + size
    elif granule >= 0:
        links[-1]["granule"] = granule
    pos += 27 + segments + sum(table)
named = [(l["tags"].get("ARTIST", ""), l["tags"].get("TITLE", "")) for l in links]
wanted = [("Artist One", "First Song"), ("", "Second Song"), ("Artist Three", "Third Song")]
found = [t for i, t in enumerate(named) if t in wanted and (i == 0 or named[i - 1] != t)]
print("links:", len(links), named)
if found != wanted:
    sys.exit("the titles in the stream: %s" % named)
w = wave.open(sys.argv[2])
rate, n = w.getframerate(), w.getnframes()
x = struct.unpack("<%dh" % (n * 2), w.readframes(n))[0::2]
expected = sum(l["granule"] - l["preskip"] for l in links if l["granule"] > 0)
print("decoded %d samples, the granules say %d" % (n, expected))
if abs(n - expected) > 960:
    sys.exit("decoded %d samples, granules %d" % (n, expected))
# Each join: a 440 Hz sine fitted over 20 ms across it leaves little.
def residual(start, length=960):
    s = x[start:start + length]
    w0 = 2 * math.pi * 440 / rate
    c = [math.cos(w0 * i) for i in range(len(s))]
    q = [math.sin(w0 * i) for i in range(len(s))]
    cc, qq, cq = sum(a * a for a in c), sum(b * b for b in q), sum(a * b for a, b in zip(c, q))
    sc, sq = sum(v * a for v, a in zip(s, c)), sum(v * b for v, b in zip(s, q))
    det = cc * qq - cq * cq
    a, b = (sc * qq - sq * cq) / det, (sq * cc - sc * cq) / det
    err = math.sqrt(sum((v - a * ci - b * qi) ** 2 for v, ci, qi in zip(s, c, q)) / len(s))
    return err / max(math.hypot(a, b), 1)
at, worst = 0, 0.0
for l in links[:-1]:
    at += l["granule"] - l["preskip"]
    if at > 48000 and at + 480 < n:
        worst = max(worst, residual(at - 480))
print("worst residual at a join: %.1f dB below the tone" % (20 * math.log10(max(worst, 1e-6))))
sys.exit(0 if worst < 0.05 else "a gap or click at a join")
PY

# The archive: per encoding, files that decode from their first byte (natively two,
# split after a minute).
want=1
[ -z "${KV_EMULATOR:-}" ] && want=2
for mount in mp3 opus; do
  files=("$d/rec/$mount-${tag}_"*)
  ext=$([ $mount = opus ] && echo opus || echo mp3)
  [ ${#files[@]} -eq $want ] || fail "$mount: ${#files[@]} archive files, not $want: $(ls "$d/rec")"
  for f in "${files[@]}"; do
    [ "${f##*.}" = "$ext" ] || fail "archive file $f is no .$ext"
    if [ $ext = opus ]; then
      head -c 36 "$f" | grep -q "OpusHead" || fail "$f does not start with OpusHead"
      opusinfo "$f" >/dev/null 2>&1 || fail "opusinfo refuses $f"
    else
      head -c 2 "$f" | od -An -tx1 | grep -q "ff f" || fail "$f does not start with an MPEG frame"
    fi
    length="$(ffmpeg -nostdin -v error -i "$f" -f s16le -ac 2 - | wc -c)"
    [ "$length" -gt 0 ] || fail "$f does not decode"
  done
done
echo "codecs_e2e: ok ($(ls "$d/rec" | wc -l) archive files, Opus status title: $shown)"
