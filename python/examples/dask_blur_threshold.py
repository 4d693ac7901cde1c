"""Blurs and thresholds an image larger than one worker's memory limit on a
local dask.distributed cluster of two worker processes, then checks a
sample of the result's chunks against the in-memory module.

    PYTHONPATH=python VEXLIB_LIBRARY=build/libvexlib.so /usr/bin/python3 python/examples/dask_blur_threshold.py [SIDE] [OUTDIR] [LIMIT_MIB]

SIDE (default 24000) is the image's height and width in pixels (8-bit);
the result is written chunk row by chunk row into OUTDIR (default
mask-npy); LIMIT_MIB (default 400) is each worker's memory limit."""
import resource
import sys
import time

import dask.array as da
import numpy as np
from distributed import Client, LocalCluster

import vexlib
import vexlib.dask as vd

CHUNK, WINDOW = 2000, 15


def reference(img, y, x):
    """The in-memory result for the chunk at (y, x): the chunk and the
    window's reach around it (clipped to the image, where the border rule
    then applies as it does to the whole image), blurred and thresholded."""
    r = WINDOW // 2
    y0, x0 = max(y - r, 0), max(x - r, 0)
    y1, x1 = min(y + CHUNK + r, img.shape[0]), min(x + CHUNK + r, img.shape[1])
    part = img[y0:y1, x0:x1].compute()
    out = vexlib.threshold(vexlib.blur(part, WINDOW, WINDOW, mode="reflect"), 128)
    return out[y - y0:y - y0 + CHUNK, x - x0:x - x0 + CHUNK]


if __name__ == "__main__":
    side = int(sys.argv[1]) if len(sys.argv) > 1 else 24000
    outdir = sys.argv[2] if len(sys.argv) > 2 else "mask-npy"
    limit = (int(sys.argv[3]) if len(sys.argv) > 3 else 400) * 2**20
    with LocalCluster(n_workers=2, threads_per_worker=1, memory_limit=limit,
                      dashboard_address=None) as cluster, Client(cluster) as client:
        start = time.time()
        img = da.random.RandomState(2026).randint(0, 256, (side, side),
                                                  chunks=(CHUNK, CHUNK)).astype(np.uint8)
        mask = vd.threshold(vd.blur(img, WINDOW, WINDOW, mode="reflect"), 128)
        da.to_npy_stack(outdir, mask)
        done = time.time() - start
        peaks = client.run(lambda: resource.getrusage(resource.RUSAGE_SELF).ru_maxrss)
        result = da.from_npy_stack(outdir)
        above = int((result == 255).sum().compute())
        print(f"{side}x{side} image ({side * side / 2**20:.0f} MiB, worker limit "
              f"{limit / 2**20:.0f} MiB): blurred and thresholded in {done:.1f} s, "
              f"{above} pixels above 128; peak worker memory "
              + ", ".join(f"{kib / 1024:.0f} MiB" for kib in peaks.values()))
        # Corners, edges and inner chunks against the in-memory module.
        last = (side - 1) // CHUNK * CHUNK
        mid = side // 2 // CHUNK * CHUNK
        sample = sorted({(0, 0), (0, last), (last, 0), (last, last), (mid, mid), (0, mid), (mid, last)})
        for y, x in sample:
            got = result[y:y + CHUNK, x:x + CHUNK].compute()
            want = reference(img, y, x)
            if not np.array_equal(got, want):
                sys.exit(f"chunk at row {y}, column {x} differs from the in-memory result")
        print(f"{len(sample)} chunks (corners, edges, centre) equal to the in-memory result")
