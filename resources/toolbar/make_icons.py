#!/usr/bin/env python3
"""Draws the 16 toolbar images (16x16, transparent background) as PNG files.

Run from anywhere: python3 resources/toolbar/make_icons.py
Uses only the Python standard library, so the images can be regenerated on any machine.
"""
import os
import struct
import zlib

PALETTE = {
    '.': None,  # transparent
    'k': (0x20, 0x20, 0x20), 'g': (0x70, 0x70, 0x70), 'l': (0xb0, 0xb0, 0xb0), 'w': (0xff, 0xff, 0xff),
    'y': (0xf4, 0xc8, 0x42), 'Y': (0xb8, 0x86, 0x14), 'r': (0xe0, 0x24, 0x24), 'R': (0x90, 0x10, 0x10),
    'G': (0x22, 0xa0, 0x3a), 'D': (0x10, 0x60, 0x20), 'b': (0x30, 0x70, 0xd8), 'B': (0x14, 0x36, 0x80),
    'p': (0x90, 0x40, 0xc0), 'o': (0xf0, 0x90, 0x20), 's': (0xd8, 0xd8, 0xe4), 'n': (0x8a, 0x5a, 0x2a),
}

# Pictograms, one character per pixel.
ART = {
    'FileOpen': [  # open folder
        '................',
        '................',
        '.YYYY...........',
        'YyyyyY..........',
        'YyyyyyYYYYYYY...',
        'Yyyyyyyyyyyyy...',
        'Yyyyyyyyyyyyy...',
        'YyyYYYYYYYYYYYYY',
        'YyYyyyyyyyyyyyyY',
        'YyYyyyyyyyyyyyY.',
        'YYyyyyyyyyyyyyY.',
        'YYyyyyyyyyyyyY..',
        'YyyyyyyyyyyyyY..',
        'YYYYYYYYYYYYYY..',
        '................',
        '................',
    ],
    'waveflt': [  # waveform levelled by a bar: the normaliser
        '................',
        'rrrrrrrrrrrrrrrr',
        '................',
        '...b.......b....',
        '...b...b...b....',
        '.b.b.b.b.b.b.b..',
        '.b.b.b.b.b.b.b.b',
        'bbbbbbbbbbbbbbbb',
        '.b.b.b.b.b.b.b.b',
        '.b.b.b.b.b.b.b..',
        '...b...b...b....',
        '...b.......b....',
        '................',
        'rrrrrrrrrrrrrrrr',
        '................',
        '................',
    ],
    'Play': [
        '................',
        '....D...........',
        '....DG..........',
        '....DGG.........',
        '....DGGG........',
        '....DGGGG.......',
        '....DGGGGG......',
        '....DGGGGGG.....',
        '....DGGGGGG.....',
        '....DGGGGG......',
        '....DGGGG.......',
        '....DGGG........',
        '....DGG.........',
        '....DG..........',
        '....D...........',
        '................',
    ],
    'Rec': [
        '................',
        '................',
        '.....RRRRRR.....',
        '....RrrrrrrR....',
        '...RrrwwrrrrR...',
        '..RrrwwrrrrrrR..',
        '..RrrwrrrrrrrR..',
        '..RrrrrrrrrrrR..',
        '..RrrrrrrrrrrR..',
        '..RrrrrrrrrrrR..',
        '..RrrrrrrrrrrR..',
        '...RrrrrrrrrR...',
        '....RrrrrrrR....',
        '.....RRRRRR.....',
        '................',
        '................',
    ],
    'Stop': [
        '................',
        '................',
        '................',
        '...kkkkkkkkkk...',
        '...kggggggggk...',
        '...kggggggggk...',
        '...kggggggggk...',
        '...kggggggggk...',
        '...kggggggggk...',
        '...kggggggggk...',
        '...kggggggggk...',
        '...kggggggggk...',
        '...kkkkkkkkkk...',
        '................',
        '................',
        '................',
    ],
    'SaveFolder': [  # folder with a downward arrow: where the files go
        '.......GG.......',
        '.......GG.......',
        '.......GG.......',
        '.....GGGGGG.....',
        '......GGGG......',
        '.YYYY..GG.......',
        'YyyyyY..........',
        'YyyyyyYYYYYYYY..',
        'YyyyyyyyyyyyyY..',
        'YyyyyyyyyyyyyY..',
        'YyyyyyyyyyyyyY..',
        'YyyyyyyyyyyyyY..',
        'YyyyyyyyyyyyyY..',
        'YyyyyyyyyyyyyY..',
        'YYYYYYYYYYYYYY..',
        '................',
    ],
    'Clear': [  # list with a red cross
        '................',
        '.llllllllll.....',
        '.lwwwwwwwwl.....',
        '.lwkkkkkkwl.....',
        '.lwwwwwwwwl.....',
        '.lwkkkkkkwl.....',
        '.lwwwwwwwwl.....',
        '.lwkkkkkr....r..',
        '.lwwwwwwwr..r...',
        '.lwkkkkkkwrr....',
        '.lwwwwwwwwrr....',
        '.lllllllllr.r...',
        '.........r...r..',
        '................',
        '................',
        '................',
    ],
    'SndVol': [  # speaker with sound waves
        '................',
        '.......k........',
        '......kk....b...',
        '.....kgk..b..b..',
        '....kggk...b..b.',
        'kkkkgggk.b..b.b.',
        'kllkgggk..b.b..b',
        'kllkgggk..b.b..b',
        'kllkgggk..b.b..b',
        'kllkgggk..b.b..b',
        'kkkkgggk.b..b.b.',
        '....kggk...b..b.',
        '.....kgk..b..b..',
        '......kk....b...',
        '.......k........',
        '................',
    ],
    'RecVol': [  # microphone on a stand
        '................',
        '......kkkk......',
        '.....kllllk.....',
        '.....kwllgk.....',
        '.....kllllk.....',
        '.....kwllgk.....',
        '.....kllllk.....',
        '...k.kllllk.k...',
        '...k..kkkk..k...',
        '....k......k....',
        '.....kk..kk.....',
        '.......kk.......',
        '.......kk.......',
        '.......kk.......',
        '....kkkkkkkk....',
        '................',
    ],
    'Exit': [  # door with an arrow leaving it
        '................',
        '.nnnnnnnn.......',
        '.nsssssn........',
        '.nsssssn........',
        '.nsssssn....r...',
        '.nsssssn....rr..',
        '.nsssssnrrrrrrr.',
        '.nsskssnrrrrrrrr',
        '.nsssssnrrrrrrr.',
        '.nsssssn....rr..',
        '.nsssssn....r...',
        '.nsssssn........',
        '.nsssssn........',
        '.nnnnnnnn.......',
        '................',
        '................',
    ],
    'headcut': [  # scissors: cut the leading silence
        '................',
        '.ll.........ll..',
        '..ll.......ll...',
        '...ll.....ll....',
        '....ll...ll.....',
        '.....ll.ll......',
        '......lll.......',
        '.......k........',
        '......r.r.......',
        '.....r...r......',
        '...rrr...rrr....',
        '..r...r.r...r...',
        '..r...r.r...r...',
        '..r...r.r...r...',
        '...rrr...rrr....',
        '................',
    ],
}

