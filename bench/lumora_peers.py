#!/usr/bin/python3
"""Peers of bench/lumora_bench.cpp in Python.

  lumora_peers.py write DIR   writes DIR/big.txt (16 MiB of text, 1,048,576 separators) and
                              DIR/mixed.txt (1 MiB of mixed Chinese and ASCII), UTF-8
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
    mixed = []
    for _ in range(1 << 20):
        if rng.randrange(3) == 0:
            mixed.append(chr(0x4E00 + rng.randrange(0x51A5)))
        else:
            mixed.append(rng.choice("abcdefghijklmnopqrstuvwxyz0123456789 "))
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
    with open(os.path.join(directory, "mixed.txt"), encoding="utf-8") as f:
        mixed = f.read()
    cases = [
        ("replace", lambda: big.replace(";", ", ")),
        ("getsep", lambda: big.split(";")),
        ("hexencode_utf8", lambda: binascii.hexlify(mixed.encode("utf-8"))),
        ("hexencode_ansi", lambda: binascii.hexlify(mixed.encode("gbk"))),
        ("urlencode_utf8", lambda: urllib.parse.quote(mixed)),
    ]
    for name, fn in cases:
        print(f"{name} {best(fn):.6f}", flush=True)


if __name__ == "__main__":
    {"write": write, "run": run}[sys.argv[1]](sys.argv[2])
