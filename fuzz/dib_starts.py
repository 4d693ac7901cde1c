#!/usr/bin/python3
"""Writes starting inputs for fuzz_dib into DIR: well-formed bitmaps of every
bit count and compression for each of the three DIB functions, with gray,
colour and colour-with-alpha images, so that a short fuzzing run starts
inside the conversions rather than at the header checks.

    fuzz/dib_starts.py DIR

Input layout (fuzz_dib.cpp): function, depth, channels, alpha, channel
order, data order, origin, align, dither (1 or 2 bytes), palette, image
height, image width, the 40 header bytes, a tweak byte, then the table and
pixel bytes."""
import os
import random
import struct
import sys

SEQS = {"G": 0, "GRAY": 1, "BGR": 2, "BGRA": 3, "RGB": 4, "RGBA": 5}
DEPTH_8U, DEPTH_16U, DEPTH_1U = 1, 2, 0  # indices into the target's depth list


def bitmap(function, bits, compression, channels, seq, depth, palette, rnd, h=6, w=9, dither8=False,
         clr_used=0):
    alpha = 4 if channels == 4 else 0
    head = struct.pack("<IiiHHIIiiII", 40, w, h, 1, bits, compression, 0, 2835, 2835, clr_used, 0)
    dither = b"\x01" if dither8 else b"\x00\x01"
    prefix = bytes([function, depth, channels - 1, alpha, SEQS[seq], 0, 0, 0]) + dither
    prefix += bytes([palette, h - 1, w - 1])
    table = (1 << bits) if bits <= 8 else 3 if compression == 3 else 0
    body = bytearray(rnd.getrandbits(8) for _ in range(4 * table + (w * bits + 31) // 32 * 4 * h))
    if compression == 3:
        masks = (0xF800, 0x07E0, 0x001F) if bits == 16 else (0xFF0000, 0xFF00, 0xFF)
        body[:12] = struct.pack("<III", *masks)
    if bits <= 8 and function == 0 and rnd.random() < 0.5:  # a gray ramp
        n = 1 << bits
        body[:4 * n] = b"".join(bytes([i * 255 // (n - 1)] * 3 + [0]) for i in range(n))
    return prefix + head + b"\x00" + bytes(body)


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    rnd = random.Random(20261207)
    inputs = []
    for function in (0, 1, 2):
        for bits in (1, 4, 8, 16, 24, 32):
            for compression in ((0, 3) if bits in (16, 32) else (0,)):
                for channels, seq, depth in ((1, "GRAY", DEPTH_8U), (3, "RGB", DEPTH_8U), (4, "BGRA", DEPTH_8U),
                                             (3, "BGR", DEPTH_16U), (1, "G", DEPTH_1U)):
                    for palette in ((1, 2) if function == 2 and bits <= 8 else (0,)):
                        inputs.append(bitmap(function, bits, compression, channels, seq, depth, palette, rnd,
                                          dither8=depth == DEPTH_16U))
    for i, s in enumerate(inputs):
        with open(os.path.join(out, f"bitmap-{i:03d}"), "wb") as f:
            f.write(s)
    print(f"{len(inputs)} inputs in {out}")


if __name__ == "__main__":
    main()
