"""Loading of libvexlib, the records it exchanges, error capture, and the
conversion between numpy arrays and image headers."""
import ctypes as C
import ctypes.util
import glob
import os
import threading

import numpy as np

# ----------------------------------------------------------------- loading


def _candidates():
    env = os.environ.get("VEXLIB_LIBRARY")
    if env:
        yield env
    here = os.path.dirname(os.path.abspath(__file__))
    yield from sorted(glob.glob(os.path.join(here, "libvexlib.so*")))
    try:  # written by the CMake install: the installed library's path
        from . import _installed  # noqa: F401
        yield _installed.LIBRARY
    except ImportError:
        pass
    # Source tree: python/vexlib -> <root>/build/<config>/libvexlib.so
    root = os.path.dirname(os.path.dirname(here))
    yield os.path.join(root, "build", "libvexlib.so")
    for config in ("release", "portable", "debug"):
        yield os.path.join(root, "build", config, "libvexlib.so")
    yield from sorted(glob.glob(os.path.join(root, "build", "*", "libvexlib.so")))
    found = ctypes.util.find_library("vexlib")
    if found:
        yield found
    yield "libvexlib.so.1"


def _load():
    tried = []
    for path in _candidates():
        if os.path.sep in path and not os.path.exists(path):
            continue
        try:
            return C.CDLL(path), path
        except OSError as exc:
            tried.append(f"{path}: {exc}")
    raise ImportError("libvexlib.so not found; set VEXLIB_LIBRARY to its path"
                      + ("".join("\n  " + t for t in tried)))


lib, LIBRARY_PATH = _load()

# ----------------------------------------------------------------- records


class VexROI(C.Structure):
    _fields_ = [("coi", C.c_int), ("xOffset", C.c_int), ("yOffset", C.c_int),
                ("height", C.c_int), ("width", C.c_int)]


class VexImage(C.Structure):
    pass


TILE_CALLBACK = C.CFUNCTYPE(None, C.POINTER(VexImage), C.c_int, C.c_int, C.c_int)


class VexTileInfo(C.Structure):
    _fields_ = [("callBack", TILE_CALLBACK), ("id", C.c_int), ("tileData", C.c_void_p),
                ("width", C.c_int), ("height", C.c_int)]


VexImage._fields_ = [
    ("headerSize", C.c_int), ("headerId", C.c_int), ("nChannels", C.c_int),
    ("alphaChannel", C.c_int), ("depth", C.c_uint), ("colorSpace", C.c_char * 4),
    ("channelSeq", C.c_char * 4), ("dataOrder", C.c_int), ("origin", C.c_int),
    ("align", C.c_int), ("height", C.c_int), ("width", C.c_int),
    ("roi", C.POINTER(VexROI)), ("maskImage", C.POINTER(VexImage)), ("userData", C.c_void_p),
    ("tileInfo", C.POINTER(VexTileInfo)), ("dataSize", C.c_int), ("imageData", C.c_void_p),
    ("widthStep", C.c_int), ("borderMode", C.c_int * 4), ("borderValue", C.c_int * 4),
    ("dataBlock", C.c_void_p)]


class VexConvKernel(C.Structure):
    _fields_ = [("nRows", C.c_int), ("nCols", C.c_int), ("anchorX", C.c_int),
                ("anchorY", C.c_int), ("nShiftR", C.c_int), ("values", C.POINTER(C.c_byte))]


class VexColorTwist(C.Structure):
    _fields_ = [("data", C.c_int * 16), ("scalingValue", C.c_int)]


class VexLUT(C.Structure):
    _fields_ = [("num", C.c_int), ("key", C.POINTER(C.c_int)), ("value", C.POINTER(C.c_int)),
                ("factor", C.POINTER(C.c_int)), ("interpolate", C.c_int)]


IMG = C.POINTER(VexImage)
REPORT = C.CFUNCTYPE(C.c_int, C.c_int, C.c_char_p, C.c_char_p, C.c_char_p, C.c_int)

lib.vexGetErrStatus.restype = C.c_int
lib.vexSetErrStatus.argtypes = [C.c_int]
lib.vexSetErrMode.argtypes = [C.c_int]
lib.vexRedirectError.restype = C.c_void_p
lib.vexRedirectError.argtypes = [REPORT]
lib.vexErrorStr.restype = C.c_char_p
lib.vexErrorStr.argtypes = [C.c_int]
lib.vexNorm.restype = C.c_double

# ------------------------------------------------------------------ errors

VEX_StsOk, VEX_StsBackTrace, VEX_StsAutoTrace = 0, -1, -8
VEX_ErrModeParent = 1


