"""Tiled images, plane order and the bottom-left origin give the bytes the
untiled, pixel-order, top-left call gives, for every operation of the
module's table and for those with their own records (histogram, stretch,
equalisation, norm, colour twist, compositing, exchange, convolution)."""
import numpy as np
import pytest

import vexlib

rng = np.random.default_rng(31)

# Scalar arguments of the operations that need them; the rest run with
# their defaults.
ARGS = {"fill": (7,), "mirror": (-1,), "add_scalar": (-9,), "subtract_scalar": (5, 1),
        "multiply_scalar": (3,), "and_scalar": (0x5A,), "or_scalar": (0x21,), "xor_scalar": (0x0F,),
        "left_shift": (2,), "right_shift": (3,), "threshold": (100,), "multiply_scale_scalar": (170,),
        "rotate": (3000, 10, 12), "zoom": (3, 2), "decimate": (2, 3), "blur": (5, 3),
        "maximum_filter": (3, 5), "minimum_filter": (5, 3), "median_filter": (3, 3),
        "erode": (2,), "closing": (1,), "reduce_bits": (0, 8)}
TRANSFORMS = {"fft2", "ifft2", "dct2", "idct2"}


def sources(name):
    op = vexlib.OPERATIONS[name]
    if name == "bitonal_to_gray":
        return [rng.integers(0, 2, (37, 45)).astype(bool)]
    if name == "gray_to_rgb":
        return [rng.integers(0, 256, (37, 45), dtype=np.uint8)]
    if name == "reduce_bits":
        return [rng.integers(0, 65536, (37, 45, 3), dtype=np.uint16)]
    if name in TRANSFORMS:
        if name in ("fft2", "dct2"):
            return [rng.integers(0, 256, (32, 64), dtype=np.uint8)]
        return [rng.integers(-300, 300, (32, 64), dtype=np.int32)]
    ch = 4 if op.alpha_last else 3
    return [rng.integers(0, 256, (37, 45, ch), dtype=np.uint8) for _ in range(op.images)]


def planes(a):
    return np.ascontiguousarray(np.moveaxis(a, -1, 0)) if a.ndim == 3 else a


def pixels(a):
    return np.moveaxis(a, 0, -1) if a.ndim == 3 else a


NAMES = sorted(vexlib.OPERATIONS)


@pytest.mark.parametrize("tiles", [(8, 8), (16, 24), (64, 8)])
@pytest.mark.parametrize("name", NAMES)
def test_tiled_equals_untiled(name, tiles):
    src = sources(name)
    fn = getattr(vexlib, name)
    args = ARGS.get(name, ())
    if name in TRANSFORMS:
        # The transforms work on whole untiled images; they say so.
        with pytest.raises(vexlib.VexError) as e:
            fn(*src, *args, tiles=tiles)
        assert e.value.status == -5
        assert e.value.condition in ("srcImage->imageData==0", "Images are not compatible")
        return
    if name == "reduce_bits":
        args = (0, 1)  # error diffusion stays within a tile: only the plain reduction is tile-blind
    want = fn(*src, *args)
    np.testing.assert_array_equal(fn(*src, *args, tiles=tiles), want)


@pytest.mark.parametrize("name", NAMES)
def test_plane_order_equals_pixel_order(name):
    src = sources(name)
    fn = getattr(vexlib, name)
    args = ARGS.get(name, ())
    want = fn(*src, *args)
    got = fn(*[planes(s) for s in src], *args, order="plane")
    np.testing.assert_array_equal(pixels(got), want)
    if name not in TRANSFORMS and name != "reduce_bits":
        got = fn(*[planes(s) for s in src], *args, order="plane", tiles=(16, 8))
        np.testing.assert_array_equal(pixels(got), want)


@pytest.mark.parametrize("name", [n for n in NAMES if n != "rotate"])
def test_bottom_left_origin_keeps_the_stored_rows(name):
    # The array holds the stored rows; operations that do not depend on
    # which row is the top give the same stored rows.
    src = sources(name)
    fn = getattr(vexlib, name)
    args = ARGS.get(name, ())
    np.testing.assert_array_equal(fn(*src, *args, origin="bl"), fn(*src, *args))


