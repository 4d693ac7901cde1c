"""vexlib for numpy: the library's operations on numpy arrays.

Arrays of shape (H, W) or (H, W, C) and dtype uint8, int8, uint16, int16 or
int32 are images of depth 8U, 8S, 16U, 16S or 32S; bool arrays of shape
(H, W) are 1-bit images. An array whose rows already follow the library's
row rule (samples contiguous within a row, a positive row stride equal to
the row's bytes rounded up to a multiple of 4 or 8, e.g. any C-contiguous
uint8 array whose row is a multiple of 4 bytes) is handed over without a
copy; any other array (a slice, a transposed or reversed view, odd row
lengths) goes through an aligned copy. Bool arrays always go through a
packed 1-bit copy.

Every operation returns a new array, or writes into `out=` and returns it
(in place when `out` is laid out as above, through a copy written back
otherwise). `roi=(x, y, w, h)` restricts an operation to a region of every
image of the call and `coi=k` to channel k (1-based) where the operation
honours regions and channels; the new array then starts as a copy of the
first source, so what lies outside keeps the source's values.
Neighbourhood operations take `mode=` ('constant', 'nearest', 'reflect',
'wrap'; the library's replicate, reflect and wrap rules) and `cval=` for
the pixels beyond the source's edges.

Layouts: `order='plane'` takes and returns (C, H, W) arrays (plane order),
`origin='bl'` marks the arrays' rows as stored bottom-up, `out_order=` and
`out_origin=` give the destination another layout, and `tiles=(w, h)` hands
the images to the library as tiled images served by a tile callback over
the arrays. `to_dib`, `from_dib`, `translate_dib`, `write_bmp` and
`read_bmp` move pictures to and from device-independent bitmaps.

Failures raise `VexError` with the library's status, status text, function
name and condition text; the thread's status is reset afterwards.
"""
import ctypes as C

import numpy as np

from ._core import (LIBRARY_PATH, STATE_LOCK, IMG, Image, VexColorTwist, VexConvKernel,
                    VexError, VexImage, VexLUT, VexROI, border_code, call, lib)

__all__ = ["VexError", "Image", "OPERATIONS", "version", "define", "LIBRARY_PATH", "STATE_LOCK",
           "VexImage", "VexROI", "VexLUT", "VexConvKernel", "VexColorTwist", "border_code"]

# ------------------------------------------------------------ the op table

REQUIRED = object()


class Operation:
    """One table entry: how a Python function maps onto an exported one.

    images   number of image arguments before the destination (the sources;
             for kind 'inplace' the one image that is changed)
    params   (python name, ctype, default, C name) of the scalar arguments,
             in the C order after the images
    tail     'tile' or 'map': a trailing null selector
    result   f(sources, values) -> (shape, dtype) of a new destination;
             default: the first source's
    window   f(values) -> (rows above, rows below, columns left, columns
             right) the operation reads around a pixel; None: not a
             neighbourhood or pixel-wise operation (no chunked form)
    locked   the operation uses process-wide working state
    alpha_last  the images' alpha channel is their last one unless alpha= says
    space    colour model of the sources when not RGB ("HSV", "HLS")
    passes   f(values) -> number of passes over the image, each reading the
             same border ring of the source (morphology); default 1
    regions  the operation honours roi= and coi=
    """

    def __init__(self, name, cname, kind, images, params=(), tail=None, result=None,
                 window=None, locked=False, regions=True, prepare=None, passes=None, space=None,
                 alpha_last=False, doc=""):
        self.name, self.cname, self.kind, self.images = name, cname, kind, images
        self.params = [p if len(p) == 4 else p + (p[0],) for p in params]
        self.tail, self.result, self.window = tail, result, window
        self.locked, self.regions, self.prepare, self.doc = locked, regions, prepare, doc
        self.passes, self.space, self.alpha_last = passes, space, alpha_last

    def bind(self, args, kw):
        values = {}
        names = [p[0] for p in self.params]
        if len(args) > len(names):
            raise TypeError(f"{self.name}() takes at most {len(names)} scalar arguments")
        for n, v in zip(names, args):
            values[n] = v
        for n in list(kw):
            if n in names:
                if n in values:
                    raise TypeError(f"{self.name}() got multiple values for {n!r}")
                values[n] = kw.pop(n)
        if kw:
            raise TypeError(f"{self.name}() got unexpected arguments {sorted(kw)}")
        for n, _, default, _ in self.params:
            if n not in values:
                if default is REQUIRED:
                    raise TypeError(f"{self.name}() missing argument {n!r}")
                values[n] = default
        return values


