#!/usr/bin/env python3
"""Writes the payload stream of the sample setup program: a merge data file of three entries in
sub-folders, without a launch name, compressed as one zlib stream. Written independently of the
C++ producer, so the sample also cross-checks the format.

Usage: make_sample_payload.py OUTPUT
"""
import struct
import sys
import zlib

NAME_FIELD = 260
ENTRIES = [
    # relative path, creation, last access, last write (FILETIME values), contents
    ('readme.txt', 0x01D0000012345678, 0x01D1000012345678, 0x01D2000012345678,
     b'This folder was unpacked by the sample setup program.\r\n'),
    ('docs\\guide.txt', 0x01C8000087654321, 0x01C9000087654321, 0x01CA000087654321,
     b'Step 1: run setup.\r\nStep 2: there is no step 2.\r\n' * 40),
    ('docs\\data\\table.bin', 0x01BF000000000001, 0x01BF000000000002, 0x01BF000000000003,
     bytes((i * 37 + 11) % 256 for i in range(5000))),
]


def name_field(name):
    encoded = name.encode('ascii')
    return encoded + bytes(NAME_FIELD - len(encoded))


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__.strip())
    merge = struct.pack('<I', len(ENTRIES)) + name_field('')
    for index, (path, creation, access, write, contents) in enumerate(ENTRIES):
        merge += struct.pack('<IQQQII', index, creation, access, write, 0, len(contents)) + name_field(path)
    merge += b''.join(entry[4] for entry in ENTRIES)
    with open(sys.argv[1], 'wb') as f:
        f.write(zlib.compress(merge, 9))


if __name__ == '__main__':
    main()
