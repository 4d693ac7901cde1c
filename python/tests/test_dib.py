"""Bitmaps: to_dib / write_bmp against `vex tobmp`, from_dib / read_bmp
against the vex tool's reading, plain numpy references of the formats, and
the library's error texts."""
import struct

import numpy as np
import pytest

import vexlib
from imagefiles import needs_tool, parse_bmp, run_vex, write_png

rng = np.random.default_rng(53)


def picture(shape, dtype=np.uint8, colours=None):
    if colours is not None:  # a few distinct colours
        table = rng.integers(0, 256, (colours,) + shape[2:], dtype=np.uint8)
        return table[rng.integers(0, colours, shape[:2])]
    if dtype == np.bool_:
        return rng.integers(0, 2, shape).astype(bool)
    return rng.integers(0, np.iinfo(dtype).max + 1, shape, dtype=dtype)


# ------------------------------------------------------ against vex tobmp

TOBMP = [(ch, bits, palette) for ch in (1, 3, 4) for bits in (1, 4, 8)
         for palette in ("mediancut", "fixed")]
TOBMP += [(ch, bits, "mediancut") for ch in (1, 3, 4) for bits in (16, 24, 32)]
TOBMP += [(3, 16, (0xF800, 0x07E0, 0x001F)), (3, 32, (0xFF0000, 0xFF00, 0xFF))]  # bit fields (5-6-5, 8-8-8)


@needs_tool
@pytest.mark.parametrize("ch,bits,palette", TOBMP, ids=[f"c{c}-{b}bit-{p}" for c, b, p in TOBMP])
@pytest.mark.parametrize("dtype", [np.uint8, np.uint16])
def test_write_bmp_equals_vex_tobmp(tmp_path, ch, bits, palette, dtype):
    a = picture((19, 23) + ((ch,) if ch > 1 else ()), dtype)
    write_png(tmp_path / "in.png", a)
    masks = palette if isinstance(palette, tuple) else None
    dither = dtype == np.uint16 and bits == 24
    args = ["--bitfields"] if masks else ["--palette", palette] + (["--dither", "stucki"] if dither else [])
    run_vex("tobmp", tmp_path / "in.png", tmp_path / "vex.bmp", "--bits", bits, *args)
    vexlib.write_bmp(tmp_path / "py.bmp", a, bits=bits, dither=dither,
                     **({"masks": masks} if masks else {"palette": palette}))
    assert (tmp_path / "py.bmp").read_bytes() == (tmp_path / "vex.bmp").read_bytes()


# ------------------------------------------- reading against the vex tool

READS = [((17, 21), np.bool_, 1, None), ((17, 21), np.uint8, 8, "fixed"), ((17, 21, 3), np.uint8, 4, None),
         ((17, 21, 3), np.uint8, 8, None), ((17, 21, 3), np.uint8, 16, None),
         ((17, 21, 3), np.uint8, 24, None), ((17, 21, 4), np.uint8, 32, None),
         ((17, 21), np.uint8, 4, "fixed")]


@needs_tool
@pytest.mark.parametrize("shape,dtype,bits,palette", READS, ids=[f"{r[2]}bit-{len(r[0])}d" for r in READS])
def test_read_bmp_equals_vex_reading(tmp_path, shape, dtype, bits, palette):
    a = picture(shape, dtype)
    vexlib.write_bmp(tmp_path / "in.bmp", a, bits=bits, palette=palette or "mediancut")
    # vex reads every BMP through vexTranslateDIB and vexConvertFromDIB.
    run_vex("copy", tmp_path / "in.bmp", tmp_path / "out.bmp")
    got = vexlib.read_bmp(tmp_path / "in.bmp")
    np.testing.assert_array_equal(got, parse_bmp(tmp_path / "out.bmp"))


# ------------------------------------------------ against numpy references


def test_formats_round_trip():
    a = picture((13, 10, 3))
    np.testing.assert_array_equal(vexlib.from_dib(vexlib.to_dib(a, bits=24)), a)
    # 5-5-5: the top five bits of each sample, shifted back up.
    np.testing.assert_array_equal(vexlib.from_dib(vexlib.to_dib(a, bits=16)), a >> 3 << 3)
    # 5-6-5 bit fields.
    got = vexlib.from_dib(vexlib.to_dib(a, bits=16, masks=(0xF800, 0x07E0, 0x001F)))
    np.testing.assert_array_equal(got, a >> [3, 2, 3] << [3, 2, 3])
    a4 = picture((13, 10, 4))
    np.testing.assert_array_equal(vexlib.from_dib(vexlib.to_dib(a4)), a4)
    # 24 bits hold no alpha: read into four channels it is 0.
    np.testing.assert_array_equal(vexlib.from_dib(vexlib.to_dib(a, bits=24), channels=4)[:, :, 3], 0)
    # Gray from colour, and 16U samples as the 8-bit value x 256.
    wide = a.astype(int)
    gray = (77 * wide[:, :, 2] + 151 * wide[:, :, 1] + 28 * wide[:, :, 0]) >> 8
    bgr = a[:, :, ::-1].copy()
    np.testing.assert_array_equal(vexlib.from_dib(vexlib.to_dib(bgr, bits=24), channels=1), gray)
    np.testing.assert_array_equal(vexlib.from_dib(vexlib.to_dib(a, bits=24), np.uint16), a.astype(np.uint16) * 256)
    m = picture((9, 30), np.bool_)
    np.testing.assert_array_equal(vexlib.from_dib(vexlib.to_dib(m), dtype=bool), m)
    # 16U gray written through its high byte.
    u = picture((7, 9), np.uint16)
    np.testing.assert_array_equal(vexlib.from_dib(vexlib.to_dib(u, palette="fixed")), u >> 8)


