#!/usr/bin/env python3
"""The zlib level-9 yardstick of the large packer benchmark: one zlib stream (level 9, windowBits
15, memLevel 8, the settings of the packer's own output) over IN, written to OUT.

Usage: zlib_level9.py IN OUT

IN is read in 1 MiB pieces and each piece's output is written at once, so that the yardstick's
peak memory is zlib's own state and one piece, not the size of IN.
"""
import sys
import zlib

PIECE = 1024 * 1024


def main(argv):
    if len(argv) != 3:
        sys.exit("usage: zlib_level9.py IN OUT")
    compressor = zlib.compressobj(9, zlib.DEFLATED, 15, 8)
    try:
        with open(argv[1], "rb") as source, open(argv[2], "wb") as sink:
            while True:
                piece = source.read(PIECE)
                if not piece:
                    break
                sink.write(compressor.compress(piece))
            sink.write(compressor.flush())
    except OSError as error:
        sys.exit("zlib_level9.py: %s: %s" % (error.filename, error.strerror))


if __name__ == "__main__":
    main(sys.argv)
