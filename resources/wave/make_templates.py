#!/usr/bin/env python3
"""Writes the 24 header-only WAVE files 101.wav .. 124.wav that the recorder is opened on.

Number t encodes the format: n = t - 101, rate = RATES[n // 4], variant n % 4 is
8-bit mono, 8-bit stereo, 16-bit mono, 16-bit stereo. Run once; the files are committed.
"""
import os
import struct

RATES = [16000, 22050, 24000, 32000, 44100, 48000]
VARIANTS = [(8, 1), (8, 2), (16, 1), (16, 2)]  # (bits, channels)


def template(number):
    n = number - 101
    rate = RATES[n // 4]
    bits, channels = VARIANTS[n % 4]
    align = channels * bits // 8
    data = b"RIFF" + struct.pack("<I", 50) + b"WAVE"
    data += b"fmt " + struct.pack("<IHHIIHHH", 18, 1, channels, rate, rate * align, align, bits, 0)
    data += b"fact" + struct.pack("<II", 4, 0)
    data += b"data" + struct.pack("<I", 0)
    data += b"\0\0"
    assert len(data) == 60
    return data


if __name__ == "__main__":
    here = os.path.dirname(os.path.abspath(__file__))
    for t in range(101, 125):
        with open(os.path.join(here, f"{t}.wav"), "wb") as f:
            f.write(template(t))
