"""Blurs and thresholds an image larger than one worker's memory limit on a
local dask.distributed cluster of two worker processes.

    PYTHONPATH=python VEXLIB_LIBRARY=build/libvexlib.so /usr/bin/python3 python/examples/dask_blur_threshold.py [SIDE] [OUTDIR]

SIDE (default 24000) is the image's height and width in pixels (8-bit);
the result is written chunk row by chunk row into OUTDIR (default mask-npy)."""
import sys
import time

import dask.array as da
import numpy as np
from distributed import Client, LocalCluster

import vexlib.dask as vd

if __name__ == "__main__":
    side = int(sys.argv[1]) if len(sys.argv) > 1 else 24000
    outdir = sys.argv[2] if len(sys.argv) > 2 else "mask-npy"
    limit = 400 * 2**20
    with LocalCluster(n_workers=2, threads_per_worker=1, memory_limit=limit,
                      dashboard_address=None) as cluster, Client(cluster):
        start = time.time()
        img = da.random.randint(0, 256, (side, side), chunks=(2000, 2000)).astype(np.uint8)
        mask = vd.threshold(vd.blur(img, 15, 15, mode="reflect"), 128)
        da.to_npy_stack(outdir, mask)
        above = int((da.from_npy_stack(outdir) == 255).sum().compute())
        print(f"{side}x{side} image ({side * side / 2**20:.0f} MiB, worker limit "
              f"{limit / 2**20:.0f} MiB): {above} pixels above 128 after the blur, "
              f"{time.time() - start:.1f} s")
