"""Image files written and read with plain code for the tests: PNG out, BMP
in; and the vex program, when VEX_TOOL names it."""
import os
import struct
import subprocess
import zlib

import numpy as np
import pytest

VEX = os.environ.get("VEX_TOOL")
needs_tool = pytest.mark.skipif(not VEX, reason="VEX_TOOL names the vex program")


def run_vex(*args):
    """Runs vex with the arguments (paths and numbers as text); a failure raises."""
    subprocess.run([VEX] + [str(a) for a in args], check=True, capture_output=True)


def write_png(path, a):
    """A plain PNG (no filters) of a gray, RGB or RGBA uint8/uint16 array."""
    ch = a.shape[2] if a.ndim == 3 else 1
    kind = {1: 0, 3: 2, 4: 6}[ch]
    rows = a.astype(">u2" if a.dtype == np.uint16 else np.uint8).reshape(a.shape[0], -1)
    raw = b"".join(b"\0" + r.tobytes() for r in rows)

    def chunk(tag, data):
        return struct.pack(">I", len(data)) + tag + data + struct.pack(">I", zlib.crc32(tag + data))
    head = struct.pack(">IIBBBBB", a.shape[1], a.shape[0], a.dtype.itemsize * 8, kind, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", head) + chunk(b"IDAT", zlib.compress(raw))
                + chunk(b"IEND", b""))


def parse_bmp(path):
    """A plain reading of an 8-bit (table), 24- or 32-bit BI_RGB BMP file."""
    data = open(path, "rb").read()
    off, = struct.unpack_from("<I", data, 10)
    w, h, _, bpp = struct.unpack_from("<iiHH", data, 18)
    step = (w * bpp + 31) // 32 * 4
    rows = np.frombuffer(data, np.uint8, step * abs(h), off).reshape(abs(h), step)[:, :w * bpp // 8]
    if bpp == 8:
        table = np.frombuffer(data, np.uint8, off - 54, 54).reshape(-1, 4)
        img = table[rows][:, :, 2::-1]
        img = img[:, :, 0] if (img == img[:, :, :1]).all() else img
    else:
        img = rows.reshape(abs(h), w, bpp // 8)
        img = np.concatenate([img[:, :, 2::-1], img[:, :, 3:]], axis=2)
    return img[::-1] if h > 0 else img
