#!/usr/bin/env python3
"""Writes long Standard MIDI Files for the benchmarks.

  make_midi.py song SECONDS OUT.mid    a four-part band piece (piano chords, bass, strings, drums)
  make_midi.py click SECONDS OUT.mid   one short woodblock hit every 0.5 s, first at 1.0 s

Both run at 120 beats per minute with 480 ticks per beat, so one tick is 1/960 s and the
ideal time of every event is exact in samples at 44.1 kHz (45.9375 samples per tick).
"""
import struct
import sys

PPQ = 480
TEMPO = 500000  # microseconds per beat: 120 bpm
TICKS_PER_SECOND = PPQ * 1000000 // TEMPO  # 960


def varlen(n):
    out = [n & 0x7F]
    n >>= 7
    while n:
        out.append(0x80 | (n & 0x7F))
        n >>= 7
    return bytes(reversed(out))


def track(events):
    """events: (tick, bytes) in any order; note-offs sort before note-ons at the same tick."""
    events.sort(key=lambda e: (e[0], 0 if (e[1][0] & 0xF0) == 0x80 else 1))
    data = bytearray()
    now = 0
    for tick, msg in events:
        data += varlen(tick - now) + msg
        now = tick
    data += varlen(0) + b"\xff\x2f\x00"
    return b"MTrk" + struct.pack(">I", len(data)) + bytes(data)


def write(path, tracks):
    head = b"MThd" + struct.pack(">IHHH", 6, 1, len(tracks), PPQ)
    with open(path, "wb") as f:
        f.write(head + b"".join(tracks))


def conductor(end_tick):
    return track([(0, b"\xff\x51\x03" + TEMPO.to_bytes(3, "big")), (end_tick, b"\xff\x01\x00")])


def note(events, ch, tick, length, key, vel):
    events.append((tick, bytes([0x90 | ch, key, vel])))
    events.append((tick + length, bytes([0x80 | ch, key, 0])))


def song(seconds):
    beats = int(seconds * 2)
    end = beats * PPQ
    piano, bass, strings, drums = [], [], [], []
    piano.append((0, bytes([0xC0, 0])))
    bass.append((0, bytes([0xC1, 33])))
    strings.append((0, bytes([0xC2, 48])))
    for ch, e in ((0, piano), (1, bass), (2, strings)):
        e.append((0, bytes([0xB0 | ch, 91, 40])))  # some reverb send, as real songs have
    progression = [(60, 64, 67), (57, 60, 64), (53, 57, 60), (55, 59, 62)]
    for bar in range(beats // 4):
        t0 = bar * 4 * PPQ
        chord = progression[bar % 4]
        for beat in range(4):
            t = t0 + beat * PPQ
            for k in chord:
                note(piano, 0, t, PPQ // 2, k + (12 if beat % 2 else 0), 70 + (bar * 7 + beat) % 30)
            note(bass, 1, t, PPQ - 40, chord[0] - 24 + (7 if beat == 2 else 0), 90)
            for eighth in range(2):
                note(drums, 9, t + eighth * PPQ // 2, 60, 42, 60 + 20 * eighth)
            note(drums, 9, t, 60, 36 if beat % 2 == 0 else 38, 100)
        for k in chord:
            note(strings, 2, t0, 4 * PPQ - 20, k - 12, 55)
    return [conductor(end), track(piano), track(bass), track(strings), track(drums)]


def click(seconds):
    end = int(seconds * TICKS_PER_SECOND)
    hits = []
    t = TICKS_PER_SECOND  # the first click at 1.0 s
    while t + TICKS_PER_SECOND // 2 <= end:
        note(hits, 9, t, 24, 76, 127)  # hi woodblock: a sharp attack and a short decay
        t += TICKS_PER_SECOND // 2
    return [conductor(end), track(hits)]


def main():
    if len(sys.argv) != 4 or sys.argv[1] not in ("song", "click"):
        sys.exit(__doc__)
    seconds = float(sys.argv[2])
    write(sys.argv[3], song(seconds) if sys.argv[1] == "song" else click(seconds))


if __name__ == "__main__":
    main()
