#!/usr/bin/env python3
"""Writes a deterministic folder tree of MIB MiB for the large packer benchmark: half seeded random
bytes (incompressible, like images and archives), half text-like lines of words (compressible about
3 to 4 times by zlib level 9), in files from 4 KiB to 64 MiB in a few nested folders.

Usage: large_tree.py SEED MIB DIR

DIR must not exist or be empty. The same SEED and MIB give the same names and bytes with any
Python from 3.9 on: everything comes from one random.Random(SEED), whose random(), getrandbits()
and randbytes() sequences Python keeps stable.
"""
import math
import os
import random
import sys

KIB = 1024
MIB = 1024 * KIB
SMALLEST_FILE = 4 * KIB
LARGEST_FILE = 64 * MIB
# Files are written in pieces of this size so that memory stays small whatever the file size.
PIECE = 4 * MIB

FOLDERS = [
    "app",
    "app/bin",
    "app/lib/x64",
    "data",
    "data/media/images",
    "data/media/video",
    "docs",
    "docs/manual/en",
]

# The vocabulary is fixed (its own generator, not the tree's seed), so that every seed draws from
# the same words and only the order changes.
SYLLABLES = ["ka", "to", "ri", "men", "sul", "ba", "de", "lin", "or", "pe", "qua", "sto",
             "vi", "na", "el", "tur", "gor", "fa", "mi", "so", "ex", "pro", "con", "ter"]
VOCABULARY_SIZE = 3000
POOL_LINES = 20000
HOT_LINES = 400
# Share of lines drawn from the small hot set: the near repetition that a 32 KiB window sees in
# real text (headers, boilerplate, log lines).
HOT_SHARE = 0.25


def make_vocabulary():
    fixed = random.Random(1)
    words = set()
    while len(words) < VOCABULARY_SIZE:
        words.add("".join(fixed.choice(SYLLABLES) for _ in range(fixed.randint(1, 4))))
    return sorted(words)


def make_lines(rng, vocabulary, count):
    # Zipf-like weights: a few words are common, most are rare, as in natural text.
    cum_weights = []
    total = 0.0
    for rank in range(len(vocabulary)):
        total += 1.0 / (rank + 1)
        cum_weights.append(total)
    lines = []
    for _ in range(count):
        words = rng.choices(vocabulary, cum_weights=cum_weights, k=rng.randint(4, 14))
        ending = ".\n" if rng.random() < 0.8 else ", %d.\n" % rng.randint(0, 9999)
        lines.append((" ".join(words).capitalize() + ending).encode("ascii"))
    return lines


class TextSource:
    def __init__(self, rng):
        self.rng = rng
        vocabulary = make_vocabulary()
        self.pool = make_lines(rng, vocabulary, POOL_LINES)
        self.hot = self.pool[:HOT_LINES]

    def block(self, size):
        # Lines are drawn in batches with choices(), which runs its loop in C-speed list building;
        # drawing word by word would take minutes for a gigabyte.
        rng = self.rng
        out = []
        length = 0
        while length < size:
            batch = max(64, (size - length) // 60)
            hot_count = int(batch * HOT_SHARE)
            picks = rng.choices(self.pool, k=batch - hot_count) + rng.choices(self.hot, k=hot_count)
            rng.shuffle(picks)
            out.extend(picks)
            length += sum(map(len, picks))
        return b"".join(out)[:size]


def plan_files(rng, total):
    """Returns (folder, name, size, kind) for every file: sizes log-uniform over the range so that
    they spread over four orders of magnitude, kinds alternating by which half is behind."""
    largest = max(SMALLEST_FILE, min(LARGEST_FILE, total // 8))
    low, high = math.log(SMALLEST_FILE), math.log(largest)
    written = {"bin": 0, "txt": 0}
    plans = []
    remaining = total
    while remaining > 0:
        size = int(math.exp(rng.uniform(low, high)))
        # A remainder too small for a file of its own goes to the last one, so none is tiny.
        if remaining - size < SMALLEST_FILE:
            size = remaining
        kind = "bin" if written["bin"] < written["txt"] else "txt"
        if written["bin"] == written["txt"]:
            kind = rng.choice(["bin", "txt"])
        written[kind] += size
        remaining -= size
        # The first files go one to each folder, so that no folder is left empty.
        folder = FOLDERS[len(plans)] if len(plans) < len(FOLDERS) else rng.choice(FOLDERS)
        plans.append((folder, "f%04d.%s" % (len(plans), kind), size, kind))
    return plans


def write_file(path, size, kind, rng, text):
    with open(path, "wb") as out:
        left = size
        while left > 0:
            piece = min(PIECE, left)
            out.write(rng.randbytes(piece) if kind == "bin" else text.block(piece))
            left -= piece


def main(argv):
    if len(argv) != 4:
        sys.exit("usage: large_tree.py SEED MIB DIR")
    try:
        seed = int(argv[1])
        mib = int(argv[2])
    except ValueError:
        sys.exit("large_tree.py: SEED and MIB must be whole numbers, not '%s' and '%s'" % (argv[1], argv[2]))
    if mib < 1 or mib >= 4096:
        sys.exit("large_tree.py: MIB must be from 1 to 4095 (a payload holds less than 4 GiB), not %d" % mib)
    root = argv[3]
    if os.path.exists(root) and (not os.path.isdir(root) or os.listdir(root)):
        sys.exit("large_tree.py: %s: exists and is not an empty folder; remove it first" % root)

    rng = random.Random(seed)
    text = TextSource(rng)
    plans = plan_files(rng, mib * MIB)
    totals = {"bin": 0, "txt": 0}
    for folder, name, size, kind in plans:
        os.makedirs(os.path.join(root, folder), exist_ok=True)
        write_file(os.path.join(root, folder, name), size, kind, rng, text)
        totals[kind] += size
    print("%d files, %d bytes: %d random, %d text; largest %d, smallest %d" % (
        len(plans), sum(totals.values()), totals["bin"], totals["txt"],
        max(p[2] for p in plans), min(p[2] for p in plans)))


if __name__ == "__main__":
    main(sys.argv)
