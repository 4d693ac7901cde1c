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


def write_pgm(path, a):
    with open(path, "wb") as f:
        f.write(b"P5\n%d %d\n255\n" % (a.shape[1], a.shape[0]) + a.tobytes())


def read_bmp(path):
    data = open(path, "rb").read()
    off, = struct.unpack_from("<I", data, 10)
    w, h, _, bpp = struct.unpack_from("<iiHH", data, 18)
    assert bpp == 24
    step = (w * 3 + 3) // 4 * 4
    rows = np.frombuffer(data, np.uint8, step * abs(h), off).reshape(abs(h), step)[:, :w * 3]
    img = rows.reshape(abs(h), w, 3)[:, :, 0]
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
]


@pytest.mark.skipif(not VEX, reason="VEX_TOOL names the vex program")
@pytest.mark.parametrize("cmd,inputs,opts,py", TOOL_CASES, ids=[c[0] for c in TOOL_CASES])
def test_equals_vex_tool(tmp_path, cmd, inputs, opts, py):
    a = rand((17, 29), np.uint8)
    b = rand((17, 29), np.uint8)
    write_pgm(tmp_path / "A.pgm", a)
    write_pgm(tmp_path / "B.pgm", b)
    argv = [VEX, cmd, str(tmp_path / "A.pgm")] + [str(tmp_path / f"{n}.pgm") for n in inputs]
    argv.append(str(tmp_path / "out.bmp"))
    for k, v in opts.items():
        argv += [f"--{k}", str(v)]
    subprocess.run(argv, check=True, capture_output=True)
    np.testing.assert_array_equal(py(a, b), read_bmp(tmp_path / "out.bmp"))


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
    spec = vexlib.fft2(a)
    assert spec.dtype == np.int32 and spec[0, 0] == a.astype(int).sum()
    # The spectrum is held in integers, so the round trip is within one level.
    np.testing.assert_allclose(vexlib.ifft2(spec, dtype=np.uint8), a, atol=1)
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
