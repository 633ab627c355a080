#!/usr/bin/python3
"""Peers of bench/lumora_bench.cpp in Python.

  lumora_peers.py write DIR   writes, in UTF-8, DIR/big.txt (16 Mi characters of Chinese and
                              ASCII, 1,048,576 separators), DIR/ascii.txt (the same in ASCII
                              only) and DIR/mixed.txt (16 Mi characters, a third Chinese)
  lumora_peers.py run DIR     times str.replace, str.split, binascii.hexlify(text.encode())
                              and urllib.parse.quote on them: "case seconds", best of runs
"""
import binascii
import os
import random
import sys
import time
import urllib.parse

RUNS = int(os.environ.get("QORV_BENCH_RUNS", "3"))


def write(directory):
    rng = random.Random(1321)
    # 16 characters per piece, Chinese and ASCII (so both sides hold 16-bit characters).
    pieces = []
    for _ in range(1 << 20):
        piece = "".join(rng.choice("考生编号abcdefgh0123") for _ in range(15))
        pieces.append(piece + ";")
    with open(os.path.join(directory, "big.txt"), "w", encoding="utf-8") as f:
        f.write("".join(pieces))
    # The same shape in ASCII only, which Python holds in one byte a character.
    ascii_pieces = ["".join(rng.choices("abcdefgh0123456789XYZ", k=15)) + ";"
                    for _ in range(1 << 20)]
    with open(os.path.join(directory, "ascii.txt"), "w", encoding="utf-8") as f:
        f.write("".join(ascii_pieces))
    # 16 Mi characters, a third of them CJK ideographs.
    letters = "abcdefghijklmnopqrstuvwxyz0123456789 "
    n = 1 << 24
    kinds = rng.choices((0, 1, 2), k=n)
    ideographs = [chr(0x4E00 + i) for i in range(0x51A5)]
    ascii_choices = iter(rng.choices(letters, k=n))
    cjk_choices = iter(rng.choices(ideographs, k=n))
    mixed = [next(cjk_choices) if k == 0 else next(ascii_choices) for k in kinds]
    with open(os.path.join(directory, "mixed.txt"), "w", encoding="utf-8") as f:
        f.write("".join(mixed))


def best(fn):
    result = float("inf")
    for _ in range(RUNS):
        start = time.perf_counter()
        fn()
        result = min(result, time.perf_counter() - start)
    return result


def run(directory):
    with open(os.path.join(directory, "big.txt"), encoding="utf-8") as f:
        big = f.read()
    with open(os.path.join(directory, "ascii.txt"), encoding="utf-8") as f:
        ascii_text = f.read()
    with open(os.path.join(directory, "mixed.txt"), encoding="utf-8") as f:
        mixed = f.read()
    cases = [
        ("replace_mixed", lambda: big.replace(";", ", ")),
        ("replace_ascii", lambda: ascii_text.replace(";", ", ")),
        ("getsep", lambda: big.split(";")),
        ("hexencode_utf8", lambda: binascii.hexlify(mixed.encode("utf-8"))),
        ("hexencode_utf16", lambda: binascii.hexlify(mixed.encode("utf-16-le"))),
        ("hexencode_ansi", lambda: binascii.hexlify(mixed.encode("gbk"))),
        ("urlencode_utf8", lambda: urllib.parse.quote(mixed)),
    ]
    for name, fn in cases:
        print(f"{name} {best(fn):.6f}", flush=True)


if __name__ == "__main__":
    {"write": write, "run": run}[sys.argv[1]](sys.argv[2])
