"""Chunked vexlib operations over dask arrays.

`apply(name, x, *args, **kw)` runs the pixel-wise or neighbourhood operation
`name` of the vexlib module on every chunk of the dask array `x` through
`map_overlap`: each chunk is padded by the rows and columns the operation's
window reaches (taken from the neighbours, or at the image's edges made by
Dask's boundary rule matching the border mode), the operation runs on the
padded chunk in memory, and the padding is trimmed away. The result equals
the in-memory result byte for byte. The tasks are plain functions of numpy
chunks, so the graph runs unchanged on a dask.distributed cluster whose
workers can import vexlib and load libvexlib.so.

Border modes and Dask boundaries: 'constant' (with cval) -> the value
cval, 'nearest' -> 'nearest', 'reflect' (edge pixel repeated) ->
'reflect', 'wrap' -> 'periodic'.
"""
import functools

import numpy as np

import vexlib as _vx

BOUNDARY = {"constant": None, "nearest": "nearest", "replicate": "nearest", "edge": "nearest",
            "reflect": "reflect", "symmetric": "reflect", "wrap": "periodic"}


def overlap(name, *args, **kw):
    """(rows above, rows below, columns left, columns right) the operation
    `name` reads around each pixel with these arguments."""
    op = _vx.OPERATIONS.get(name)
    if op is None or op.window is None:
        raise ValueError(f"{name!r} is not a pixel-wise or neighbourhood operation of vexlib")
    values = op.bind(args, dict(kw))
    return op.window(values)


def _chunk(block, name, args, kw):
    fn = getattr(_vx, name)
    return fn(np.ascontiguousarray(block), *args, **kw)


def apply(name, x, *args, mode="constant", cval=0, **kw):
    """Runs vexlib.<name>(chunk, *args, mode=mode, cval=cval, **kw) over the
    chunks of the 2-D or 3-D dask array x (channels in one chunk) and
    returns a lazy dask array equal to vexlib.<name>(x.compute(), ...)."""
    import dask.array as da

    op = _vx.OPERATIONS.get(name)
    if op is None or op.window is None or op.images != 1 or op.kind not in ("unary", "inplace"):
        raise ValueError(f"{name!r} is not a one-image pixel-wise or neighbourhood operation")
    if op.result is not None:
        shape, dtype = op.result([np.empty((8, 8) + tuple(x.shape[2:]), x.dtype)], op.bind(args, dict(kw)))
        if tuple(shape[:2]) != (8, 8):
            raise ValueError(f"{name!r} changes the image size")
    else:
        dtype = x.dtype
    dtype = np.dtype(kw.get("dtype", dtype))
    if mode not in BOUNDARY:
        raise ValueError(f"unknown border mode {mode!r}; one of {sorted(BOUNDARY)}")
    top, bottom, left, right = op.window(op.bind(args, {k: v for k, v in kw.items() if k != "dtype"}))
    if x.ndim == 3 and len(x.chunks[2]) > 1:
        x = x.rechunk({2: -1})
    boundary = BOUNDARY[mode]
    if boundary is None:
        boundary = cval
    passes = op.passes(op.bind(args, dict(kw))) if op.passes else 1
    if passes > 1:
        # Every pass of a repeated 3x3 operation reads the same ring of
        # source pixels around the image, not the previous pass's result, so
        # padding synthesised at the image's edges would differ from it.
        # There the chunk keeps the true edge and the library applies its
        # own border rule; inside, neighbours' rows give the overlap.
        if mode == "wrap" and (len(x.chunks[0]) > 1 or len(x.chunks[1]) > 1):
            raise ValueError(f"{name!r} with {passes} passes and wrap borders has no chunked form: "
                             "use one chunk per axis or another border mode")
        boundary = "none"
    depth = {0: max(top, bottom), 1: max(left, right)}
    if x.ndim == 3:
        depth[2] = 0
    call_kw = dict(kw, mode=mode, cval=cval) if op.window is not _vx._pixelwise else dict(kw)
    fn = functools.partial(_chunk, name=name, args=args, kw=call_kw)
    if depth[0] == 0 and depth[1] == 0:
        return x.map_blocks(fn, dtype=dtype)
    return x.map_overlap(fn, depth=depth, boundary=boundary, trim=True, dtype=dtype)


def blur(x, rows=3, cols=3, **kw):
    return apply("blur", x, rows, cols, **kw)


def threshold(x, value, **kw):
    return apply("threshold", x, value, **kw)