OPERATIONS = {}


def _same(sources, values):
    s = sources[0]
    return s.shape, s.dtype


def _pixel_view(a, order):
    """The (H, W) or (H, W, C) view of an array in `order`."""
    return np.moveaxis(a, 0, -1) if order == "plane" and a.ndim == 3 else a


def _in_order(a, order):
    """A new array of the pixel-order array a laid out in `order`."""
    return np.ascontiguousarray(np.moveaxis(a, -1, 0)) if order == "plane" and a.ndim == 3 else a


def _new_dst(op, sources, values, roi, coi, dtype=None, order="pixel", out_order="pixel"):
    views = [_pixel_view(s, order) for s in sources]
    shape, dt = (op.result or _same)(views, values)
    if dtype is not None:
        dt = np.dtype(dtype)
    s = views[0]
    if (roi is not None or coi) and tuple(shape) == s.shape and np.dtype(dt) == s.dtype:
        return _in_order(np.array(s, copy=True), out_order)
    return _in_order(np.zeros(shape, dt), out_order)


def _ctype_values(op, values):
    out = []
    for n, ct, _, _ in op.params:
        v = values[n]
        if ct is C.c_uint:
            v = int(v) & 0xFFFFFFFF
        elif ct is C.c_int:
            v = int(v)
        out.append(ct(v))
    return out


LAYOUT_DEFAULTS = {"order": "pixel", "origin": "tl", "tiles": None, "out_order": None,
                   "out_origin": None}


def _layouts(layout):
    """(source layout, destination layout) keyword sets for Image."""
    src = {k: layout[k] for k in ("order", "origin", "tiles")}
    dst = dict(src)
    if layout.get("out_order") is not None:
        dst["order"] = layout["out_order"]
    if layout.get("out_origin") is not None:
        dst["origin"] = layout["out_origin"]
    return src, dst


def _run(op, sources, out, roi, coi, mode, cval, values, alpha=0, layout=LAYOUT_DEFAULTS):
    fn = getattr(lib, op.cname)
    if not op.regions and (roi is not None or coi):
        raise ValueError(f"{op.name}() works on whole images: no roi= or coi=")
    if op.prepare:
        values = op.prepare([_pixel_view(s, layout["order"]) for s in sources], values)
    src_layout, dst_layout = _layouts(layout)
    imgs = [Image(s, roi, coi, mode, cval, alpha, space=op.space, **src_layout) for s in sources]
    dimg = None
    try:
        args = [i.ptr for i in imgs]
        if op.kind in ("unary", "binary"):
            dimg = Image(out, roi, coi, alpha=alpha, writable=True, **dst_layout)
            args.append(dimg.ptr)
        args += _ctype_values(op, values)
        if op.tail:
            args.append(None)
        call(fn, *args, locked=op.locked)
        if op.kind == "inplace":
            imgs[0].sync()
        else:
            dimg.sync()
    finally:
        for i in imgs + [dimg]:
            if i is not None:
                i.close()
    return imgs, dimg


