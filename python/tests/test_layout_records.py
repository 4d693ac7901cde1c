"""The operations with their own records (histogram, stretch, equalisation,
norm, colour twist, compositing, exchange) give on tiled, plane-order and
bottom-left images what they give on the plain ones."""
import numpy as np
import pytest

import vexlib

rng = np.random.default_rng(7)
KEYS = np.arange(0, 257, 16)
LAYOUTS = [dict(tiles=(8, 16)), dict(order="plane"), dict(origin="bl"),
           dict(order="plane", tiles=(16, 8))]


def planes(a):
    return np.ascontiguousarray(np.moveaxis(a, -1, 0))


def run(name, arrays, lay):
    """Calls operation `name` on the arrays laid out as `lay` asks; the
    results come back in pixel order."""
    plane = lay.get("order") == "plane"
    args = [planes(a) if plane else a.copy() for a in arrays]
    a = args[0]

    def pixels(x):
        return np.moveaxis(x, 0, -1) if plane else x

    if name == "histogram":
        return vexlib.histogram(a, KEYS, **lay)
    if name == "contrast_stretch":
        return pixels(vexlib.contrast_stretch(a, KEYS[:-1], 255 - KEYS[:-1], **lay))
    if name == "equalize_hist":
        return pixels(vexlib.equalize_hist(a, **lay))
    if name == "norm":
        return vexlib.norm(a, args[1], "l1", **lay)
    if name == "color_twist":
        return pixels(vexlib.color_twist(a, [[1, 2, 0, 5], [0, 1, 1, -3], [3, 0, 1, 0]], 1, **lay))
    if name == "composite":
        return pixels(vexlib.composite(a, args[1], "atop", **lay))
    vexlib.exchange(a, args[1], **lay)
    return [pixels(x) for x in args]


@pytest.mark.parametrize("lay", LAYOUTS, ids=str)
@pytest.mark.parametrize("name", ["histogram", "contrast_stretch", "equalize_hist", "norm",
                                  "color_twist", "composite", "exchange"])
def test_layouts_agree(name, lay):
    ch = 4 if name == "composite" else 3
    arrays = [rng.integers(0, 256, (37, 45, ch), dtype=np.uint8) for _ in range(2)]
    plain = run(name, arrays, {})
    got = run(name, arrays, lay)
    np.testing.assert_array_equal(np.asarray(got), np.asarray(plain))
