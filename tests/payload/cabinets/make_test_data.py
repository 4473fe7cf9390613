#!/usr/bin/env python3
"""Makes the cabinet extraction's and the file digest's test data in OUT_DIR:

  one.cab       setup.exe alone
  several.cab   readme.txt, data.bin (several 32 KiB data blocks), setup.exe last
  folders.cab   first.txt, sub\\inner.txt, last.txt (a name with a folder part)
  dated.cab     dated.txt, dated 2009-01-15 10:20:30 local time
  not_a_cabinet.dat
  src/          the files the cabinets were made from, to compare extracted bytes against
  digest/       inputs of several sizes and digest/md5sums.txt from md5sum

Contents are fixed (seeded), so every build makes the same data. Usage: make_test_data.py OUT_DIR GCAB
"""
import os
import random
import shutil
import subprocess
import sys


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def mixed_bytes(rng, size):
    """Half text-like, half random: partly compressible, like an installer's files."""
    words = [b"Qarv", b"setup", b"installer", b"data", b"0123456789", b"\r\n", b"    "]
    out = bytearray()
    while len(out) < size:
        if rng.random() < 0.5:
            out += b" ".join(rng.choice(words) for _ in range(16))
        else:
            out += rng.randbytes(96)
    return bytes(out[:size])


def gcab(tool, cabinet, folder, names, env=None):
    subprocess.run([tool, "-c", "-z", cabinet] + names, cwd=folder, check=True, env=env)


def main():
    out, tool = sys.argv[1], sys.argv[2]
    rng = random.Random(2009)
    shutil.rmtree(out, ignore_errors=True)
    src = os.path.join(out, "src")

    write(os.path.join(src, "setup.exe"), b"MZ" + mixed_bytes(rng, 40_000))
    write(os.path.join(src, "readme.txt"), b"QarvPro 2009 Internet Security\r\n" * 40)
    write(os.path.join(src, "data.bin"), mixed_bytes(rng, 200_003))
    write(os.path.join(src, "first.txt"), b"first\r\n")
    write(os.path.join(src, "sub", "inner.txt"), b"inner\r\n")
    write(os.path.join(src, "last.txt"), b"last\r\n")
    write(os.path.join(src, "dated.txt"), b"dated\r\n")
    gcab(tool, os.path.join(out, "one.cab"), src, ["setup.exe"])
    gcab(tool, os.path.join(out, "several.cab"), src, ["readme.txt", "data.bin", "setup.exe"])
    gcab(tool, os.path.join(out, "folders.cab"), src, ["first.txt", "sub/inner.txt", "last.txt"])
    # gcab stores the file's time as local wall-clock time; touch and gcab share one zone. January
    # keeps daylight saving time out of the comparison.
    subprocess.run(["touch", "-d", "2009-01-15 10:20:30", "dated.txt"], cwd=src, check=True)
    gcab(tool, os.path.join(out, "dated.cab"), src, ["dated.txt"])
    write(os.path.join(out, "not_a_cabinet.dat"), b"MSCG" + mixed_bytes(rng, 5_000))

    digest = os.path.join(out, "digest")
    sizes = {"empty.bin": 0, "abc.bin": None, "block_minus_one.bin": 2047, "block.bin": 2048,
             "block_plus_one.bin": 2049, "two_blocks.bin": 4096, "two_blocks_plus_one.bin": 4097,
             "large.bin": 3 * 1024 * 1024 + 17}
    for name, size in sizes.items():
        write(os.path.join(digest, name), b"abc" if size is None else rng.randbytes(size))
    sums = subprocess.run(["md5sum"] + sorted(sizes), cwd=digest, check=True, capture_output=True).stdout
    write(os.path.join(digest, "md5sums.txt"), sums)

    write(os.path.join(out, "stamp"), b"")


if __name__ == "__main__":
    main()