class VexError(RuntimeError):
    """A failure the library reported.

    status      the status code (VEX_Sts*, negative)
    status_text the library's text of the status ("Bad argument", ...)
    function    the exported function that reported ("vexAdd")
    condition   the library's condition text ("(srcImage->depth!=dstImage->depth)")
    file, line  the library source name and line of the check
    trail       further reports of the same call (trail entries)
    """

    def __init__(self, status, function, condition, file="", line=0, trail=()):
        self.status = status
        self.status_text = lib.vexErrorStr(status).decode("latin-1")
        self.function = function
        self.condition = condition
        self.file = file
        self.line = line
        self.trail = list(trail)
        super().__init__(f"{function}: {condition} ({self.status_text}, status {status})")


_tls = threading.local()


def _dec(b):
    return b.decode("latin-1") if b is not None else ""


def _report(status, func, context, file, line):
    # Runs inside the library: only records, never raises, never asks.
    reports = getattr(_tls, "reports", None)
    if reports is not None:
        reports.append((status, _dec(func), _dec(context), _dec(file), line))
    return status


# One callback object for the whole process; keeping it here keeps the
# trampoline alive for as long as the library may call it.
_REPORT_FN = REPORT(_report)


def _prepare():
    """Installs the module's report function in Parent mode on the calling
    thread (contexts are per thread) and clears the sticky status."""
    if not getattr(_tls, "installed", False):
        lib.vexRedirectError(_REPORT_FN)
        lib.vexSetErrMode(VEX_ErrModeParent)
        _tls.installed = True
    _tls.reports = []
    lib.vexSetErrStatus(0)


def _finish():
    """Raises VexError when the call left a negative status; resets it."""
    status = lib.vexGetErrStatus()
    reports, _tls.reports = _tls.reports, []
    if status >= 0:
        return
    lib.vexSetErrStatus(0)
    primary = [r for r in reports if r[0] not in (VEX_StsBackTrace, VEX_StsAutoTrace)]
    if primary:
        s, func, context, file, line = primary[0]
        raise VexError(status, func, context, file, line, reports)
    raise VexError(status, "", "", "", 0, reports)


# Operations with process-wide working state (blur parameters, FFT and DCT
# tables, jitter tables) must not overlap; they run under this lock.
STATE_LOCK = threading.Lock()


def call(fn, *args, locked=False):
    _prepare()
    try:
        if locked:
            with STATE_LOCK:
                result = fn(*args)
        else:
            result = fn(*args)
    except BaseException:
        lib.vexSetErrStatus(0)
        _tls.reports = []
        raise
    _finish()
    return result


# ------------------------------------------------------------ array images

DEPTHS = {
    np.dtype(np.uint8): 8, np.dtype(np.int8): 0x80000008,
    np.dtype(np.uint16): 16, np.dtype(np.int16): 0x80000010,
    np.dtype(np.int32): 0x80000020,
}
DEPTH_1U = 1