def test_fixed_gray_table_and_nearest_level():
    g = picture((12, 16))
    dib = vexlib.to_dib(g, bits=4, palette="fixed")
    table = np.frombuffer(dib, np.uint8, 64, 40).reshape(16, 4)
    np.testing.assert_array_equal(table[:, :3], np.repeat(np.arange(16) * 17, 3).reshape(16, 3))
    want = np.argmin(np.abs(g[:, :, None].astype(int) - np.arange(16) * 17), axis=2) * 17
    img, shared = vexlib.translate_dib(dib)
    assert not shared  # a 4-bit gray ramp is always copied
    np.testing.assert_array_equal(img, want)


def test_median_cut_of_few_colours():
    a = picture((20, 24, 3), colours=5)
    dib = vexlib.to_dib(a, bits=8)
    used, = struct.unpack_from("<I", dib, 32)
    assert used == len(np.unique(a.reshape(-1, 3) >> 2, axis=0)) == 5
    assert len(dib) == 40 + 4 * 5 + 24 * 20
    # Each colour comes back as its top six bits.
    np.testing.assert_array_equal(vexlib.from_dib(dib), a >> 2 << 2)


def test_own_table_and_sharing():
    a = picture((6, 8, 3), colours=3)
    table = np.unique(a.reshape(-1, 3), axis=0)
    dib = vexlib.to_dib(a, bits=4, palette=table)
    np.testing.assert_array_equal(vexlib.from_dib(dib), a)
    expect = {8: False, 24: True, 32: True, 16: False, 4: False}  # 8: a colour table
    for bits, shared in expect.items():
        src = a if bits != 32 else picture((6, 8, 4))
        img, got = vexlib.translate_dib(vexlib.to_dib(src, bits=bits))
        assert got == shared, bits
        assert img.shape[:2] == (6, 8)
    gray, shared = vexlib.translate_dib(vexlib.to_dib(a[:, :, 0].copy(), palette="fixed"))
    assert shared
    np.testing.assert_array_equal(gray, a[:, :, 0])
    bgr, _ = vexlib.translate_dib(vexlib.to_dib(a, bits=24))
    np.testing.assert_array_equal(bgr, a[:, :, ::-1])  # the DIB's own order, blue first


def test_top_down_dib_reads_upright():
    a = picture((5, 8, 3))
    dib = bytearray(vexlib.to_dib(a, bits=24))
    rows = np.frombuffer(bytes(dib[40:]), np.uint8).reshape(5, -1)
    dib[40:] = rows[::-1].tobytes()
    dib[8:12] = struct.pack("<i", -5)
    np.testing.assert_array_equal(vexlib.from_dib(bytes(dib)), a)
    img, _ = vexlib.translate_dib(bytes(dib))
    np.testing.assert_array_equal(img, a[:, :, ::-1])


# --------------------------------------------------------------- errors


def raises(fn, function, condition, status=-5):
    with pytest.raises(vexlib.VexError) as e:
        fn()
    assert (e.value.function, e.value.condition, e.value.status) == (function, condition, status)


def patched(dib, at, fmt, value):
    b = bytearray(dib)
    struct.pack_into(fmt, b, at, value)
    return bytes(b)


def test_error_texts():
    a = picture((6, 8, 3))
    dib = vexlib.to_dib(a, bits=24)
    # The library's own tests hold its texts; here each call hands one on.
    raises(lambda: vexlib.to_dib(picture((6, 8, 5))), "vexConvertToDIB",
           "(image->nChannels <= 0 || image->nChannels > 4)")
    raises(lambda: vexlib.from_dib(patched(dib, 12, "<H", 2)), "vexTranslateDIB", "(dib->biPlanes != 1)")
    raises(lambda: vexlib.from_dib(dib, channels=3, dtype=np.int16), "vexConvertFromDIB", "", -3)
    raises(lambda: vexlib.from_dib(dib, channels=2), "vexConvertFromDIB", "", -3)
    # Sizes the library cannot see are checked before it is called.
    for bad in (lambda: vexlib.from_dib(dib[:-1]), lambda: vexlib.from_dib(dib[:30]),
                lambda: vexlib.to_dib(a, bits=2), lambda: vexlib.to_dib(a, palette="octree")):
        with pytest.raises(ValueError):
            bad()
    # The thread's status is clear afterwards.
    np.testing.assert_array_equal(vexlib.from_dib(dib), a)


def test_headers_the_library_refuses_allocate_nothing_large():
    dib = patched(patched(vexlib.to_dib(picture((4, 4, 3)), bits=24), 0, "<I", 44), 4, "<i", 2**31 - 1)
    raises(lambda: vexlib.from_dib(dib, channels=3), "vexConvertFromDIB",
           "(dib->biSize != sizeof(BITMAPINFOHEADER))")
    raises(lambda: vexlib.translate_dib(dib), "vexTranslateDIB", "(dib->biSize != sizeof(BITMAPINFOHEADER))")
