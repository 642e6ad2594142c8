"""A 1024 x 1024 CMPR encode leaves the interpreter to other threads."""

import pathlib
import sys
import threading
import time

import numpy as np
from PIL import Image

import tplforge

PHOTO = pathlib.Path(__file__).resolve().parents[2] / "bench" / "data" / "photo-1024.png"


def test_cmpr_encode_releases_the_gil():
    with Image.open(PHOTO) as photo:
        pixels = np.asarray(photo.convert("RGBA"))
    assert pixels.shape == (1024, 1024, 4)
    texture = tplforge.TextureInput(pixels, "cmpr")

    # The milliseconds in which the other thread ran Python code.
    ticks = []
    stop = threading.Event()

    def count():
        last = 0.0
        while not stop.is_set():
            now = time.perf_counter()
            if now - last >= 0.001:
                ticks.append(now)
                last = now

    counter = threading.Thread(target=count)
    counter.start()
    while not ticks:
        time.sleep(0.001)
    start = time.perf_counter()
    file = tplforge.encode_tpl(texture, threads=1)  # one core is left for the counter
    end = time.perf_counter()
    stop.set()
    counter.join()

    assert len(file) > 1024 * 1024 // 2
    # Were the GIL held, the other thread could run only around the call's
    # edges, for a few switch intervals at most; in between, not once.
    margin = 10 * sys.getswitchinterval()
    window = [t for t in ticks if start + margin < t < end - margin]
    assert end - start > 4 * margin, f"the encode took {end - start:.3f} s, too short to tell"
    assert len(window) >= 10, f"the other thread ran in {len(window)} ms of {1000 * (end - start - 2 * margin):.0f}"
