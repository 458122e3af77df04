#!/usr/bin/env python3
"""Writes the seed scripts of the console-record fuzzing harness
(tests/fuzz/corpus/records/*.bin) in the harness's script format:

  step 0: a list-directed record: item count, then per item a kind byte
          (0 text: 2-byte length, the bytes, a byte whose lowest bit 0 makes the
          length 200 less; 1 integer: 4 bytes; 2 real: 4 bytes of its bit pattern)
  step 1: a formatted record (second byte even) or a prompt (odd): 2-byte length, text
  step 3: a console read;  step 4: the end of a pending line
"""
import os
import struct

HERE = os.path.join(os.path.dirname(__file__), "..", "tests", "fuzz", "corpus", "records")


def text(b):
    return bytes([len(b) >> 8, len(b) & 255]) + b


def list_record(items):
    out = bytes([0, len(items)])
    for item in items:
        if isinstance(item, bytes):
            out += bytes([0]) + text(item) + bytes([1])
        elif isinstance(item, int):
            out += bytes([1]) + struct.pack(">i", item)
        else:
            out += bytes([2]) + struct.pack(">f", item)
    return out


def formatted(b, prompt=0):
    return bytes([1, prompt]) + text(b)


SEEDS = {
    "banner_and_prompt": list_record([b"  "]) + list_record([b"Total number of data points=", 150])
    + formatted(b" Please enter the name of your data file: ", 1) + bytes([3])
    + list_record([b"Area above the curve =", 1234.5]),
    "numbers": list_record([7, 2.0, -2147483648, 0.001, 1e-10, 8388607.5, 1e7, -2.5e-5, 0.0]),
    "long_text": list_record([b"x" * 60, b"y" * 78, b"z" * 200]) + bytes([4]),
    "literals": formatted(b"0double") + formatted(b"1page") + formatted(b"+over")
    + formatted(b"---Warning-- too many data points. Limit 200000  ") + formatted(b"")
    + formatted(b" " + b"w" * 300),
}

for name, script in SEEDS.items():
    with open(os.path.join(HERE, name + ".bin"), "wb") as f:
        f.write(script)
