#!/usr/bin/env python3
"""Writes an endless 16-bit little-endian tone to standard output.

usage: tone.py RATE FREQ [FREQ ...] -- one frequency per channel, level -12 dBFS.
The consumer (pacat into a null sink) sets the pace, so the tone runs at real time.
"""
import math
import struct
import sys


def main():
    rate = int(sys.argv[1])
    freqs = [float(f) for f in sys.argv[2:]]
    amplitude = 32767 * 10 ** (-12 / 20)
    # One second holds a whole number of cycles of every integer frequency, so the
    # buffer repeats without a seam.
    frames = []
    for i in range(rate):
        for f in freqs:
            frames.append(int(round(amplitude * math.sin(2 * math.pi * f * i / rate))))
    block = struct.pack("<%dh" % len(frames), *frames)
    out = sys.stdout.buffer
    try:
        while True:
            out.write(block)
    except (BrokenPipeError, KeyboardInterrupt):
        pass


if __name__ == "__main__":
    main()
