"""The numpy module against the library as the vex tool runs it, against
plain numpy references, and on the layouts numpy can produce."""
import numpy as np
import pytest

import vexlib
from imagefiles import needs_tool, parse_bmp, run_vex, write_png

rng = np.random.default_rng(20261207)

def rand(shape, dtype):
    info = np.iinfo(dtype)
    return rng.integers(info.min, int(info.max) + 1, shape, dtype=dtype)


# ------------------------------------------------- equal to the vex tool


TOOL_CASES = [
    ("sub", ["B"], {"swapOperands": 1}, lambda a, b: vexlib.subtract(a, b, swap=1)),
    ("adds", [], {"value": -40, "roi": "3,2,20,9"},
     lambda a, b: vexlib.add_scalar(a, -40, roi=(3, 2, 20, 9))),
    ("median", [], {"rows": 3, "cols": 5}, lambda a, b: vexlib.median_filter(a, 3, 5)),
    ("erode", [], {"iterations": 2}, lambda a, b: vexlib.erode(a, 2)),
    ("mirror", [], {"flipAxis": -1}, lambda a, b: vexlib.mirror(a, -1)),
    ("dilate", [], {"iterations": 1}, lambda a, b: vexlib.dilate(a)),
    ("open", [], {"iterations": 2}, lambda a, b: vexlib.opening(a, 2)),
    ("close", [], {"iterations": 1}, lambda a, b: vexlib.closing(a)),
    ("max", [], {"rows": 5, "cols": 3}, lambda a, b: vexlib.maximum_filter(a, 5, 3)),
    ("min", [], {"rows": 3, "cols": 3}, lambda a, b: vexlib.minimum_filter(a, 3, 3)),
    ("equalize", [], {}, lambda a, b: vexlib.equalize_hist(a)),
    ("zoom", [], {"factor": "3/2", "interp": "cubic"}, lambda a, b: vexlib.zoom(a, 3, 2, order=2)),
    ("decimate", [], {"factor": "2/3"}, lambda a, b: vexlib.decimate(a, 2, 3)),
    ("rotate", [], {"angle": 3000, "hundredths": None, "cx": 10, "cy": 8},
     lambda a, b: vexlib.rotate(a, 3000, 10, 8)),
    ("gray", [], {"rgb": None}, lambda a, b: vexlib.rgb_to_gray(a)),
    ("hsv", [], {"rgb": None}, lambda a, b: vexlib.rgb_to_hsv(a)),
    ("hls", [], {"rgb": None}, lambda a, b: vexlib.rgb_to_hls(a)),
    ("hsv2rgb", [], {"rgb": None}, lambda a, b: vexlib.hsv_to_rgb(a)),
    ("hls2rgb", [], {"rgb": None}, lambda a, b: vexlib.hls_to_rgb(a)),
    ("twist", [], {"rgb": None, "matrix": "0,0,1,0,0,1,0,0,1,0,0,9", "scale": 0, "offset": 3},
     lambda a, b: vexlib.color_twist(a, [[0, 0, 1, 0], [0, 1, 0, 0], [1, 0, 0, 9]], 0, 3)),
]


@needs_tool
@pytest.mark.parametrize("cmd,inputs,opts,py", TOOL_CASES, ids=[c[0] for c in TOOL_CASES])
def test_equals_vex_tool(tmp_path, cmd, inputs, opts, py):
    opts = dict(opts)
    rgb = "rgb" in opts and opts.pop("rgb") is None
    shape = (17, 29, 3) if rgb else (17, 29)
    a, b = rand(shape, np.uint8), rand(shape, np.uint8)
    write_png(tmp_path / "A.png", a)
    write_png(tmp_path / "B.png", b)
    argv = [cmd, tmp_path / "A.png"] + [tmp_path / f"{n}.png" for n in inputs] + [tmp_path / "out.bmp"]
    for k, v in opts.items():
        argv += [f"--{k}"] + ([] if v is None else [v])
    run_vex(*argv)
    want = py(a, b)
    np.testing.assert_array_equal(want, parse_bmp(tmp_path / "out.bmp"))


