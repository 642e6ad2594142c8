"""Encoding: arrays into the same bytes as tplforge-cli encode of the same
picture with the same options."""

import warnings

import numpy as np
import pytest
from PIL import Image

import tplforge
from conftest import cli, picture

MAGENTA = (255, 0, 255)


def keyed(height, width):
    """An opaque picture holding patches of magenta, to be keyed out."""
    pixels = picture(height, width, channels=3, seed=7)
    pixels[2:5, 1:6] = MAGENTA
    pixels[-1, -1] = MAGENTA
    return pixels


# id, the array, the module's settings, the CLI's options for the same.
CASES = [
    ("rgb565-default-partial", picture(10, 13), {}, []),
    ("i4-grey-partial", picture(21, 37, channels=1), dict(format="i4"), ["-f", "i4"]),
    ("i8-mipmaps", picture(32, 64, channels=1, seed=1), dict(format="I8", mipmaps=2), ["-f", "i8", "--mipmaps", "2"]),
    ("ia4", picture(7, 9, seed=2), dict(format="ia4"), ["-f", "ia4"]),
    ("ia8-rgb", picture(12, 12, channels=3, seed=3), dict(format="ia8"), ["-f", "ia8"]),
    ("rgb5a3-wrap-filter", picture(17, 30, seed=4), dict(format="rgb5a3", wrap="repeat,mirror", filter="near"),
     ["-f", "rgb5a3", "--wrap", "repeat,mirror", "--filter", "near"]),
    ("rgba8-auto-pair-filter", picture(64, 64, seed=5), dict(format="rgba8", mipmaps="auto", filter=("lin_mip_near", "near")),
     ["-f", "rgba8", "--mipmaps", "auto", "--filter", "lin_mip_near,near"]),
    ("rgba8-mipmaps-past-what-fits", picture(8, 16, seed=5), dict(format="rgba8", mipmaps=10),
     ["-f", "rgba8", "--mipmaps", "10"]),
    ("c4-ia8-few-colours", picture(12, 24, colours=9), dict(format="c4", palette="ia8"),
     ["-f", "c4", "--palette", "ia8"]),
    ("c4-rgb5a3-quantized-dither", picture(16, 16, seed=6), dict(format="c4", dither=True), ["-f", "c4", "--dither"]),
    ("c8-rgb565-best", picture(20, 33, seed=8), dict(format="c8", palette="rgb565", quality="best"),
     ["-f", "c8", "--palette", "rgb565", "--quality", "best"]),
    ("c8-fast-dither-mipmaps", picture(32, 32, seed=9), dict(format="c8", quality="fast", dither=True, mipmaps=1),
     ["-f", "c8", "--quality", "fast", "--dither", "--mipmaps", "1"]),
    ("c14x2-partial", picture(19, 21, seed=10), dict(format="c14x2"), ["-f", "c14x2"]),
    ("cmpr-one-pixel", picture(1, 1, seed=11), dict(format="cmpr"), ["-f", "cmpr"]),
    ("cmpr-best", picture(16, 16, seed=12), dict(format="cmpr", quality="best"), ["-f", "cmpr", "--quality", "best"]),
    ("cmpr-fast-auto-mirror", picture(64, 128, seed=13), dict(format="CMPR", quality="fast", mipmaps="auto", wrap="mirror"),
     ["-f", "cmpr", "--quality", "fast", "--mipmaps", "auto", "--wrap", "mirror"]),
    ("cmpr-partial-key-hex", keyed(27, 22), dict(format="cmpr", alpha_key="FF00ff"), ["-f", "cmpr", "-a", "ff00ff"]),
    ("rgb5a3-key-tuple", keyed(8, 8), dict(format="rgb5a3", alpha_key=MAGENTA), ["-f", "rgb5a3", "-a", "ff00ff"]),
    ("rgb565-mipmaps-not-power-of-two", picture(24, 40, seed=14), dict(mipmaps=2), ["--mipmaps", "2"]),
]


def save(pixels, path):
    Image.fromarray(np.ascontiguousarray(pixels)).save(path)


