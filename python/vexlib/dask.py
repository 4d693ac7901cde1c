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


def _kernel_reach(k, anchor):
    k = np.asarray(k)
    k = k[None, :] if k.ndim == 1 else k
    r, c = k.shape
    ay, ax = anchor if anchor is not None else ((r - 1) // 2, (c - 1) // 2)
    return (ay, r - 1 - ay, ax, c - 1 - ax)


def _convolve_reach(kernels, *args, anchor=None, **kw):
    ks = [kernels] if np.ndim(kernels) == 2 else list(kernels)
    reach = [_kernel_reach(k, anchor) for k in ks]
    return tuple(max(r[i] for r in reach) for i in range(4))


def _separable_reach(kx, ky, *args, **kw):
    x = _kernel_reach(np.asarray(kx).reshape(1, -1), None)
    y = _kernel_reach(np.asarray(ky).reshape(-1, 1), None)
    return (y[0], y[1], x[2], x[3])


# Neighbourhood operations of the module that take records of their own
# (kernels) rather than being entries of vexlib.OPERATIONS.
KERNEL_WINDOWS = {"convolve": _convolve_reach, "convolve_separable": _separable_reach}


def overlap(name, *args, **kw):
    """(rows above, rows below, columns left, columns right) the operation
    `name` reads around each pixel with these arguments."""
    if name in KERNEL_WINDOWS:
        return KERNEL_WINDOWS[name](*args, **kw)
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
    if mode not in BOUNDARY:
        raise ValueError(f"unknown border mode {mode!r}; one of {sorted(BOUNDARY)}")
    if x.ndim == 3 and len(x.chunks[2]) > 1:
        x = x.rechunk({2: -1})
    if name in KERNEL_WINDOWS:
        top, bottom, left, right = KERNEL_WINDOWS[name](*args, **kw)
        return _overlap(x, name, args, dict(kw, mode=mode, cval=cval), (top, bottom, left, right),
                        BOUNDARY[mode] if BOUNDARY[mode] is not None else cval, x.dtype)
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
    reach = op.window(op.bind(args, {k: v for k, v in kw.items() if k != "dtype"}))
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
    return _overlap(x, name, args, dict(kw, mode=mode, cval=cval), reach, boundary, dtype)


def _overlap(x, name, args, call_kw, reach, boundary, dtype):
    top, bottom, left, right = reach
    # Symmetric depth: the larger reach on both sides of each axis.
    depth = {0: max(top, bottom), 1: max(left, right)}
    if x.ndim == 3:
        depth[2] = 0
    fn = functools.partial(_chunk, name=name, args=args, kw=call_kw)
    if depth[0] == 0 and depth[1] == 0:
        return x.map_blocks(fn, dtype=dtype)
    return x.map_overlap(fn, depth=depth, boundary=boundary, trim=True, dtype=dtype)


def blur(x, rows=3, cols=3, **kw):
    return apply("blur", x, rows, cols, **kw)


def threshold(x, value, **kw):
    return apply("threshold", x, value, **kw)