def _make(op):
    def run(*args, out=None, roi=None, coi=0, mode=None, cval=0, dtype=None, alpha=None, **kw):
        if len(args) < op.images:
            raise TypeError(f"{op.name}() needs {op.images} image argument(s)")
        # order= is the data order when it is a word ('pixel', 'plane'); the
        # geometric operations also take an interpolation order, a number.
        if "order" in kw and not isinstance(kw["order"], str):
            layout = {k: kw.pop(k, d) for k, d in LAYOUT_DEFAULTS.items() if k != "order"}
            layout["order"] = "pixel"
        else:
            layout = {k: kw.pop(k, d) for k, d in LAYOUT_DEFAULTS.items()}
        sources = [np.asarray(a) for a in args[:op.images]]
        first = _pixel_view(sources[0], layout["order"])
        if alpha is None:
            alpha = first.shape[2] if op.alpha_last and first.ndim == 3 else 0
        values = op.bind(args[op.images:], kw)
        if op.kind == "inplace":
            if out is None:
                out = np.array(sources[0], copy=True)
            elif out is not args[0]:
                np.copyto(out, sources[0])
            _run(op, [out], None, roi, coi, mode, cval, values, alpha, layout)
            return out
        if out is None:
            out = _new_dst(op, sources, values, roi, coi, dtype, layout["order"],
                           layout["out_order"] or layout["order"])
        _run(op, sources, out, roi, coi, mode, cval, values, alpha, layout)
        return out

    names = ", ".join("src" if op.images == 1 else f"src{i}" for i in range(op.images))
    sig = ", ".join(f"{p[0]}" + ("" if p[2] is REQUIRED else f"={p[2]!r}") for p in op.params)
    run.__name__ = op.name
    run.__qualname__ = op.name
    run.__doc__ = (f"{op.name}({names}{', ' + sig if sig else ''}, out=None"
                   + (", roi=None, coi=0" if op.regions else "")
                   + (", mode=None, cval=0" if op.window else "")
                   + ", order='pixel', origin='tl', tiles=None)\n\n"
                   + (op.doc or "") + f"\n\nRuns {op.cname}.")
    return run


def define(name, cname, kind="unary", params=(), **options):
    """Adds one operation to the module: `define("blur", "vexBlur", ...)`.
    An exported name the loaded library lacks is left out."""
    if not hasattr(lib, cname):
        return None
    images = options.pop("images", {"unary": 1, "binary": 2, "inplace": 1}[kind])
    op = Operation(name, cname, kind, images, params, **options)
    getattr(lib, cname).restype = None
    OPERATIONS[name] = op
    fn = _make(op)
    globals()[name] = fn
    __all__.append(name)
    return fn


I, U = C.c_int, C.c_uint


def _centre(values, rows="rows", cols="cols"):
    """Default anchors at the window's centre, as the vex tool does."""
    v = dict(values)
    if v.get("anchor_x") is None:
        v["anchor_x"] = (v[cols] - 1) // 2
    if v.get("anchor_y") is None:
        v["anchor_y"] = (v[rows] - 1) // 2
    return v


def _window_reach(values):
    v = _centre(values)
    return (v["anchor_y"], v["rows"] - 1 - v["anchor_y"],
            v["anchor_x"], v["cols"] - 1 - v["anchor_x"])


def _pixelwise(values):
    return (0, 0, 0, 0)


def _morph_reach(per_iteration):
    def reach(values):
        r = per_iteration * int(values["iterations"])
        return (r, r, r, r)
    return reach


WINDOW = [("rows", I, 3, "nRows"), ("cols", I, 3, "nCols"),
          ("anchor_x", I, None, "anchorX"), ("anchor_y", I, None, "anchorY")]

# Data movement, arithmetic, logic, threshold.
define("copy", "vexCopy", tail="tile", window=_pixelwise, doc="Copies the region.")
define("fill", "vexSet", "inplace", [("value", I, REQUIRED, "fillValue")], tail="tile",
       doc="The region set to value.")
define("mirror", "vexMirror", params=[("axis", I, REQUIRED, "flipAxis")], tail="tile",
       doc="axis 0 reverses the rows, 1 the columns, -1 both.")
for _n, _c in (("add", "vexAdd"), ("multiply", "vexMultiply"), ("bitwise_and", "vexAnd"),
               ("bitwise_or", "vexOr"), ("bitwise_xor", "vexXor")):
    define(_n, _c, "binary", tail="tile", window=_pixelwise, doc="Saturating, pixel by pixel.")