@pytest.mark.parametrize("pixels,settings,args", [c[1:] for c in CASES], ids=[c[0] for c in CASES])
def test_bytes_equal_the_cli(tmp_path, pixels, settings, args):
    save(pixels, tmp_path / "in.png")
    run = cli("encode", *args, tmp_path / "in.png", "-o", tmp_path / "cli.tpl")
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        texture = tplforge.TextureInput(pixels, **settings)
    assert tplforge.encode_tpl([texture]) == (tmp_path / "cli.tpl").read_bytes()
    # The same warnings as the CLI's, about the same things.
    assert len(caught) == run.stderr.count("warning:"), [str(w.message) for w in caught]


@pytest.mark.parametrize("view", ["flipped", "every-other-column", "fortran-order", "channels-last-transposed"])
def test_any_strides_give_the_bytes_of_the_same_picture(tmp_path, view):
    base = picture(24, 20, seed=15)
    pixels = {
        "flipped": base[::-1],
        "every-other-column": np.concatenate([base, base], axis=1)[:, ::2],
        "fortran-order": np.asfortranarray(base),
        "channels-last-transposed": np.ascontiguousarray(base.transpose(1, 0, 2)).transpose(1, 0, 2),
    }[view]
    assert not pixels.flags.c_contiguous or view == "flipped"
    save(pixels, tmp_path / "in.png")
    cli("encode", "-f", "rgba8", tmp_path / "in.png", "-o", tmp_path / "cli.tpl")
    assert tplforge.encode_tpl(tplforge.TextureInput(pixels, "rgba8")) == (tmp_path / "cli.tpl").read_bytes()


def test_several_textures_in_one_file(tmp_path):
    pictures = [picture(16, 16, seed=20), picture(8, 32, channels=3, seed=21), picture(13, 5, channels=1, seed=22)]
    for k, pixels in enumerate(pictures):
        save(pixels, tmp_path / f"{k}.png")
    cli("encode", "-f", "cmpr", "--mipmaps", "auto", tmp_path / "0.png", "-f", "c8", "--palette", "ia8", "--wrap",
        "repeat", tmp_path / "1.png", "-f", "rgb565", "--mipmaps", "0", "--wrap", "clamp", tmp_path / "2.png",
        "-o", tmp_path / "cli.tpl")
    # The CLI's settings hold until changed: the second picture has mipmaps too.
    inputs = [tplforge.TextureInput(pictures[0], "cmpr", mipmaps="auto"),
              tplforge.TextureInput(pictures[1], "c8", palette="ia8", wrap="repeat", mipmaps="auto"),
              pictures[2]]  # a bare array takes the defaults
    expected = (tmp_path / "cli.tpl").read_bytes()
    assert tplforge.encode_tpl(inputs) == expected
    assert tplforge.encode_tpl(inputs, threads=1) == expected
    tplforge.write_tpl(tmp_path / "module.tpl", inputs)
    assert (tmp_path / "module.tpl").read_bytes() == expected
    assert [t.format for t in tplforge.read_tpl(expected)] == ["CMPR", "C8", "RGB565"]


def test_settings_read_back_as_resolved():
    texture = tplforge.TextureInput(picture(32, 64), "CMPR", mipmaps=9, filter="linear", wrap=("mirror", "repeat"),
                                    alpha_key="00ff00", quality="best")
    assert (texture.format, texture.palette, texture.quality, texture.dither) == ("CMPR", "RGB5A3", "best", False)
    assert (texture.width, texture.height, texture.level_count) == (64, 32, 3)  # stops at one 8 x 8 block
    assert (texture.wrap_s, texture.wrap_t, texture.min_filter, texture.mag_filter) == (
        "mirror", "repeat", "lin_mip_lin", "linear")
    assert texture.alpha_key == (0, 255, 0)


def test_the_picture_is_taken_when_the_input_is_made():
    pixels = picture(8, 8, seed=30)
    texture = tplforge.TextureInput(pixels, "rgba8")
    before = tplforge.encode_tpl(texture)
    pixels[:] = 0
    assert tplforge.encode_tpl(texture) == before != tplforge.encode_tpl(tplforge.TextureInput(pixels, "rgba8"))
