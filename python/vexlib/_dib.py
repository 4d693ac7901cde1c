"""Device-independent bitmaps (DIBs) and BMP files to and from arrays.

A DIB is the 40-byte info header, then the colour table (4-byte entries
blue, green, red, 0) or, for 16 and 32 bits with bit fields, three 32-bit
masks (red, green, blue), then the pixel rows padded to 4 bytes, bottom-up
when the height is positive. A BMP file is the 14-byte file header followed
by a DIB."""
import ctypes as C
import struct

import numpy as np

from ._core import Image, VexImage, aligned_bytes, call, lib, row_step


class VexBitmapInfoHeader(C.Structure):
    _pack_ = 1
    _fields_ = [("biSize", C.c_uint), ("biWidth", C.c_int), ("biHeight", C.c_int),
                ("biPlanes", C.c_ushort), ("biBitCount", C.c_ushort), ("biCompression", C.c_uint),
                ("biSizeImage", C.c_uint), ("biXPelsPerMeter", C.c_int), ("biYPelsPerMeter", C.c_int),
                ("biClrUsed", C.c_uint), ("biClrImportant", C.c_uint)]


HEADER = 40
BI_RGB, BI_BITFIELDS = 0, 3
PELS_PER_METER = 2835  # 72 dots per inch
_PALETTES = {"keep": 0, "fixed": 1, "mediancut": 2}

lib.vexTranslateDIB.restype = C.POINTER(VexImage)
lib.vexTranslateDIB.argtypes = [C.c_void_p, C.POINTER(C.c_int)]
lib.vexConvertFromDIB.restype = None
lib.vexConvertFromDIB.argtypes = [C.c_void_p, C.POINTER(VexImage)]
lib.vexConvertToDIB.restype = None
lib.vexConvertToDIB.argtypes = [C.POINTER(VexImage), C.c_void_p, C.c_int, C.c_int]
lib.vexDeallocate.restype = None
lib.vexDeallocate.argtypes = [C.POINTER(VexImage), C.c_int]
_IMAGE_ALL = 31


def _table_length(bits, compression, clr_used):
    if bits in (1, 4, 8):
        return clr_used or (1 << bits)
    if bits in (16, 32) and compression == BI_BITFIELDS:
        return 3
    return 0


def _dib_buffer(buf):
    """The DIB as an aligned uint8 array the library may read, after the
    size checks the library cannot make (it trusts the buffer's length)."""
    raw = np.frombuffer(buf, np.uint8) if not isinstance(buf, np.ndarray) else buf.view(np.uint8).ravel()
    if raw.size < HEADER:
        raise ValueError(f"a DIB starts with a {HEADER}-byte header; {raw.size} bytes given")
    size, width, height, _, bits, compression = struct.unpack_from("<IiiHHI", raw.tobytes()[:20])
    clr_used, = struct.unpack_from("<I", raw.tobytes()[32:36])
    need = HEADER
    if size == HEADER and bits in (1, 4, 8, 16, 24, 32) and width > 0:
        table = _table_length(bits, compression, clr_used)
        need = HEADER + 4 * table + (width * bits + 31) // 32 * 4 * abs(height)
    if raw.size < need:
        raise ValueError(f"the DIB's header describes {need} bytes; {raw.size} given")
    if width <= 0 and size == HEADER and bits in (1, 4, 8, 16, 24, 32):
        raise ValueError(f"the DIB's width is {width}")
    out = aligned_bytes(raw.size)
    out[...] = raw
    return out


def _image_array(img):
    """A copy of the library-made image `img` as a top-row-first array:
    (H, W) for one channel (bool for 1 bit), (H, W, C) otherwise, channels in
    the image's order."""
    h, w, ch = img.height, img.width, img.nChannels
    depth = img.depth
    plane = img.dataOrder == 1 and ch > 1
    bits = 1 if depth == 1 else 8
    step = row_step(w, bits, 1 if plane else ch, img.align)
    n = step * h * (ch if plane else 1)
    raw = np.ctypeslib.as_array(C.cast(img.imageData, C.POINTER(C.c_uint8)), (n,)).copy()
    if depth == 1:
        a = np.unpackbits(raw.reshape(h, step), axis=1, count=w).astype(bool)
    elif plane:
        a = np.moveaxis(raw.reshape(ch, h, step)[:, :, :w], 0, -1)
    else:
        a = raw.reshape(h, step)[:, :w * ch].reshape((h, w, ch) if ch > 1 else (h, w))
    if img.origin == 1:
        a = a[::-1]
    return np.ascontiguousarray(a)


def translate_dib(buf):
    """(array, shared) for the DIB in buf, as vexTranslateDIB describes it:
    a gray image (H, W) (bool for a 1-bit gray ramp) or colour (H, W, 3) or
    (H, W, 4) with the channels in the DIB's own order, blue first, and the
    top row first; shared says whether the library's image shares the DIB's
    rows (the array is a copy either way)."""
    dib = _dib_buffer(buf)
    shared = C.c_int(-1)
    img = call(lib.vexTranslateDIB, dib.ctypes.data, C.byref(shared))
    try:
        return _image_array(img.contents), bool(shared.value)
    finally:
        lib.vexDeallocate(img, _IMAGE_ALL)


