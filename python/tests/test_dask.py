"""The chunked path equals the in-memory path, on threads and on a
dask.distributed cluster of two worker processes."""
import numpy as np
import pytest

import vexlib
import vexlib.dask as vd

da = pytest.importorskip("dask.array")

rng = np.random.default_rng(7)

CASES = [
    ("threshold", (90,), {}),
    ("add_scalar", (-17,), {}),
    ("blur", (5, 3), {}),
    ("blur", (4, 6), {"anchor_x": 0, "anchor_y": 3}),
    ("median_filter", (3, 5), {}),
    ("maximum_filter", (5, 5), {}),
    ("erode", (2,), {}),
    ("opening", (1,), {}),
    ("closing", (2,), {}),
]


@pytest.mark.parametrize("mode", ["constant", "nearest", "reflect", "wrap"])
@pytest.mark.parametrize("name,args,kw", CASES, ids=[f"{c[0]}{c[1]}" for c in CASES])
def test_chunked_equals_in_memory(mode, name, args, kw):
    a = rng.integers(0, 65536, (61, 47, 2), dtype=np.uint16)
    x = da.from_array(a, chunks=(17, 13, 1))
    want = getattr(vexlib, name)(a, *args, mode=mode, cval=300, **kw)
    if mode == "wrap" and vexlib.OPERATIONS[name].passes and \
            vexlib.OPERATIONS[name].passes(vexlib.OPERATIONS[name].bind(args, dict(kw))) > 1:
        with pytest.raises(ValueError):
            vd.apply(name, x, *args, mode=mode, cval=300, **kw)
        return
    got = vd.apply(name, x, *args, mode=mode, cval=300, **kw).compute(scheduler="threads")
    assert got.dtype == want.dtype
    np.testing.assert_array_equal(got, want)


@pytest.mark.parametrize("mode", ["constant", "reflect", "wrap"])
def test_chunked_convolution(mode):
    a = rng.integers(0, 256, (50, 41), dtype=np.uint8)
    x = da.from_array(a, chunks=(12, 15))
    k = [[1, -2, 3, 0, 1], [2, 5, -1, 1, 0]]
    want = vexlib.convolve(a, k, shift=2, anchor=(0, 3), mode=mode, cval=40)
    got = vd.apply("convolve", x, k, shift=2, anchor=(0, 3), mode=mode, cval=40).compute()
    np.testing.assert_array_equal(got, want)
    want = vexlib.convolve_separable(a, [1, 2, 3, 2, 1], [1, 4, 1], 3, 1, mode=mode, cval=40)
    got = vd.apply("convolve_separable", x, [1, 2, 3, 2, 1], [1, 4, 1], 3, 1, mode=mode, cval=40)
    np.testing.assert_array_equal(got.compute(), want)


def test_overlap_from_window():
    assert vd.overlap("convolve", np.ones((2, 5)), anchor=(0, 3)) == (0, 1, 3, 1)
    assert vd.overlap("blur", 5, 3) == (2, 2, 1, 1)
    assert vd.overlap("closing", 2) == (4, 4, 4, 4)
    assert vd.overlap("threshold", 3) == (0, 0, 0, 0)
    with pytest.raises(ValueError):
        vd.overlap("zoom", 2)


def test_distributed_cluster():
    distributed = pytest.importorskip("distributed")
    a = rng.integers(0, 256, (120, 100), dtype=np.uint8)
    x = da.from_array(a, chunks=(40, 50))
    want = vexlib.threshold(vexlib.blur(a, 7, 7, mode="reflect"), 128)
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None, memory_limit="512MB") as cluster, \
            distributed.Client(cluster) as client:
        y = vd.threshold(vd.blur(x, 7, 7, mode="reflect"), 128)
        got = client.compute(y).result()
    np.testing.assert_array_equal(got, want)