define("subtract", "vexSubtract", "binary", [("swap", I, 0, "swapOperands")], tail="tile",
       window=_pixelwise, doc="a - b, saturated (b - a with swap=1).")
define("add_scalar", "vexAddS", params=[("value", I, REQUIRED)], tail="tile", window=_pixelwise)
define("subtract_scalar", "vexSubtractS", params=[("value", I, REQUIRED), ("swap", I, 0, "swapOperands")],
       tail="tile", window=_pixelwise)
define("multiply_scalar", "vexMultiplyS", params=[("value", U, REQUIRED)], tail="tile", window=_pixelwise)
define("square", "vexSquare", tail="tile", window=_pixelwise)
define("absolute", "vexAbs", tail="tile", window=_pixelwise)
define("and_scalar", "vexAndS", params=[("value", U, REQUIRED)], tail="tile", window=_pixelwise)
define("or_scalar", "vexOrS", params=[("value", U, REQUIRED)], tail="tile", window=_pixelwise)
define("xor_scalar", "vexXorS", params=[("value", U, REQUIRED)], tail="tile", window=_pixelwise)
define("invert", "vexNot", tail="tile", window=_pixelwise, doc="Bitwise not.")
define("left_shift", "vexLShiftS", params=[("shift", U, REQUIRED)], tail="tile", window=_pixelwise)
define("right_shift", "vexRShiftS", params=[("shift", U, REQUIRED)], tail="tile", window=_pixelwise)
define("threshold", "vexThreshold", params=[("threshold", I, REQUIRED)], tail="tile",
       window=_pixelwise,
       doc="Samples below threshold become the depth's minimum, the others its maximum.")

# Conversion and colour (whole images; dtype= names the destination depth).
define("convert", "vexConvert", params=[("scale", I, 1, "ConvertMode")], tail="map", regions=False,
       window=_pixelwise,
       doc="Depth conversion into dtype= (bool for 1-bit); scale=1 keeps the high bits when narrowing.")
define("bitonal_to_gray", "vexBitonalToGray", params=[("zero", I, 0, "ZeroScale"), ("one", I, 255, "OneScale")],
       tail="map", regions=False, window=_pixelwise,
       result=lambda s, v: (s[0].shape, np.uint8),
       doc="A bool image expanded: zero for 0 bits, one for 1 bits.")
define("reduce_bits", "vexReduceBits",
       params=[("jitter", I, 0, "jitterType"), ("dither", I, 1, "ditherType"), ("quant_shift", I, 0, "quantShift")],
       tail="map", regions=False, locked=True, result=lambda s, v: (s[0].shape, np.uint8),
       doc="Bit reduction into dtype= (default uint8): dither 1 none, 2 Floyd-Steinberg, 4 Jarvis-Judice-Ninke, 8 Stucki, 16 ordered.")
define("rgb_to_gray", "vexColorToGray", tail="map", regions=False,
       result=lambda s, v: (s[0].shape[:2], s[0].dtype), window=_pixelwise)
define("gray_to_rgb", "vexGrayToColor",
       params=[("red", C.c_float, 0.0, "redWeight"), ("green", C.c_float, 0.0, "greenWeight"),
               ("blue", C.c_float, 0.0, "blueWeight")],
       tail="map", regions=False, result=lambda s, v: (s[0].shape[:2] + (3,), s[0].dtype),
       window=_pixelwise)
for _n, _c, _s in (("rgb_to_hsv", "vexRGB2HSV", None), ("hsv_to_rgb", "vexHSV2RGB", "HSV"),
                   ("rgb_to_hls", "vexRGB2HLS", None), ("hls_to_rgb", "vexHLS2RGB", "HLS")):
    define(_n, _c, tail="map", regions=False, window=_pixelwise, space=_s)

# Scaled multiplication and alpha.
define("multiply_scale", "vexMultiplyScale", "binary", tail="map", window=_pixelwise,
       doc="a x b / M, M the depth's maximum, rounded.")