def from_dib(buf, dtype=np.uint8, channels=None):
    """The picture of the DIB in buf as an array (vexConvertFromDIB), top row
    first: (H, W) gray, (H, W, 3) RGB or (H, W, 4) RGBA. The channel count
    is the one vexTranslateDIB gives the DIB (gray for a gray-ramp table,
    4 for 32 bits) unless channels= says; dtype uint8, uint16 (8-bit values x
    256) or bool (one channel, samples above 127)."""
    dib = _dib_buffer(buf)
    if channels is None:
        shared = C.c_int(-1)
        img = call(lib.vexTranslateDIB, dib.ctypes.data, C.byref(shared))
        channels = img.contents.nChannels
        lib.vexDeallocate(img, _IMAGE_ALL)
    size, width, height = struct.unpack_from("<Iii", dib.tobytes()[:12])
    if size != HEADER or width <= 0:
        width = height = 1  # the library refuses the header before it reads pixels
    shape = (abs(height), width) + (() if channels == 1 else (channels,))
    out = np.zeros(shape, dtype)
    image = Image(out, writable=True)
    call(lib.vexConvertFromDIB, dib.ctypes.data, image.ptr)
    image.sync()
    return out


def to_dib(a, bits=None, palette="mediancut", dither=False, masks=None):
    """The array a as a DIB (vexConvertToDIB), bottom-up, as bytes: the
    header, the colour table or masks, the rows.

    a       (H, W) bool, uint8 or uint16 gray, (H, W, 3) RGB or (H, W, 4)
            RGBA of uint8 or uint16
    bits    1, 4, 8, 16, 24 or 32 (default 1 for bool, 8 for gray, 24 for
            RGB, 32 for RGBA)
    palette for 1, 4 and 8 bits: 'mediancut' (a table of the image's
            colours; the table then has as many entries as it needs),
            'fixed' (gray levels or the standard colours), or the table
            itself as an (N, 3) array of RGB entries
    dither  16-bit samples: False takes the high byte, True dithers them to
            8 bits first (Stucki error diffusion)
    masks   16 or 32 bits: (red, green, blue) bit masks, written with bit
            fields; default 5-5-5 (16 bits) or 8-8-8-8 (32 bits)
    """
    a = np.asarray(a)
    ch = a.shape[2] if a.ndim == 3 else 1
    if bits is None:
        bits = 1 if a.dtype == np.bool_ else {1: 8, 3: 24, 4: 32}.get(ch, 8)
    if bits not in (1, 4, 8, 16, 24, 32):
        raise ValueError(f"bits is 1, 4, 8, 16, 24 or 32, not {bits}")
    h, w = a.shape[:2]
    table = (1 << bits) if bits <= 8 else 3 if masks is not None and bits in (16, 32) else 0
    stride = (w * bits + 31) // 32 * 4
    dib = aligned_bytes(HEADER + 4 * table + stride * h)
    hd = VexBitmapInfoHeader.from_buffer(dib)
    hd.biSize, hd.biWidth, hd.biHeight, hd.biPlanes, hd.biBitCount = HEADER, w, h, 1, bits
    hd.biCompression = BI_BITFIELDS if table == 3 else BI_RGB
    hd.biSizeImage = stride * h
    hd.biXPelsPerMeter = hd.biYPelsPerMeter = PELS_PER_METER
    if table == 3:
        dib[HEADER:HEADER + 12] = np.asarray(masks, "<u4").view(np.uint8)
    if isinstance(palette, str):
        if palette not in _PALETTES or palette == "keep":
            raise ValueError(f"palette is 'mediancut', 'fixed' or an (N, 3) array of RGB entries, "
                             f"not {palette!r}")
        conversion = _PALETTES[palette]
    else:
        rgb = np.asarray(palette, np.uint8).reshape(-1, 3)
        if bits > 8 or len(rgb) > table:
            raise ValueError(f"a table of {len(rgb)} entries does not fit a {bits}-bit DIB")
        hd.biClrUsed = len(rgb)
        dib[HEADER:HEADER + 4 * len(rgb)].reshape(-1, 4)[:, :3] = rgb[:, ::-1]
        conversion = 0
    image = Image(a, alpha=4 if ch == 4 else 0)
    call(lib.vexConvertToDIB, image.ptr, dib.ctypes.data, 8 if dither else 1, conversion)
    used = _table_length(bits, hd.biCompression, hd.biClrUsed)
    return dib[:HEADER + 4 * used + stride * h].tobytes()


def write_bmp(path, a, **kw):
    """Writes the array a as a BMP file (to_dib's arguments)."""
    dib = to_dib(a, **kw)
    with open(path, "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", 14 + len(dib), 0, 0, 14 + len(dib) - _rows_size(dib)))
        f.write(dib)


def _rows_size(dib):
    _, width, height, _, bits = struct.unpack_from("<IiiHH", dib)
    return (width * bits + 31) // 32 * 4 * abs(height)


def read_bmp(path, **kw):
    """The picture of a BMP file as an array (from_dib's arguments). Files
    with the later, longer info headers are read by their first 40 bytes."""
    with open(path, "rb") as f:
        data = f.read()
    if len(data) < 18 or data[:2] != b"BM":
        raise ValueError(f"{path}: not a BMP file")
    off, hsize = struct.unpack_from("<II", data, 10)
    if len(data) < 14 + max(hsize, HEADER) or hsize < HEADER:
        raise ValueError(f"{path}: truncated BMP header")
    head = bytearray(data[14:14 + HEADER])
    head[0:4] = struct.pack("<I", HEADER)
    _, width, height, _, bits, compression = struct.unpack_from("<IiiHHI", head)
    clr_used, = struct.unpack_from("<I", head, 32)
    table = _table_length(bits, compression, clr_used)
    # Bit-field masks follow the first 40 bytes whatever the header's length.
    at = 14 + (HEADER if table == 3 and bits > 8 else hsize)
    return from_dib(bytes(head) + data[at:at + 4 * table] + data[off:], **kw)
