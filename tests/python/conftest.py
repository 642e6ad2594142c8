"""What the Python module's tests share: the built tplforge-cli, the fixture
files, and pictures made from a seed."""

import os
import pathlib
import subprocess

import numpy as np
import pytest

DATA = pathlib.Path(__file__).resolve().parents[1] / "codec" / "data" / "formats"


def cli(*args):
    """Runs the built tplforge-cli; its stderr, or a failure with it."""
    program = os.environ.get("TPLFORGE_CLI")
    if not program:
        pytest.fail("TPLFORGE_CLI names no tplforge-cli (CTest sets it)")
    done = subprocess.run([program, *map(str, args)], capture_output=True, text=True)
    if done.returncode != 0:
        pytest.fail(f"tplforge-cli {' '.join(map(str, args))} failed:\n{done.stderr}")
    return done


def picture(height, width, channels=4, seed=0, colours=None):
    """A photo-like picture: gradients, noise and, with 4 channels, alpha from
    fully transparent through partial to opaque. With `colours`, only that many
    distinct colours."""
    rng = np.random.default_rng(seed)
    y, x = np.mgrid[0:height, 0:width]
    rise = np.stack([x * 255 // max(width - 1, 1), y * 255 // max(height - 1, 1),
                     (x + y) * 255 // max(width + height - 2, 1), 255 - x * 255 // max(width - 1, 1)], axis=-1)
    pixels = np.clip(rise + rng.integers(-40, 41, rise.shape), 0, 255).astype(np.uint8)
    if colours is not None:
        palette = rng.integers(0, 256, (colours, 4), dtype=np.uint8)
        pixels = palette[rng.integers(0, colours, (height, width))]
    if channels == 4:
        pixels[::5, ::3, 3] = 0
        pixels[1::7, :, 3] = 255
        return pixels
    if channels == 3:
        return np.ascontiguousarray(pixels[..., :3])
    return np.ascontiguousarray(pixels[..., 0])