define("multiply_scale_scalar", "vexMultiplySScale", params=[("value", U, REQUIRED)], tail="map",
       window=_pixelwise)
define("premultiply_alpha", "vexPreMultiplyAlpha", "inplace", [("alpha_value", I, -1, "alphaValue")],
       tail="map", window=_pixelwise, alpha_last=True,
       doc="Colour channels times the alpha channel (alpha= names it; default the last).")
define("composite_constant", "vexAlphaCompositeC", "binary",
       [("op", I, 0, "compositeType"), ("alpha_a", I, -1, "alphaA"), ("alpha_b", I, -1, "alphaB"),
        ("premultiplied", I, 0, "premulAlpha"), ("divide", I, 0, "divideMode")],
       tail="map", window=_pixelwise, alpha_last=True,
       doc="a op b with constant opacities (negative: the images' alpha channels, default the last).")

# Filters.
define("blur", "vexBlur", params=WINDOW, window=_window_reach, locked=True,
       prepare=lambda s, v: _centre(v), doc="Mean of a rows x cols window, fraction cut off.")
for _n, _c in (("maximum_filter", "vexMaxFilter"), ("minimum_filter", "vexMinFilter"),
               ("median_filter", "vexMedianFilter")):
    define(_n, _c, params=WINDOW, tail="map", window=_window_reach, prepare=lambda s, v: _centre(v))
for _n, _c, _k in (("erode", "vexErode", 1), ("dilate", "vexDilate", 1),
                   ("opening", "vexOpen", 2), ("closing", "vexClose", 2)):
    define(_n, _c, params=[("iterations", I, 1, "nIterations")], tail="map",
           window=_morph_reach(_k), passes=lambda v, k=_k: k * int(v["iterations"]),
           doc="3x3 square structuring element, repeated iterations times.")

# Geometry.


def _scaled(sources, values):
    s = sources[0]
    h = s.shape[0] * values["yu"] // values["yl"]
    w = s.shape[1] * values["xu"] // values["xl"]
    return (h, w) + s.shape[2:], s.dtype


GEOM = [("xu", I, REQUIRED, "xU"), ("xl", I, 1, "xL"), ("yu", I, None, "yU"), ("yl", I, None, "yL"),
        ("order", I, 1, "interpolate")]


def _same_factor(sources, values):
    v = dict(values)
    if v["yu"] is None:
        v["yu"], v["yl"] = v["xu"], v["xl"]
    if v["yl"] is None:
        v["yl"] = 1
    return v


def _geom_result(sources, values):
    return _scaled(sources, _same_factor(sources, values))


define("zoom", "vexZoom", params=GEOM, tail="map", result=_geom_result, prepare=_same_factor,
       doc="Enlarges by xu/xl across and yu/yl down (default the same); order 0 nearest, 1 linear, 2 cubic.")
define("decimate", "vexDecimate", params=GEOM, tail="map", result=_geom_result, prepare=_same_factor,
       doc="Shrinks by xu/xl across and yu/yl down (each at most 1).")
define("rotate", "vexRotate",
       params=[("angle", I, REQUIRED), ("x_shift", I, 0, "xShift"), ("y_shift", I, 0, "yShift"),
               ("order", I, 1, "interpolate")],
       tail="map", doc="Rotation by angle hundredths of a degree about (x_shift, y_shift).")

# Transforms (dtype= names the destination depth; default int32).
_int32 = lambda s, v: (s[0].shape, np.int32)  # noqa: E731
define("fft2", "vexRealFft2D", params=[("flags", I, 0x1 | 0x20)], tail="map", result=_int32,
       locked=True, doc="Real image to packed CCS spectrum (flags: VEX_FFT_*; default forward, float engine).")
define("ifft2", "vexCcsFft2D", params=[("flags", I, 0x2 | 0x20)], tail="map", result=_int32,
       locked=True, doc="Packed CCS spectrum to real image (default inverse, scaled, float engine).")
define("dct2", "vexDCT2D", params=[("flags", I, 1)], result=_int32, locked=True,
       doc="Orthonormal 2-D DCT (flags 1 forward, 2 inverse).")
