#!/usr/bin/env python3
"""Writes the payload stream of a merge data file that holds one file of SIZE zero bytes, with no
launch name. At level 9 the stream stays tiny whatever the size; at level 0 (stored blocks) it is
as large as the data.

Usage: zero_payload.py OUTPUT SIZE LEVEL
"""
import struct
import sys
import zlib

NAME_FIELD = 260
CHUNK = 1 << 24
A_FILETIME = 0x01DC000012345678


def name_field(name):
    encoded = name.encode('ascii')
    return encoded + bytes(NAME_FIELD - len(encoded))


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__.strip())
    size, level = int(sys.argv[2]), int(sys.argv[3])
    header = struct.pack('<I', 1) + name_field('')
    entry = struct.pack('<IQQQII', 0, A_FILETIME, A_FILETIME, A_FILETIME, 0, size) + name_field('zeros.bin')
    compressor = zlib.compressobj(level)
    zeros = bytes(CHUNK)
    with open(sys.argv[1], 'wb') as out:
        out.write(compressor.compress(header + entry))
        left = size
        while left > 0:
            out.write(compressor.compress(zeros[:min(left, CHUNK)]))
            left -= CHUNK
        out.write(compressor.flush())


if __name__ == '__main__':
    main()
