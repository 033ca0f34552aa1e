"""The measurement behind capture_latency.sh: clicks, a direct recording, a listener."""
import math
import os
import socket
import statistics
import struct
import subprocess
import sys
import threading
import time

RATE = 48000
# The stream's profile and bitrate, as bench_config sets them (KV_BENCH_HE=0: AAC-LC).
HE = os.environ.get("KV_BENCH_HE", "1")
BITRATE = os.environ.get("KV_BENCH_BITRATE", "64000")
FRAME = 1024 if HE == "0" else 2048  # samples per channel per frame at the output rate
THRESHOLD = 0.55 * 32768  # the tone peaks at 0.25 of full scale, tone + click near 0.95
CLICKS = 6

work, bare, port, mount = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]


def burst():
    """20 ms of a 2 kHz sine at 0.7 of full scale, stereo 16-bit."""
    samples = []
    for i in range(RATE // 50):
        v = int(0.7 * 32767 * math.sin(2 * math.pi * 2000 * i / RATE))
        samples += [v, v]
    return struct.pack("<%dh" % len(samples), *samples)


def onsets(pcm, channels=2, gap=RATE // 2):
    """Sample indices (per channel) where the level first crosses THRESHOLD, at least gap apart."""
    values = struct.unpack("<%dh" % (len(pcm) // 2), pcm[: len(pcm) // 2 * 2])
    found = []
    for i in range(0, len(values), channels):
        if abs(values[i]) > THRESHOLD and (not found or i // channels - found[-1] > gap):
            found.append(i // channels)
    return found


def decode(path):
    return subprocess.run(["ffmpeg", "-v", "error", "-f", "aac", "-i", path, "-f", "s16le", "-ac", "2", "-ar",
                           str(RATE), "-"], check=True, capture_output=True).stdout


def codec_delay():
    """(decoded index - input index, frames of look-ahead), measured on a WAV with one click."""
    silence = b"\0" * (RATE * 4)
    data = silence + burst() + silence
    wav = work + "/click.wav"
    with open(wav, "wb") as out:
        out.write(b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVEfmt ")
        out.write(struct.pack("<IHHIIHH", 16, 1, 2, RATE, RATE * 4, 4, 16))
        out.write(b"data" + struct.pack("<I", len(data)) + data)
    log = subprocess.run([bare, wav, work + "/click.aac", HE, BITRATE], env={"KV_FRAME_LOG": "1"}, check=True,
                         capture_output=True, text=True).stdout.split()
    first_fed = int(log[3])  # "frame 0 fed N": input fed when the first frame came out
    global THRESHOLD
    saved, THRESHOLD = THRESHOLD, 0.3 * 32768  # the click alone, without the tone
    found = onsets(decode(work + "/click.aac"))
    THRESHOLD = saved
    return found[0] - RATE, first_fed // FRAME - 1


def adts_frames(data):
    """End offsets of the ADTS frames, from the first run of valid headers."""
    for start in range(len(data) - 7):
        ends, at = [], start
        while at + 7 <= len(data) and data[at] == 0xFF and data[at + 1] & 0xF6 == 0xF0:
            length = ((data[at + 3] & 3) << 11) | (data[at + 4] << 3) | (data[at + 5] >> 5)
            if length < 7 or at + length > len(data):
                break
            at += length
            ends.append(at)
        if len(ends) > 10:
            return start, ends
    raise SystemExit("no ADTS stream received")


def main():
    delay, lookahead = codec_delay()
    arrivals = []  # (time, bytes received so far) for the listener
    direct = []  # (time, samples per channel recorded so far) for the direct recording
    received = bytearray()
    recorded = bytearray()
    stop = threading.Event()

    listener = socket.create_connection(("127.0.0.1", port))
    listener.sendall(("GET %s HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n" % mount).encode())
    head = b""
    while b"\r\n\r\n" not in head:
        head += listener.recv(1)

    def listen():
        while not stop.is_set():
            chunk = listener.recv(4096)
            if not chunk:
                break
            received.extend(chunk)
            arrivals.append((time.monotonic(), len(received)))

    parec = subprocess.Popen(["parec", "-d", "kv_tone_stereo", "--format=s16le", "--rate=%d" % RATE,
                              "--channels=2", "--latency-msec=5", "--raw"], stdout=subprocess.PIPE)

    def record():
        while not stop.is_set():
            chunk = parec.stdout.read1(960)
            if not chunk:
                break
            recorded.extend(chunk)
            direct.append((time.monotonic(), len(recorded) // 4))

    threads = [threading.Thread(target=listen, daemon=True), threading.Thread(target=record, daemon=True)]
    for t in threads:
        t.start()
    time.sleep(1.5)
    click = burst()
    for _ in range(CLICKS):
        subprocess.run(["pacat", "--playback", "-d", "kv_feed_stereo", "--format=s16le", "--rate=%d" % RATE,
                        "--channels=2", "--latency-msec=10", "--raw"], input=click, check=True)
        time.sleep(1.2)
    time.sleep(1.0)
    stop.set()
    parec.kill()
    listener.close()

    start, ends = adts_frames(bytes(received))
    with open(work + "/heard.aac", "wb") as out:
        out.write(bytes(received[start:ends[-1]]))
    decoded = decode(work + "/heard.aac")
    if len(decoded) // 4 != len(ends) * FRAME:
        raise SystemExit("decoded %d samples from %d frames" % (len(decoded) // 4, len(ends)))
    heard = onsets(decoded)
    sent = onsets(bytes(recorded))
    if len(heard) < CLICKS or len(sent) < CLICKS:
        raise SystemExit("clicks found: direct %d, listener %d of %d" % (len(sent), len(heard), CLICKS))

    def when(series, count):
        """When the series first reached count."""
        return next(t for t, n in series if n >= count)

    print("codec: %d samples from input to decoded output, %d frames of look-ahead" % (delay, lookahead))
    totals, codec, rest = [], [], []
    for s_in, s_out in zip(sent[-CLICKS:], heard[-CLICKS:]):
        frame = s_out // FRAME
        at_source = when(direct, s_in + 1)
        # The frame holding the click leaves the encoder once the input reaches the end
        # of frame + look-ahead; the click entered that input at (s_out - delay).
        need = ((frame + 1 + lookahead) * FRAME - (s_out - delay)) / RATE
        total = when(arrivals, ends[frame]) - at_source
        totals.append(total * 1000)
        codec.append(need * 1000)
        rest.append((total - need) * 1000)
        print("click: source -> listener %.0f ms, of which the codec needs %.0f ms, the rest %.0f ms"
              % (total * 1000, need * 1000, (total - need) * 1000))
    print("median: source -> listener %.0f ms; codec %.0f ms; capture, queue, sender and server %.0f ms"
          % (statistics.median(totals), statistics.median(codec), statistics.median(rest)))


main()