define("idct2", "vexDCT2D", params=[("flags", I, 2)], result=_int32, locked=True)

# ------------------------------------------- operations with their own records


def version():
    """The library's version record as a dict."""
    class _V(C.Structure):
        _fields_ = [("majorVersion", C.c_int), ("minorVersion", C.c_int), ("buildNumber", C.c_int),
                    ("fileName", C.c_char_p), ("versionText", C.c_char_p), ("releaseStamp", C.c_char_p),
                    ("compileDate", C.c_char_p), ("linkage", C.c_char_p)]
    lib.vexGetLibVersion.restype = C.POINTER(_V)
    v = lib.vexGetLibVersion().contents
    return {n: (getattr(v, n).decode() if isinstance(getattr(v, n), bytes) else getattr(v, n))
            for n, _ in _V._fields_}


def _channels(a, order):
    """The channel count of an array in `order`."""
    return _pixel_view(a, order).shape[2] if a.ndim == 3 else 1


def exchange(a, b, roi=None, coi=0, order="pixel", origin="tl", tiles=None):
    """Swaps the regions of a and b in place (vexExchange)."""
    lay = dict(order=order, origin=origin, tiles=tiles)
    ia, ib = Image(a, roi, coi, writable=True, **lay), Image(b, roi, coi, writable=True, **lay)
    lib.vexExchange.restype = None
    call(lib.vexExchange, ia.ptr, ib.ptr, None)
    ia.sync()
    ib.sync()


_OPS = {"over": 0, "in": 1, "out": 2, "atop": 3, "xor": 4, "plus": 5}


def composite(a, b, op="over", alpha_a=None, alpha_b=None, alpha_out=None, premultiplied=False,
              divide=False, out=None, roi=None, coi=0, alpha=None, order="pixel", origin="tl",
              tiles=None):
    """a op b (vexAlphaComposite). Opacities from the arrays alpha_a / alpha_b
    when given, else from the sources' alpha channels (alpha=, default the
    last channel). alpha_out receives the result opacity when given.
    order=, origin=, tiles= as for the table's operations (the opacity
    arrays take origin= and tiles= too)."""
    a, b = np.asarray(a), np.asarray(b)
    al = _channels(a, order) if alpha is None else alpha
    if out is None:
        out = np.array(a, copy=True) if (roi is not None or coi) else np.zeros_like(a)
    lay = dict(order=order, origin=origin, tiles=tiles)
    ia, ib = Image(a, roi, coi, alpha=al, **lay), Image(b, roi, coi, alpha=al, **lay)
    io = Image(out, roi, coi, alpha=al, writable=True, **lay)
    extra = [Image(np.asarray(x), roi, 0, writable=x is alpha_out, origin=origin, tiles=tiles)
             if x is not None else None for x in (alpha_a, alpha_b, alpha_out)]
    lib.vexAlphaComposite.restype = None
    call(lib.vexAlphaComposite, ia.ptr, ib.ptr, io.ptr, _OPS.get(op, op),
         *[e.ptr if e else None for e in extra], int(premultiplied), int(divide), None)
    io.sync()
    if extra[2] is not None:
        extra[2].sync()
    return out


def _luts(channels, keys, values=None, factors=None, interpolate=0):
    recs, keep = [], []
    for c in range(channels):
        k = np.ascontiguousarray(keys[c] if np.ndim(keys) == 2 else keys, np.int32)
        v = np.zeros(len(k), np.int32) if values is None else \
            np.ascontiguousarray(values[c] if np.ndim(values) == 2 else values, np.int32)
        f = np.zeros(len(k), np.int32) if factors is None else \
            np.ascontiguousarray(factors[c] if np.ndim(factors) == 2 else factors, np.int32)
        P = C.POINTER(C.c_int)
        recs.append(VexLUT(len(k), k.ctypes.data_as(P), v.ctypes.data_as(P), f.ctypes.data_as(P),
                           interpolate))
        keep += [k, v, f]
    arr = (C.POINTER(VexLUT) * channels)(*[C.pointer(r) for r in recs])
    return arr, keep