def test_rotation_turns_the_picture():
    # A bottom-up image rotates the picture, not its stored rows, about the
    # same centre counted from the picture's top-left corner.
    a = sources("rotate")[0]
    bl = vexlib.rotate(a[::-1].copy(), 3000, 10, 12, origin="bl")
    np.testing.assert_array_equal(bl[::-1], vexlib.rotate(a, 3000, 10, 12))


@pytest.mark.parametrize("dtype", [np.int8, np.int16, np.uint16, np.int32])
def test_conversion_between_layouts(dtype):
    a = rng.integers(np.iinfo(dtype).min, np.iinfo(dtype).max, (21, 19, 3), dtype=dtype)
    p = vexlib.convert(a, out_order="plane")
    assert p.shape == (3, 21, 19)
    np.testing.assert_array_equal(p, planes(a))
    np.testing.assert_array_equal(vexlib.convert(p, order="plane", out_order="pixel", tiles=(8, 8)), a)
    np.testing.assert_array_equal(vexlib.convert(a, out_origin="bl"), a[::-1])
    np.testing.assert_array_equal(vexlib.convert(a, out_origin="bl", tiles=(8, 8)), a[::-1])


def test_plane_order_in_place_without_copy():
    p = np.zeros((3, 16, 20), np.uint8)
    address = p.ctypes.data
    img = vexlib.Image(p, order="plane", writable=True)
    assert not img.copied and img.header.imageData == address and img.header.dataOrder == 1
    vexlib.add_scalar(p, 5, out=p, order="plane", roi=(2, 3, 4, 5), coi=2)
    want = np.zeros_like(p)
    want[1, 3:8, 2:6] = 5
    np.testing.assert_array_equal(p, want)


def test_tile_sizes_are_checked():
    a = sources("copy")[0]
    with pytest.raises(vexlib.VexError) as e:
        vexlib.copy(a, tiles=(12, 8))
    assert e.value.status == -5 and e.value.function == "vexCopy"
    assert "tile" in e.value.condition.lower()
    with pytest.raises(ValueError):
        vexlib.copy(a, order="rows")
    with pytest.raises(ValueError):
        vexlib.copy(a, origin="top")


KEYS = np.arange(0, 257, 16)
LAYOUTS = [dict(tiles=(8, 16)), dict(order="plane"), dict(origin="bl"),
           dict(order="plane", tiles=(16, 8))]


def run_records(name, arrays, lay):
    """Calls operation `name` on the arrays laid out as `lay` asks; the
    results come back in pixel order."""
    plane = lay.get("order") == "plane"
    args = [planes(a) if plane else a.copy() for a in arrays]
    a, back = args[0], pixels if plane else (lambda x: x)
    if name == "histogram":
        return vexlib.histogram(a, KEYS, **lay)
    if name == "contrast_stretch":
        return back(vexlib.contrast_stretch(a, KEYS[:-1], 255 - KEYS[:-1], **lay))
    if name == "equalize_hist":
        return back(vexlib.equalize_hist(a, **lay))
    if name == "norm":
        return vexlib.norm(a, args[1], "l1", **lay)
    if name == "color_twist":
        return back(vexlib.color_twist(a, [[1, 2, 0, 5], [0, 1, 1, -3], [3, 0, 1, 0]], 1, **lay))
    if name == "composite":
        return back(vexlib.composite(a, args[1], "atop", **lay))
    if name == "convolve":
        return back(vexlib.convolve(a, [[1, -2, 3], [2, 5, -1]], shift=2, **lay))
    if name == "convolve_separable":
        return back(vexlib.convolve_separable(a, [1, 2, 3, 2, 1], [1, 4, 1], 3, 1, **lay))
    vexlib.exchange(a, args[1], **lay)
    return [back(x) for x in args]


@pytest.mark.parametrize("lay", LAYOUTS, ids=str)
@pytest.mark.parametrize("name", ["histogram", "contrast_stretch", "equalize_hist", "norm",
                                  "color_twist", "composite", "exchange", "convolve", "convolve_separable"])
def test_records_agree_over_layouts(name, lay):
    ch = 4 if name == "composite" else 3
    arrays = [rng.integers(0, 256, (37, 45, ch), dtype=np.uint8) for _ in range(2)]
    plain = run_records(name, arrays, {})
    got = run_records(name, arrays, lay)
    np.testing.assert_array_equal(np.asarray(got), np.asarray(plain))