def row_step(width, bits, channels, align):
    """The library's row rule: the row's bits rounded up to a multiple of
    align bytes."""
    a = align * 8
    return ((width * bits * channels + a - 1) // a * a) // 8


ORDERS = {"pixel": 0, "plane": 1}
ORIGINS = {"tl": 0, "bl": 1}


def aligned_bytes(n):
    """A zeroed uint8 array of n bytes whose start is 8-byte aligned."""
    store = np.zeros(n + 8, np.uint8)
    off = (-store.ctypes.data) % 8
    return store[off:off + n]


def _layout(shape, plane):
    """(height, width, channels) of an array of this shape and order."""
    if len(shape) == 2:
        return shape[0], shape[1], 1
    if plane:
        return shape[1], shape[2], shape[0]
    return shape[0], shape[1], shape[2]


def _rows_view(buf, shape, dtype, step, plane):
    """The array of `shape` (the caller's layout) stored in the uint8 rows
    `buf` of `step` bytes each by the library's layout rules. Bool arrays
    have no such view (1-bit rows are packed)."""
    h, w, ch = _layout(shape, plane)
    item = np.dtype(dtype).itemsize
    if plane and len(shape) == 3:
        return buf.reshape(ch, h, step)[:, :, :w * item].view(dtype)
    return buf.reshape(h, step)[:, :w * ch * item].view(dtype).reshape(shape)


def _store_rows(buf, step, block, plane):
    """Writes block (the caller's layout) into the rows buf."""
    if block.dtype == np.bool_:
        packed = np.packbits(block, axis=1)
        buf.reshape(-1, step)[:packed.shape[0], :packed.shape[1]] = packed
    else:
        _rows_view(buf, block.shape, block.dtype, step, plane)[...] = block


def _load_rows(buf, step, shape, dtype, plane):
    """The array of `shape` held in the rows buf (a copy for bool)."""
    if np.dtype(dtype) == np.bool_:
        rows = buf.reshape(-1, step)[:shape[0]]
        return np.unpackbits(rows, axis=1, count=shape[1]).astype(bool)
    return _rows_view(buf, shape, dtype, step, plane)


# Tiled images of the calls running now, by their tiling record's id.
_TILED = {}
_TILED_LOCK = threading.Lock()
_next_tile_id = [0]


def _tile_callback(image, x_index, y_index, mode):
    # Runs inside the library: never raises. A tile it cannot make is left
    # undelivered (tileData null), and the library reports that.
    try:
        info = image.contents.tileInfo.contents
        _TILED[info.id]._tile(info, x_index, y_index, mode)
    except Exception:  # noqa: BLE001
        if mode != 4:
            image.contents.tileInfo.contents.tileData = None


_TILE_CALLBACK_FN = TILE_CALLBACK(_tile_callback)


class Image:
    """A VexImage header over an array.

    order='pixel' (default): arrays of shape (H, W) or (H, W, C), channels
    interleaved; order='plane': arrays of shape (C, H, W), one plane per
    channel. origin='tl' (default) or 'bl' only names the header's origin:
    the array holds the rows as they are stored, so with 'bl' row 0 of the
    array is the picture's bottom row.

    The header points at the array's own memory when the array is laid out
    as the library requires (samples contiguous within a row, a positive row
    stride equal to the row rule for align 4 or 8, planes one after the
    other, the start aligned to the sample size). Otherwise it points at an
    aligned copy, and `sync()` writes the copy back into the array after a
    call that changed it. Bool arrays always go through a packed 1-bit copy.

    tiles=(width, height) makes the header a tiled image (no pixel buffer):
    the library asks the module's tile callback for each tile, which copies
    the tile out of the array, and writes the tiles it gets back for
    writing into the array (width and height multiples of 8).
    """

    def __init__(self, array, roi=None, coi=0, mode=None, cval=0, alpha=0, writable=False, space=None,
                 order="pixel", origin="tl", tiles=None):
        a = array
        if a.ndim not in (2, 3):
            raise ValueError(f"image arrays have shape (H, W), (H, W, C) or, in plane order, (C, H, W), "
                             f"not {a.shape}")
        if writable and not a.flags.writeable:
            raise ValueError("the output array is read-only")
        if order not in ORDERS:
            raise ValueError(f"unknown data order {order!r}; 'pixel' or 'plane'")
        if origin not in ORIGINS:
            raise ValueError(f"unknown origin {origin!r}; 'tl' or 'bl'")
        self.array = a
        self.plane = order == "plane" and a.ndim == 3
        h, w, ch = _layout(a.shape, self.plane)
        if a.dtype == np.bool_:
            if ch != 1:
                raise ValueError("bool (1-bit) images have one channel")
            depth, bits = DEPTH_1U, 1
        elif a.dtype in DEPTHS:
            depth, bits = DEPTHS[a.dtype], a.dtype.itemsize * 8
        else:
            raise TypeError(f"dtype {a.dtype} has no image depth "
                            "(bool, uint8, int8, uint16, int16, int32)")
        self.shape = (h, w, ch)
        self.copied = True
        align = 4
        row_channels = 1 if self.plane else ch
        if depth != DEPTH_1U and tiles is None:
            item = a.dtype.itemsize
            if self.plane:
                inner = a.strides[2] == item and a.strides[0] == a.strides[1] * h
                row_stride = a.strides[1]
            else:
                inner = a.strides[1] == ch * item and (a.ndim == 2 or a.strides[2] == item)
                row_stride = a.strides[0]
            for al in (4, 8):
                if (inner and row_stride == row_step(w, bits, row_channels, al) and a.flags.aligned
                        and row_stride > 0):
                    self.copied, align = False, al
                    break
        step = row_step(w, bits, row_channels, align)
        self.step = step
        hd = VexImage()
        self.tiles = None
        if tiles is not None:
            tw, th = (tiles, tiles) if isinstance(tiles, int) else tiles
            self.tiles = (int(tw), int(th))
            self.copied = False
            self._lent = {}
            with _TILED_LOCK:
                _next_tile_id[0] += 1
                self._tile_id = _next_tile_id[0]
                _TILED[self._tile_id] = self
            self._info = VexTileInfo(_TILE_CALLBACK_FN, self._tile_id, None, self.tiles[0], self.tiles[1])
            hd.tileInfo = C.pointer(self._info)
            ptr = None
        elif self.copied:
            self._store = aligned_bytes(step * h * (ch if self.plane else 1))
            _store_rows(self._store, step, a, self.plane)
            ptr = self._store.ctypes.data
        else:
            ptr = a.ctypes.data
        hd.headerSize = C.sizeof(VexImage)
        hd.nChannels = ch
        hd.alphaChannel = alpha
        hd.depth = depth
        hd.colorSpace = b"GRAY" if ch == 1 else b"RGB" if ch == 3 else b"RGBA"
        hd.channelSeq = b"GRAY" if ch == 1 else b"RGB" if ch == 3 else b"RGBA"  # numpy habit: RGB(A)
        if space:  # a colour model other than RGB: "HSV", "HLS"
            hd.colorSpace = hd.channelSeq = space.encode().ljust(4, b"\0")[:4]
        hd.dataOrder = ORDERS[order]
        hd.origin = ORIGINS[origin]
        hd.align = align
        hd.height, hd.width = h, w
        hd.imageData = ptr
        hd.widthStep = step
        hd.dataSize = 0 if tiles is not None else step * h * (ch if self.plane else 1)
        self.header = hd
        self._roi = None
        if roi is not None or coi:
            x, y, rw, rh = roi if roi is not None else (0, 0, w, h)
            self._roi = VexROI(coi, x, y, rh, rw)
            hd.roi = C.pointer(self._roi)
        if mode is not None:
            lib.vexSetBorderMode(C.byref(hd), border_code(mode), 15, int(cval))
        self.ptr = C.pointer(hd)

    def _part(self, xi, yi):
        """The array's view of tile (xi, yi), clipped to the image."""
        tw, th = self.tiles
        y, x = yi * th, xi * tw
        if self.plane:
            return self.array[:, y:y + th, x:x + tw]
        return self.array[y:y + th, x:x + tw]

    def _tile(self, info, xi, yi, mode):
        tw, th = self.tiles
        h, w, ch = self.shape
        step = row_step(tw, 1 if self.array.dtype == np.bool_ else self.array.dtype.itemsize * 8,
                        1 if self.plane else ch, self.header.align)
        if mode == 4:
            buf, write = self._lent.pop(info.tileData)
            info.tileData = None  # taken back: the pixel-wise walk checks this
            if write:
                part = self._part(xi, yi)
                full = (ch, th, tw) if self.plane else (th, tw) + self.array.shape[2:]
                block = _load_rows(buf, step, full, self.array.dtype, self.plane)
                part[...] = block[:, :part.shape[1], :part.shape[2]] if self.plane \
                    else block[:part.shape[0], :part.shape[1]]
            return
        if not (0 <= xi * tw < w and 0 <= yi * th < h):
            info.tileData = None
            return
        buf = aligned_bytes(step * th * (ch if self.plane else 1))
        part = self._part(xi, yi)
        if self.array.dtype == np.bool_:
            _store_rows(buf, step, part, False)
        else:
            full = (ch, th, tw) if self.plane else (th, tw) + self.array.shape[2:]
            view = _rows_view(buf, full, self.array.dtype, step, self.plane)
            if self.plane:
                view[:, :part.shape[1], :part.shape[2]] = part
            else:
                view[:part.shape[0], :part.shape[1]] = part
        self._lent[buf.ctypes.data] = (buf, mode == 2)  # kept alive until released
        info.tileData = buf.ctypes.data

    def close(self):
        """Forgets the tiling record (tiled images); safe to call twice."""
        if self.tiles is not None:
            with _TILED_LOCK:
                _TILED.pop(self._tile_id, None)

    def __del__(self):
        try:
            self.close()
        except Exception:  # noqa: BLE001 (interpreter shutdown)
            pass

    def sync(self):
        """Writes the library's result back into the array (copies only)."""
        if not self.copied:
            return
        np.copyto(self.array, _load_rows(self._store, self.step, self.array.shape, self.array.dtype,
                                         self.plane), casting="no")


BORDER_MODES = {"constant": 0, "nearest": 1, "replicate": 1, "edge": 1,
                "reflect": 2, "symmetric": 2, "wrap": 3}


def border_code(mode):
    if isinstance(mode, int):
        return mode
    try:
        return BORDER_MODES[mode]
    except KeyError:
        raise ValueError(f"unknown border mode {mode!r}; one of {sorted(BORDER_MODES)}") from None