# 5x7 glyphs for the lettered buttons.
FONT = {
    '1': ['..#..', '.##..', '..#..', '..#..', '..#..', '..#..', '.###.'],
    '3': ['####.', '....#', '....#', '.###.', '....#', '....#', '####.'],
    'A': ['.###.', '#...#', '#...#', '#####', '#...#', '#...#', '#...#'],
    'M': ['#...#', '##.##', '#.#.#', '#.#.#', '#...#', '#...#', '#...#'],
    'W': ['#...#', '#...#', '#...#', '#.#.#', '#.#.#', '##.##', '#...#'],
}
# 3x5 glyphs for "ALL".
SMALL = {
    'A': ['.#.', '#.#', '###', '#.#', '#.#'],
    'L': ['#..', '#..', '#..', '#..', '###'],
}


def blank():
    return [['.'] * 16 for _ in range(16)]


def badge(fill, edge):
    """A rounded square filling the image, for the lettered buttons."""
    g = blank()
    for y in range(1, 15):
        for x in range(1, 15):
            corner = (y in (1, 14)) and (x in (1, 14))
            if corner:
                continue
            border = y in (1, 14) or x in (1, 14)
            g[y][x] = edge if border else fill
    return g


def stamp(g, glyphs, font, top, colour):
    width = sum(len(font[c][0]) for c in glyphs) + len(glyphs) - 1
    x0 = (16 - width) // 2
    for c in glyphs:
        rows = font[c]
        for dy, row in enumerate(rows):
            for dx, px in enumerate(row):
                if px == '#':
                    g[top + dy][x0 + dx] = colour
        x0 += len(rows[0]) + 1
    return g


def lettered():
    return {
        'one': stamp(badge('s', 'g'), '1', FONT, 4, 'k'),
        'all': stamp(badge('s', 'g'), 'ALL', SMALL, 5, 'k'),
        'wave': stamp(badge('b', 'B'), 'W', FONT, 4, 'w'),
        'mp3': stamp(badge('G', 'D'), 'M3', FONT, 4, 'w'),
        'wma': stamp(badge('p', 'B'), 'WA', FONT, 4, 'w'),
    }


def png(rows):
    """RGBA PNG bytes for 16 rows of palette characters."""
    raw = bytearray()
    for row in rows:
        raw.append(0)  # filter: none
        for ch in row:
            c = PALETTE[ch]
            raw += bytes((0, 0, 0, 0)) if c is None else bytes((*c, 255))

    def chunk(tag, data):
        return struct.pack('>I', len(data)) + tag + data + struct.pack('>I', zlib.crc32(tag + data) & 0xffffffff)

    ihdr = struct.pack('>IIBBBBB', 16, 16, 8, 6, 0, 0, 0)
    return b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', ihdr) + chunk(b'IDAT', zlib.compress(bytes(raw), 9)) + chunk(b'IEND', b'')


KEYS = ['FileOpen', 'waveflt', 'Play', 'Rec', 'Stop', 'one', 'all', 'wave', 'mp3', 'SaveFolder', 'Clear',
        'SndVol', 'wma', 'RecVol', 'Exit', 'headcut']


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    images = {k: [list(r) for r in v] for k, v in ART.items()}
    images.update(lettered())
    for key in KEYS:
        rows = images[key]
        assert len(rows) == 16 and all(len(r) == 16 for r in rows), key
        with open(os.path.join(here, key + '.png'), 'wb') as f:
            f.write(png(rows))


if __name__ == '__main__':
    main()