# ------------------------------------------------- against numpy references

INTS = [np.uint8, np.int8, np.uint16, np.int16, np.int32]
KERNEL = np.array([[0, 1, 0], [1, 4, 1], [0, 1, 0]])


def sat(v, dtype):
    return np.clip(v, np.iinfo(dtype).min, np.iinfo(dtype).max)


def scale255(t):  # the library's quotient by 255 through shift and add
    return (t + (t >> 8) + 1) >> 8


def window(a, rows, cols, **pad):  # every rows x cols neighbourhood, stacked
    p = np.pad(a.astype(np.int64), ((rows // 2, rows // 2), (cols // 2, cols // 2)) + ((0, 0),) * (a.ndim - 2), **pad)
    return np.stack([p[i:i + a.shape[0], j:j + a.shape[1]] for i in range(rows) for j in range(cols)])


def correlate(a, k, shift, **pad):  # a 3 x 3 kernel, an arithmetic shift, saturated
    w = window(a, 3, 3, **pad)
    return np.clip((np.reshape(k, (9,) + (1,) * a.ndim) * w).sum(0) >> shift, 0, 255)


def threshold_ref(a, b):
    want = a.copy()
    want[3:8, 2:6, 1] = np.where(a[3:8, 2:6, 1] < 5, np.iinfo(a.dtype).min, np.iinfo(a.dtype).max)
    return want


def premultiply_ref(a, b):
    return np.dstack([scale255(a[..., :3].astype(np.int64) * a[..., 3:]), a[..., 3]])


# operation, dtypes, channels (0: a 2-D image), arguments, keywords, reference
# on the sources (a, b); plane order and tiles give the same (test_layout.py).
REFS = [
    ("add", INTS, 3, (), {}, lambda a, b: sat(a.astype(np.int64) + b, a.dtype)),
    ("subtract", INTS, 3, (), {}, lambda a, b: sat(a.astype(np.int64) - b, a.dtype)),
    ("bitwise_xor", INTS, 3, (), {}, lambda a, b: a ^ b),
    ("invert", INTS, 3, (), {}, lambda a, b: ~a),
    ("absolute", [np.int8, np.int16, np.int32], 3, (), {}, lambda a, b: np.where(a == np.iinfo(a.dtype).min, a, abs(a))),
    ("threshold", [np.uint8, np.int16, np.uint16], 3, (5,), {"roi": (2, 3, 4, 5), "coi": 2}, threshold_ref),
    ("multiply_scale", [np.uint8], 4, (), {}, lambda a, b: scale255(a.astype(np.int64) * b)),
    ("premultiply_alpha", [np.uint8], 4, (), {}, premultiply_ref),
    ("gray_to_rgb", [np.uint8], 0, (1.0, 1.0, 1.0), {}, lambda a, b: np.dstack([a] * 3)),
    ("convert", [np.uint16], 0, (), {"dtype": np.uint8, "scale": 1}, lambda a, b: a >> 8),
    ("convert", [np.uint16], 0, (), {"dtype": np.uint8, "scale": 0}, lambda a, b: a & 255),
    # Correlation and convolution agree on symmetric kernels; one shift at the end.
    ("convolve", [np.uint8], 0, (KERNEL,), {"shift": 3}, lambda a, b: correlate(a, KERNEL, 3)),
    ("convolve", [np.uint8], 3, (KERNEL,), {"shift": 3, "mode": "reflect"},
     lambda a, b: correlate(a, KERNEL, 3, mode="symmetric")),
    ("convolve_separable", [np.uint8], 3, ([1, 2, 1], [1, 1, 1], 2, 1), {"mode": "wrap"},
     lambda a, b: correlate(a, np.outer([1, 1, 1], [1, 2, 1]), 3, mode="wrap")),
    ("blur", [np.uint8], 0, (3, 5), {"mode": "constant", "cval": 9},
     lambda a, b: window(a, 3, 5, constant_values=9).sum(0) // 15),
    ("zoom", [np.uint8, np.uint16], 0, (2, 1, 2, 1, 0), {}, lambda a, b: a.repeat(2, 0).repeat(2, 1)),
    ("rotate", [np.uint8], 3, (0,), {}, lambda a, b: a),
] + [(name, [np.uint8], 0, (3, 3), {"mode": mode}, lambda a, b, m=np_mode, f=f: f(window(a, 3, 3, mode=m)))
     for mode, np_mode in [("nearest", "edge"), ("reflect", "symmetric"), ("wrap", "wrap")]
     for name, f in [("maximum_filter", lambda w: w.max(0)), ("median_filter", lambda w: np.sort(w, 0)[4])]]
CASES = [(r, d) for r in REFS for d in r[1]]


@pytest.mark.parametrize("ref,dtype", CASES, ids=[f"{r[0]}-{np.dtype(d).name}" for r, d in CASES])
def test_against_numpy(ref, dtype):
    name, _, ch, args, kw, want = ref
    a, b = (rand((16, 24) + ((ch,) if ch else ()), dtype) for _ in range(2))
    srcs = [a, b][:vexlib.OPERATIONS[name].images] if name in vexlib.OPERATIONS else [a]
    np.testing.assert_array_equal(getattr(vexlib, name)(*srcs, *args, **kw), want(a, b))


def test_composite_and_lookup():
    a, b = rand((5, 8, 4), np.uint8), rand((5, 8, 4), np.uint8)
    a[:, :, 3] = 255
    np.testing.assert_array_equal(vexlib.composite(a, b, "over"), a)  # opaque over
    table = rng.integers(0, 256, 257)
    np.testing.assert_array_equal(vexlib.contrast_stretch(a[..., 0], np.arange(257), table), table[a[..., 0]])


def test_bool_images_are_one_bit():
    m = rng.integers(0, 2, (9, 21)).astype(bool)
    got = vexlib.erode(m, mode="nearest")
    assert got.dtype == np.bool_
    np.testing.assert_array_equal(got, window(m, 3, 3, mode="edge").min(0))
    np.testing.assert_array_equal(vexlib.bitonal_to_gray(m, 0, 255), m.astype(np.uint8) * 255)
    np.testing.assert_array_equal(vexlib.convert(m.astype(np.uint8) * 9, dtype=bool), m)


# ------------------------------------------------- zero-copy and layouts


def test_zero_copy_in_place():
    a = rand((8, 16), np.uint8)
    img = vexlib.Image(a)
    assert not img.copied and img.header.imageData == a.ctypes.data
    before = a.copy()
    out = vexlib.add_scalar(a, 3, out=a)
    assert out is a
    np.testing.assert_array_equal(a, np.minimum(before.astype(int) + 3, 255))


def test_padded_rows_fit_the_row_rule():
    # Rows of 5 samples stored 8 apart (the row rule for align 4 or 8) are used in place.
    store = np.zeros((6, 8), np.uint8)
    view = store[:, :5]
    assert not vexlib.Image(view).copied
    vexlib.fill(view, 7, out=view)
    assert (store[:, :5] == 7).all() and (store[:, 5:] == 0).all()


def test_odd_rows_go_through_a_copy():
    a = rand((5, 7), np.uint8)
    assert vexlib.Image(a).copied
    np.testing.assert_array_equal(vexlib.add_scalar(a, 1, out=a.copy()), np.minimum(a.astype(int) + 1, 255))
    out = np.zeros_like(a)
    vexlib.copy(a, out=out)  # written back from the copy
    np.testing.assert_array_equal(out, a)


VIEWS = {"negative": lambda x: x[::-1, ::-1], "transposed": lambda x: x.transpose(1, 0, 2),
         "strided": lambda x: x[::2, ::3], "column_slice": lambda x: x[:, 3:17]}


@pytest.mark.parametrize("view", VIEWS)
def test_non_contiguous_views(view):
    base = rand((16, 24, 3), np.int16)
    a = VIEWS[view](base)
    assert vexlib.Image(a).copied
    np.testing.assert_array_equal(vexlib.absolute(a), np.where(a == -32768, a, np.abs(a)))
    # out= on a view: the result lands in the base array's memory.
    dst = np.zeros_like(base)
    vexlib.copy(a, out=VIEWS[view](dst))
    np.testing.assert_array_equal(VIEWS[view](dst), a)


# ------------------------------------------------- errors


def test_error_texts_and_reset():
    a, b = rand((4, 8), np.uint8), rand((4, 8), np.uint16)
    out = np.full((4, 8), 5, np.uint8)
    with pytest.raises(vexlib.VexError) as e:
        vexlib.add(a, b, out=out)
    err = e.value
    assert (err.status, err.status_text, err.function) == (-5, "Bad argument", "vexAdd")
    assert err.condition == "(srcImageB->depth != dstImage->depth)"
    assert err.file == "vexadd" and err.line > 0
    assert (out == 5).all()  # the destination is left untouched
    assert vexlib._core.lib.vexGetErrStatus() == 0
    np.testing.assert_array_equal(vexlib.add(a, a), np.minimum(a.astype(int) * 2, 255))


def test_errors_on_another_thread():
    import threading
    caught = []

    def run():
        try:
            vexlib.blur(rand((8, 8), np.uint8), 0, 3)
        except vexlib.VexError as exc:
            caught.append(exc)
    t = threading.Thread(target=run)
    t.start()
    t.join()
    assert len(caught) == 1 and caught[0].function == "vexBlur" and caught[0].status == -5


def test_python_side_checks():
    with pytest.raises(TypeError):
        vexlib.add(np.zeros((4, 4), np.float32), np.zeros((4, 4), np.float32))
    for bad in (lambda: vexlib.copy(np.zeros(4, np.uint8)), lambda: vexlib.blur(np.zeros((4, 4), np.uint8), mode="mirror")):
        with pytest.raises(ValueError):
            bad()


# ------------------------------------------------- other families


def test_transforms_round_trip():
    a = rand((16, 16), np.uint8)
    spectrum = vexlib.fft2(a)
    assert spectrum.dtype == np.int32 and spectrum[0, 0] == a.astype(int).sum()
    # The spectrum is held in integers, so the round trip is within one level.
    np.testing.assert_allclose(vexlib.ifft2(spectrum, dtype=np.uint8), a, atol=1)
    c = vexlib.dct2(a, dtype=np.int16)
    np.testing.assert_allclose(vexlib.idct2(c, dtype=np.uint8), a, atol=1)


def test_histogram_and_norm():
    a = rand((20, 30, 2), np.uint8)
    keys = [0, 64, 128, 192, 256]
    h = vexlib.histogram(a, keys)
    for c in range(2):
        np.testing.assert_array_equal(h[c], np.histogram(a[:, :, c], keys)[0])
    b = rand((20, 30, 2), np.uint8)
    d = a.astype(np.int64) - b
    assert vexlib.norm(a, b, "l1") == np.abs(d).sum()
    assert vexlib.norm(a, b, "inf") == np.abs(d).max()
    assert vexlib.norm(a, ord="l2") == pytest.approx(np.sqrt((a.astype(np.int64) ** 2).sum()))


def test_exchange_and_fill_in_place():
    a, b = rand((7, 8), np.int16), rand((7, 8), np.int16)
    a0, b0 = a.copy(), b.copy()
    vexlib.exchange(a, b, roi=(1, 2, 3, 4))
    want_a, want_b = a0.copy(), b0.copy()
    want_a[2:6, 1:4], want_b[2:6, 1:4] = b0[2:6, 1:4], a0[2:6, 1:4]
    np.testing.assert_array_equal(a, want_a)
    np.testing.assert_array_equal(b, want_b)
    f = vexlib.fill(a, -5, roi=(0, 0, 2, 2))
    assert (f[:2, :2] == -5).all() and (f[2:] == want_a[2:]).all()
