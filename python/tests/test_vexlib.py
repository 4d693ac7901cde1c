"""The numpy module against the library as the vex tool runs it, against
plain numpy references, and on the layouts numpy can produce."""
import os
import struct
import subprocess

import numpy as np
import pytest

import vexlib

VEX = os.environ.get("VEX_TOOL")
rng = np.random.default_rng(20261207)

DTYPES = [np.uint8, np.int8, np.uint16, np.int16, np.int32]


def rand(shape, dtype):
    info = np.iinfo(dtype)
    return rng.integers(info.min, int(info.max) + 1, shape, dtype=dtype)


# ------------------------------------------------- equal to the vex tool


def write_pnm(path, a):
    magic = b"P6" if a.ndim == 3 else b"P5"
    with open(path, "wb") as f:
        f.write(magic + b"\n%d %d\n255\n" % (a.shape[1], a.shape[0]) + a.tobytes())


def read_bmp(path, channels=1):
    data = open(path, "rb").read()
    off, = struct.unpack_from("<I", data, 10)
    w, h, _, bpp = struct.unpack_from("<iiHH", data, 18)
    assert bpp in (8, 24)
    step = (w * bpp // 8 + 3) // 4 * 4
    rows = np.frombuffer(data, np.uint8, step * abs(h), off).reshape(abs(h), step)[:, :w * bpp // 8]
    if bpp == 8:  # gray through a colour table of BGR0 entries
        hsize, = struct.unpack_from("<I", data, 14)
        table = np.frombuffer(data, np.uint8, (off - 14 - hsize), 14 + hsize).reshape(-1, 4)
        img = table[rows][:, :, 2::-1]
    else:
        img = rows.reshape(abs(h), w, 3)[:, :, ::-1]  # BGR in the file
    img = img[:, :, 0] if channels == 1 else img
    return img[::-1] if h > 0 else img


TOOL_CASES = [
    ("add", ["B"], {}, lambda a, b: vexlib.add(a, b)),
    ("sub", ["B"], {"swapOperands": 1}, lambda a, b: vexlib.subtract(a, b, swap=1)),
    ("threshold", [], {"threshold": 97}, lambda a, b: vexlib.threshold(a, 97)),
    ("adds", [], {"value": -40, "roi": "3,2,20,9"},
     lambda a, b: vexlib.add_scalar(a, -40, roi=(3, 2, 20, 9))),
    ("blur", [], {"rows": 5, "cols": 3}, lambda a, b: vexlib.blur(a, 5, 3)),
    ("median", [], {"rows": 3, "cols": 5}, lambda a, b: vexlib.median_filter(a, 3, 5)),
    ("erode", [], {"iterations": 2}, lambda a, b: vexlib.erode(a, 2)),
    ("mirror", [], {"flipAxis": -1}, lambda a, b: vexlib.mirror(a, -1)),
    ("dilate", [], {"iterations": 1}, lambda a, b: vexlib.dilate(a)),
    ("open", [], {"iterations": 2}, lambda a, b: vexlib.opening(a, 2)),
    ("close", [], {"iterations": 1}, lambda a, b: vexlib.closing(a)),
    ("max", [], {"rows": 5, "cols": 3}, lambda a, b: vexlib.maximum_filter(a, 5, 3)),
    ("min", [], {"rows": 3, "cols": 3}, lambda a, b: vexlib.minimum_filter(a, 3, 3)),
    ("convolve", [], {"kernel": "3x3:1,2,1,2,4,2,1,2,1/4"},
     lambda a, b: vexlib.convolve(a, [[1, 2, 1], [2, 4, 2], [1, 2, 1]], shift=4)),
    ("sepconv", [], {"xkernel": "1,2,1", "ykernel": "1,3,1", "xshift": 2, "yshift": 1},
     lambda a, b: vexlib.convolve_separable(a, [1, 2, 1], [1, 3, 1], 2, 1)),
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


@pytest.mark.skipif(not VEX, reason="VEX_TOOL names the vex program")
@pytest.mark.parametrize("cmd,inputs,opts,py", TOOL_CASES, ids=[c[0] for c in TOOL_CASES])
def test_equals_vex_tool(tmp_path, cmd, inputs, opts, py):
    opts = dict(opts)
    rgb = "rgb" in opts and opts.pop("rgb") is None
    shape = (17, 29, 3) if rgb else (17, 29)
    a, b = rand(shape, np.uint8), rand(shape, np.uint8)
    write_pnm(tmp_path / "A.pnm", a)
    write_pnm(tmp_path / "B.pnm", b)
    argv = [VEX, cmd, str(tmp_path / "A.pnm")] + [str(tmp_path / f"{n}.pnm") for n in inputs]
    argv.append(str(tmp_path / "out.bmp"))
    for k, v in opts.items():
        argv += [f"--{k}"] + ([] if v is None else [str(v)])
    subprocess.run(argv, check=True, capture_output=True)
    want = py(a, b)
    np.testing.assert_array_equal(want, read_bmp(tmp_path / "out.bmp", 3 if want.ndim == 3 else 1))


# ------------------------------------------------- against numpy references


@pytest.mark.parametrize("dtype", DTYPES)
def test_saturating_arithmetic(dtype):
    a, b = rand((9, 13, 3), dtype), rand((9, 13, 3), dtype)
    info = np.iinfo(dtype)
    wide = a.astype(np.int64), b.astype(np.int64)
    np.testing.assert_array_equal(vexlib.add(a, b), np.clip(wide[0] + wide[1], info.min, info.max))
    np.testing.assert_array_equal(vexlib.subtract(a, b), np.clip(wide[0] - wide[1], info.min, info.max))
    np.testing.assert_array_equal(vexlib.bitwise_xor(a, b), a ^ b)
    np.testing.assert_array_equal(vexlib.invert(a), ~a)


@pytest.mark.parametrize("dtype", [np.uint8, np.int16, np.uint16])
def test_threshold_roi_coi(dtype):
    a = rand((11, 10, 3), dtype)
    info = np.iinfo(dtype)
    got = vexlib.threshold(a, 5, roi=(2, 3, 4, 5), coi=2)
    want = a.copy()
    reg = want[3:8, 2:6, 1]
    want[3:8, 2:6, 1] = np.where(reg < 5, info.min, info.max)
    np.testing.assert_array_equal(got, want)


def box_mean(a, rows, cols, ay, ax, cval=0):
    p = np.pad(a.astype(np.int64), ((ay, rows - 1 - ay), (ax, cols - 1 - ax)), constant_values=cval)
    s = sum(p[i:i + a.shape[0], j:j + a.shape[1]] for i in range(rows) for j in range(cols))
    return s // (rows * cols)


@pytest.mark.parametrize("mode,np_mode", [("nearest", "edge"), ("reflect", "symmetric"), ("wrap", "wrap")])
def test_rank_filter_border_modes(mode, np_mode):
    a = rand((12, 15), np.uint8)
    p = np.pad(a, 1, mode=np_mode)
    win = np.stack([p[i:i + 12, j:j + 15] for i in range(3) for j in range(3)])
    np.testing.assert_array_equal(vexlib.maximum_filter(a, 3, 3, mode=mode), win.max(0))
    np.testing.assert_array_equal(vexlib.median_filter(a, 3, 3, mode=mode), np.sort(win, 0)[4])


def test_blur_constant_border():
    a = rand((10, 14), np.uint8)
    np.testing.assert_array_equal(vexlib.blur(a, 3, 5, mode="constant", cval=9), box_mean(a, 3, 5, 1, 2, 9))


def test_bool_images_are_one_bit():
    m = rng.integers(0, 2, (9, 21)).astype(bool)
    p = np.pad(m, 1, mode="edge")
    win = np.stack([p[i:i + 9, j:j + 21] for i in range(3) for j in range(3)])
    got = vexlib.erode(m, mode="nearest")
    assert got.dtype == np.bool_
    np.testing.assert_array_equal(got, win.min(0))
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


@pytest.mark.parametrize("view", ["negative", "transposed", "strided", "column_slice"])
def test_non_contiguous_views(view):
    base = rand((16, 24, 3), np.int16)
    a = {"negative": base[::-1, ::-1], "transposed": base.transpose(1, 0, 2),
         "strided": base[::2, ::3], "column_slice": base[:, 3:17]}[view]
    assert vexlib.Image(a).copied
    np.testing.assert_array_equal(vexlib.absolute(a), np.where(a == -32768, a, np.abs(a)))
    # out= on a view: the result lands in the base array's memory.
    dst = np.zeros_like(base)
    dview = {"negative": dst[::-1, ::-1], "transposed": dst.transpose(1, 0, 2),
             "strided": dst[::2, ::3], "column_slice": dst[:, 3:17]}[view]
    vexlib.copy(a, out=dview)
    np.testing.assert_array_equal(dview, a)


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


def test_threshold_rejects_one_bit():
    with pytest.raises(vexlib.VexError) as e:
        vexlib.threshold(np.zeros((8, 8), bool), 1)
    assert e.value.condition == "(srcImage->depth==1)" and e.value.function == "vexThreshold"


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
    with pytest.raises(ValueError):
        vexlib.copy(np.zeros(4, np.uint8))
    with pytest.raises(ValueError):
        vexlib.blur(np.zeros((4, 4), np.uint8), mode="mirror")


# ------------------------------------------------- other families


def test_geometry_and_transforms_run():
    a = rand((16, 16), np.uint8)
    z = vexlib.zoom(a, 2, order=0)
    np.testing.assert_array_equal(z, a.repeat(2, 0).repeat(2, 1))
    np.testing.assert_array_equal(vexlib.rotate(a, 0), a)
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


def test_convolve_matches_correlation():
    a = rand((10, 12), np.uint8)
    k = np.array([[0, 1, 0], [1, 4, 1], [0, 1, 0]])
    p = np.pad(a.astype(np.int64), 1)
    s = sum(k[i, j] * p[i:i + 10, j:j + 12] for i in range(3) for j in range(3))
    # The kernel's entry over the output pixel is the centre; symmetric, so
    # correlation and convolution agree; an arithmetic shift by 3.
    want = np.clip(s >> 3, 0, 255)
    np.testing.assert_array_equal(vexlib.convolve(a, k, shift=3), want)


def test_scaled_multiplication_and_premultiplied_alpha():
    a, b = rand((6, 9, 4), np.uint8), rand((6, 9, 4), np.uint8)
    def scale(t):  # the library's quotient by 255 through shift and add
        return (t + (t >> 8) + 1) >> 8
    np.testing.assert_array_equal(vexlib.multiply_scale(a, b), scale(a.astype(np.int64) * b))
    p = vexlib.premultiply_alpha(a)
    want = a.copy()
    want[:, :, :3] = scale(a[:, :, :3].astype(np.int64) * a[:, :, 3:])
    np.testing.assert_array_equal(p, want)


def test_composite_opaque_over():
    a, b = rand((5, 8, 4), np.uint8), rand((5, 8, 4), np.uint8)
    a[:, :, 3] = 255
    got = vexlib.composite(a, b, "over")
    np.testing.assert_array_equal(got, a)


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


def test_depth_conversion_and_lookup():
    a = rand((5, 12), np.uint16)
    np.testing.assert_array_equal(vexlib.convert(a, dtype=np.uint8, scale=1), a >> 8)
    np.testing.assert_array_equal(vexlib.convert(a, dtype=np.uint8, scale=0), a & 255)
    b = rand((5, 12), np.uint8)
    table = rng.integers(0, 256, 257)
    got = vexlib.contrast_stretch(b, np.arange(257), table)
    np.testing.assert_array_equal(got, table[b])


def test_gray_to_rgb_unit_weights():
    a = rand((8, 8, 3), np.uint8)
    g = vexlib.gray_to_rgb(a[:, :, 0].copy(), 1.0, 1.0, 1.0)
    np.testing.assert_array_equal(g, np.repeat(a[:, :, :1], 3, 2))
