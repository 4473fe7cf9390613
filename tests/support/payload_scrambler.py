#!/usr/bin/env python3
"""The launcher's payload transform for the shell tests, written from its definition rather than
taken from the product's code, so that the packer and the inspector are checked against an
independent one.

  payload_scrambler.py scramble|descramble IN OUT

Every 4096-byte chunk (the last may be shorter) starts with the key (length % 256) ^ 0x5D; byte i
of a chunk is XORed with, added to, complemented or rotated left by the key, by i % 4, and the key
grows by one after every byte. Descrambling undoes each step.
"""
import sys

CHUNK = 4096


def transform(data, scramble):
    for start in range(0, len(data), CHUNK):
        length = min(CHUNK, len(data) - start)
        k = (length % 256) ^ 0x5D
        for i in range(length):
            b = data[start + i]
            m = i % 4
            if m == 0:
                b ^= k
            elif m == 1:
                b = (b + k if scramble else b - k) % 256
            elif m == 2:
                b = ~b & 0xFF
            else:
                r = k & 7
                b = ((b << r) | (b >> (8 - r))) if scramble else ((b >> r) | (b << (8 - r)))
                b &= 0xFF
            data[start + i] = b
            k = (k + 1) % 256


def main():
    if len(sys.argv) != 4 or sys.argv[1] not in ('scramble', 'descramble'):
        sys.exit(__doc__)
    with open(sys.argv[2], 'rb') as source:
        data = bytearray(source.read())
    transform(data, sys.argv[1] == 'scramble')
    with open(sys.argv[3], 'wb') as target:
        target.write(data)


if __name__ == '__main__':
    main()
