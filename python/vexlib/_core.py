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


VexImage._fields_ = [
    ("headerSize", C.c_int), ("headerId", C.c_int), ("nChannels", C.c_int),
    ("alphaChannel", C.c_int), ("depth", C.c_uint), ("colorSpace", C.c_char * 4),
    ("channelSeq", C.c_char * 4), ("dataOrder", C.c_int), ("origin", C.c_int),
    ("align", C.c_int), ("height", C.c_int), ("width", C.c_int),
    ("roi", C.POINTER(VexROI)), ("maskImage", C.POINTER(VexImage)), ("userData", C.c_void_p),
    ("tileInfo", C.c_void_p), ("dataSize", C.c_int), ("imageData", C.c_void_p),
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


class Image:
    """A VexImage header over an array.

    The header points at the array's own memory when the array's rows are
    laid out as the library requires (pixel order, samples contiguous within
    a row, a positive row stride equal to the row rule for align 4 or 8, the
    start aligned to the sample size). Otherwise it points at an aligned
    copy, and `sync()` writes the copy back into the array after a call that
    changed it. Bool arrays always go through a packed 1-bit copy.
    """

    def __init__(self, array, roi=None, coi=0, mode=None, cval=0, alpha=0, writable=False, space=None):
        a = array
        if a.ndim not in (2, 3):
            raise ValueError(f"image arrays have shape (H, W) or (H, W, C), not {a.shape}")
        if writable and not a.flags.writeable:
            raise ValueError("the output array is read-only")
        self.array = a
        h, w = a.shape[:2]
        ch = a.shape[2] if a.ndim == 3 else 1
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
        if depth != DEPTH_1U:
            item = a.dtype.itemsize
            inner = (a.strides[-1] == item and (a.ndim == 2 or a.strides[1] == ch * item))
            for al in (4, 8):
                if (inner and a.strides[0] == row_step(w, bits, ch, al) and a.flags.aligned
                        and a.strides[0] > 0):
                    self.copied, align = False, al
                    break
        step = row_step(w, bits, ch, align)
        if self.copied:
            # 8-byte aligned storage with the row rule's stride.
            self._store = np.zeros(step * h + 8, np.uint8)
            off = (-self._store.ctypes.data) % 8
            self._store = self._store[off:off + step * h]
            if depth == DEPTH_1U:
                packed = np.packbits(np.asarray(a, bool), axis=1)
                self._store.reshape(h, step)[:, :packed.shape[1]] = packed
            else:
                self._rows(step)[...] = a
            ptr = self._store.ctypes.data
        else:
            ptr = a.ctypes.data
        hd = VexImage()
        hd.headerSize = C.sizeof(VexImage)
        hd.nChannels = ch
        hd.alphaChannel = alpha
        hd.depth = depth
        hd.colorSpace = b"GRAY" if ch == 1 else b"RGB" if ch == 3 else b"RGBA"
        hd.channelSeq = b"GRAY" if ch == 1 else b"RGB" if ch == 3 else b"RGBA"  # numpy habit: RGB(A)
        if space:  # a colour model other than RGB: "HSV", "HLS"
            hd.colorSpace = hd.channelSeq = space.encode().ljust(4, b"\0")[:4]
        hd.align = align
        hd.height, hd.width = h, w
        hd.imageData = ptr
        hd.widthStep = step
        hd.dataSize = step * h
        self.header = hd
        self._roi = None
        if roi is not None or coi:
            x, y, rw, rh = roi if roi is not None else (0, 0, w, h)
            self._roi = VexROI(coi, x, y, rh, rw)
            hd.roi = C.pointer(self._roi)
        if mode is not None:
            lib.vexSetBorderMode(C.byref(hd), border_code(mode), 15, int(cval))
        self.ptr = C.pointer(hd)

    def sync(self):
        """Writes the library's result back into the array (copies only)."""
        if not self.copied:
            return
        h, w, ch = self.shape
        if self.header.depth == DEPTH_1U:
            rows = self._store.reshape(h, self.header.widthStep)
            self.array[...] = np.unpackbits(rows, axis=1, count=w).astype(bool)
        else:
            np.copyto(self.array, self._rows(self.header.widthStep), casting="no")

    def _rows(self, step):
        h, w, ch = self.shape
        a = self.array
        rows = self._store.reshape(h, step)[:, :w * ch * a.dtype.itemsize]
        return rows.view(a.dtype).reshape(a.shape)


BORDER_MODES = {"constant": 0, "nearest": 1, "replicate": 1, "edge": 1,
                "reflect": 2, "symmetric": 2, "wrap": 3}


def border_code(mode):
    if isinstance(mode, int):
        return mode
    try:
        return BORDER_MODES[mode]
    except KeyError:
        raise ValueError(f"unknown border mode {mode!r}; one of {sorted(BORDER_MODES)}") from None