def histogram(a, keys, roi=None, coi=0, order="pixel", origin="tl", tiles=None):
    """Counts of the region's samples per channel in the bins keys[i] <= v <
    keys[i+1] (vexComputeHisto); an array of shape (C, len(keys) - 1)."""
    a = np.asarray(a)
    ch = _channels(a, order)
    arr, keep = _luts(ch, keys)
    img = Image(a, roi, coi, order=order, origin=origin, tiles=tiles)
    lib.vexComputeHisto.restype = None
    call(lib.vexComputeHisto, img.ptr, arr, None)
    return np.stack([keep[3 * c + 1][:-1].copy() for c in range(ch)])


def contrast_stretch(a, keys, values, factors=None, interpolate=False, out=None, roi=None, coi=0,
                     order="pixel", origin="tl", tiles=None):
    """The piecewise mapping of the segments starting at keys with values
    (slopes factors when interpolate) applied per channel (vexContrastStretch)."""
    a = np.asarray(a)
    arr, keep = _luts(_channels(a, order), keys, values, factors, int(bool(interpolate)))
    if out is None:
        out = np.array(a, copy=True) if (roi is not None or coi) else np.zeros_like(a)
    lay = dict(order=order, origin=origin, tiles=tiles)
    si, di = Image(a, roi, coi, **lay), Image(out, roi, coi, writable=True, **lay)
    lib.vexContrastStretch.restype = None
    call(lib.vexContrastStretch, si.ptr, di.ptr, arr, None)
    di.sync()
    return out


def equalize_hist(a, keys=None, out=None, roi=None, coi=0, order="pixel", origin="tl", tiles=None):
    """Histogram equalisation (vexHistoEqualize) from the histogram of the
    region counted in the bins keys (default one bin per level)."""
    a = np.asarray(a)
    ch = _channels(a, order)
    lay = dict(order=order, origin=origin, tiles=tiles)
    if keys is None:
        keys = np.arange((65536 if a.dtype == np.uint16 else 256) + 1)
    counts = histogram(a, keys, roi, coi, **lay)
    arr, keep = _luts(ch, keys, np.concatenate([counts, np.zeros((ch, 1), counts.dtype)], 1))
    if out is None:
        out = np.array(a, copy=True) if (roi is not None or coi) else np.zeros_like(a)
    si, di = Image(a, roi, coi, **lay), Image(out, roi, coi, writable=True, **lay)
    lib.vexHistoEqualize.restype = None
    call(lib.vexHistoEqualize, si.ptr, di.ptr, arr, None)
    di.sync()
    return out


_NORMS = {"inf": 1, "l1": 2, "l2": 4}


def norm(a, b=None, ord="l2", relative=False, roi=None, coi=0, order="pixel", origin="tl", tiles=None):
    """The norm of a, or of a - b (vexNorm): ord 'inf', 'l1' or 'l2';
    relative divides by the norm of b."""
    lay = dict(order=order, origin=origin, tiles=tiles)
    ia = Image(np.asarray(a), roi, coi, **lay)
    ib = Image(np.asarray(b), roi, coi, **lay) if b is not None else None
    t = _NORMS[ord] | (8 if relative else 0)
    lib.vexNorm.argtypes = [IMG, IMG, C.c_int]
    return call(lib.vexNorm, ia.ptr, ib.ptr if ib else None, t)


