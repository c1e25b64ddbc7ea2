#!/usr/bin/env python3
"""Writes the packer's tables of the Windows ANSI code pages it can write names in.

Python's codecs for these code pages follow Microsoft's published mappings, so the tables decode
each byte and each pair as Windows does. A byte is a lead byte when it is no character alone but
opens at least one pair. Every code point lies in the Basic Multilingual Plane; 0xFFFF marks a
byte or a pair that is no character.
"""
import sys

CODE_PAGES = [
    (874, "cp874", "Thai"),
    (932, "cp932", "Japanese (Shift-JIS)"),
    (936, "gbk", "Simplified Chinese (GBK)"),
    (949, "cp949", "Korean (Unified Hangul Code)"),
    (950, "cp950", "Traditional Chinese (Big5)"),
    (1250, "cp1250", "Central European"),
    (1251, "cp1251", "Cyrillic"),
    (1252, "cp1252", "Western European"),
    (1253, "cp1253", "Greek"),
    (1254, "cp1254", "Turkish"),
    (1255, "cp1255", "Hebrew"),
    (1256, "cp1256", "Arabic"),
    (1257, "cp1257", "Baltic"),
    (1258, "cp1258", "Vietnamese"),
]
NONE = 0xFFFF


def decode(codec, data):
    try:
        text = data.decode(codec)
    except UnicodeDecodeError:
        return NONE
    if len(text) != 1 or ord(text) >= NONE:
        return NONE
    return ord(text)


def tables(codec):
    single = [decode(codec, bytes([b])) for b in range(256)]
    rows = []
    for lead in range(0x80, 0x100):
        if single[lead] != NONE:
            continue
        row = [decode(codec, bytes([lead, trail])) for trail in range(256)]
        if any(c != NONE for c in row):
            rows.append((lead, row))
    return single, rows


def words(values):
    lines = []
    for i in range(0, len(values), 16):
        lines.append("    " + ", ".join("0x%04X" % v for v in values[i:i + 16]) + ",")
    return "\n".join(lines)


def main(out_path):
    out = ["// Written by code_page_tables.py at build time; do not edit.",
           '#include "text/code_page_tables.h"', "", "namespace {", ""]
    entries = []
    letters = set()
    for number, codec, name in CODE_PAGES:
        single, rows = tables(codec)
        letters.update(c for c in single if c != NONE)
        for _, row in rows:
            letters.update(c for c in row if c != NONE)
        row_of = [0] * 256
        pairs = []
        for index, (lead, row) in enumerate(rows):
            row_of[lead] = index + 1
            pairs.extend(row)
        out.append("const uint16_t kSingle%d[256] = {\n%s\n};" % (number, words(single)))
        out.append("const uint8_t kRow%d[256] = {\n%s\n};" % (
            number, "\n".join("    " + ", ".join(str(v) for v in row_of[i:i + 32]) + "," for i in range(0, 256, 32))))
        if pairs:
            out.append("const uint16_t kPairs%d[%d] = {\n%s\n};" % (number, len(pairs), words(pairs)))
        entries.append('    {%d, "%s", kSingle%d, kRow%d, %s},' % (
            number, name, number, number, "kPairs%d" % number if pairs else "nullptr"))
        out.append("")
    # Windows compares names in upper case, letter by letter; a letter whose upper case is more
    # than one letter (German sharp s) stays as it is, as it does on Windows.
    upper = sorted((c, ord(chr(c).upper())) for c in letters
                   if len(chr(c).upper()) == 1 and ord(chr(c).upper()) != c and ord(chr(c).upper()) < NONE)
    out.append("const uint16_t kUpper[][2] = {\n%s\n};" % "\n".join(
        "    {0x%04X, 0x%04X}," % pair for pair in upper))
    out.append("")
    out.append("}  // namespace")
    out.append("")
    out.append("const CodePageTable kCodePageTables[] = {\n%s\n};" % "\n".join(entries))
    out.append("const size_t kCodePageTableCount = sizeof(kCodePageTables) / sizeof(kCodePageTables[0]);")
    out.append("const uint16_t (*const kUpperCase)[2] = kUpper;")
    out.append("const size_t kUpperCaseCount = sizeof(kUpper) / sizeof(kUpper[0]);")
    with open(out_path, "w") as handle:
        handle.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main(sys.argv[1])