def _kernel(k, anchor=None, shift=0):
    k = np.asarray(k)
    if k.ndim == 1:
        k = k[None, :]
    rows, cols = k.shape
    ay, ax = anchor if anchor is not None else ((rows - 1) // 2, (cols - 1) // 2)
    vals = (C.c_byte * (rows * cols))(*[int(v) for v in k.ravel()])
    lib.vexCreateConvKernel.restype = C.POINTER(VexConvKernel)
    p = call(lib.vexCreateConvKernel, rows, cols, ax, ay, vals, shift)
    return p


def _free_kernels(ps):
    lib.vexDeleteConvKernel.restype = None
    for p in ps:
        if p:
            lib.vexDeleteConvKernel(p)


def convolve(a, kernels, shift=0, combine=0, anchor=None, out=None, roi=None, coi=0, mode=None, cval=0,
             order="pixel", origin="tl", tiles=None):
    """Integer convolution (vexConvolve2D) with one kernel (a 2-D array of
    int8 entries) or a list merged by combine (0 sum, 1 sum of squares, 2
    root of the sum of squares, 3 maximum, 4 minimum); the rounded sum is
    shifted right by shift; anchor=(row, column), default the centre.
    order=, origin=, tiles= as for the table's operations."""
    a = np.asarray(a)
    ks = [kernels] if np.ndim(kernels) == 2 else list(kernels)
    ps = [_kernel(k, anchor, shift) for k in ks]
    try:
        if out is None:
            out = np.array(a, copy=True) if (roi is not None or coi) else np.zeros_like(a)
        lay = dict(order=order, origin=origin, tiles=tiles)
        si, di = Image(a, roi, coi, mode, cval, **lay), Image(out, roi, coi, writable=True, **lay)
        lib.vexConvolve2D.restype = None
        call(lib.vexConvolve2D, si.ptr, di.ptr, (C.POINTER(VexConvKernel) * len(ps))(*ps), len(ps),
             combine, None)
        di.sync()
    finally:
        _free_kernels(ps)
    return out


def convolve_separable(a, kx, ky, shift_x=0, shift_y=0, out=None, roi=None, coi=0, mode=None, cval=0,
                       order="pixel", origin="tl", tiles=None):
    """Separable convolution (vexConvolveSep2D): kx across, ky down, the sum
    shifted right by shift_x + shift_y."""
    a = np.asarray(a)
    px = _kernel(np.asarray(kx).reshape(1, -1), None, shift_x)
    py = _kernel(np.asarray(ky).reshape(-1, 1), None, shift_y)
    try:
        if out is None:
            out = np.array(a, copy=True) if (roi is not None or coi) else np.zeros_like(a)
        lay = dict(order=order, origin=origin, tiles=tiles)
        si, di = Image(a, roi, coi, mode, cval, **lay), Image(out, roi, coi, writable=True, **lay)
        lib.vexConvolveSep2D.restype = None
        call(lib.vexConvolveSep2D, si.ptr, di.ptr, px, py)
        di.sync()
    finally:
        _free_kernels([px, py])
    return out


def color_twist(a, matrix, scale=0, offset=0, out=None, roi=None, coi=0, order="pixel", origin="tl",
                tiles=None):
    """Applies the 3x4 fixed-point matrix (each value stands for value /
    2**scale) to the first three channels (vexApplyColorTwist)."""
    a = np.asarray(a)
    m = np.zeros(16, np.int64)
    m[:12] = np.asarray(matrix).reshape(-1)[:12]
    data = (C.c_int * 16)(*[int(v) for v in m])
    lib.vexCreateColorTwist.restype = C.POINTER(VexColorTwist)
    tw = call(lib.vexCreateColorTwist, data, scale)
    try:
        if out is None:
            out = np.array(a, copy=True) if (roi is not None or coi) else np.zeros_like(a)
        lay = dict(order=order, origin=origin, tiles=tiles)
        si, di = Image(a, roi, coi, **lay), Image(out, roi, coi, writable=True, **lay)
        lib.vexApplyColorTwist.restype = None
        call(lib.vexApplyColorTwist, si.ptr, di.ptr, tw, offset, None)
        di.sync()
    finally:
        lib.vexDeleteColorTwist(tw)
    return out


__all__ += ["exchange", "composite", "histogram", "contrast_stretch", "equalize_hist", "norm",
            "convolve", "convolve_separable", "color_twist"]

from ._dib import from_dib, read_bmp, to_dib, translate_dib, write_bmp  # noqa: E402

__all__ += ["from_dib", "read_bmp", "to_dib", "translate_dib", "write_bmp"]
