"""Reading: every fixture's textures as arrays equal to the pictures
tplforge-cli decode writes, and the headers as info --json gives them."""

import io
import json
import pathlib

import numpy as np
import pytest
from PIL import Image

import tplforge
from conftest import DATA, cli, picture

FIXTURES = sorted(DATA.glob("*.tpl"))
WRAPS = ["clamp", "repeat", "mirror"]
FILTERS = ["near", "linear", "near_mip_near", "lin_mip_near", "near_mip_lin", "lin_mip_lin"]


def as_rgba(path):
    """A picture tplforge-cli wrote, widened to the RGBA the console samples:
    grey is intensity (also alpha, as I4 and I8 are), RGB is opaque."""
    with Image.open(path) as png:
        mode, pixels = png.mode, np.asarray(png)
    if mode == "L":
        return np.stack([pixels] * 4, axis=-1)
    if mode == "LA":
        return np.stack([pixels[..., 0]] * 3 + [pixels[..., 1]], axis=-1)
    if mode == "RGB":
        return np.concatenate([pixels, np.full(pixels.shape[:2] + (1,), 255, np.uint8)], axis=-1)
    assert mode == "RGBA", f"{path.name}: {mode}"
    return pixels


def test_every_format_has_a_fixture():
    formats = {t.format for path in FIXTURES for t in tplforge.read_tpl(path)}
    assert formats == {"I4", "I8", "IA4", "IA8", "RGB565", "RGB5A3", "RGBA8", "C4", "C8", "C14X2", "CMPR"}


@pytest.mark.parametrize("path", FIXTURES, ids=lambda p: p.stem)
def test_levels_equal_the_cli_pictures(path, tmp_path):
    cli("decode", "--mipmaps", "-q", path, "-o", tmp_path)
    textures = tplforge.read_tpl(path)
    compared = set()
    for k, texture in enumerate(textures):
        assert texture.level_count == len(texture.levels) >= 1
        for level, pixels in enumerate(texture.levels):
            name = path.stem + (f".{k + 1}" if len(textures) > 1 else "") + (f".mip{level}" if level else "") + ".png"
            side = (max(texture.height >> level, 1), max(texture.width >> level, 1))
            assert pixels.dtype == np.uint8 and pixels.shape == side + (4,)
            np.testing.assert_array_equal(pixels, as_rgba(tmp_path / name), err_msg=name)
            compared.add(name)
    assert compared == {p.name for p in tmp_path.iterdir()}


@pytest.mark.parametrize("path", FIXTURES, ids=lambda p: p.stem)
def test_info_is_the_cli_json(path):
    assert tplforge.info(str(path)) == json.loads(cli("info", "--json", path).stdout)


SOURCES = [
    ("str", str, True),
    ("path", pathlib.Path, True),
    ("bytes", lambda p: pathlib.Path(p).read_bytes(), False),
    ("bytearray", lambda p: bytearray(pathlib.Path(p).read_bytes()), False),
    ("memoryview", lambda p: memoryview(pathlib.Path(p).read_bytes()), False),
    ("buffer", lambda p: io.BytesIO(pathlib.Path(p).read_bytes()).getbuffer(), False),
]


@pytest.mark.parametrize("make,is_file", [row[1:] for row in SOURCES], ids=[row[0] for row in SOURCES])
def test_every_kind_of_source_reads_the_same(make, is_file):
    path = str(DATA / "rgba8-mip.tpl")
    want = tplforge.read_tpl(path)[0].levels
    got = tplforge.read_tpl(make(path))[0].levels
    assert len(got) == len(want) == 3
    for a, b in zip(got, want):
        np.testing.assert_array_equal(a, b)
    read = tplforge.info(make(path))
    assert read["textures"] == tplforge.info(path)["textures"]
    assert read["file"] == (path if is_file else None)


# Settings written by the CLI, read back as attributes; the CLI's own JSON says
# what was written.
SAMPLERS = [
    (["-f", "rgb5a3"], dict(format="RGB5A3", palette_format=None, palette_entries=0, level_count=1)),
    (["-f", "c4", "--palette", "ia8", "--wrap", "repeat,mirror"],
     dict(format="C4", palette_format="IA8", wrap_s="repeat", wrap_t="mirror")),
    (["-f", "c8", "--palette", "rgb565", "--mipmaps", "2", "--filter", "near"],
     dict(format="C8", palette_format="RGB565", level_count=3, min_filter="near_mip_near", mag_filter="near")),
    (["-f", "cmpr", "--mipmaps", "auto", "--filter", "near_mip_lin,linear", "--wrap", "mirror"],
     dict(format="CMPR", level_count=3, min_filter="near_mip_lin", mag_filter="linear", wrap_t="mirror")),
]


@pytest.mark.parametrize("args,expected", SAMPLERS, ids=lambda v: " ".join(v) if isinstance(v, list) else "")
def test_attributes_are_the_written_settings(tmp_path, args, expected):
    Image.fromarray(picture(32, 32)).save(tmp_path / "in.png")
    cli("encode", *args, tmp_path / "in.png", "-o", tmp_path / "out.tpl")
    [texture] = tplforge.read_tpl(tmp_path / "out.tpl")
    [written] = json.loads(cli("info", "--json", tmp_path / "out.tpl").stdout)["textures"]
    for name, value in expected.items():
        assert getattr(texture, name) == value, name
    assert (texture.width, texture.height) == (written["width"], written["height"]) == (32, 32)
    assert texture.level_count == written["levels"]
    assert texture.palette_entries == written.get("palette_entries", 0)
    assert [texture.wrap_s, texture.wrap_t] == [WRAPS[written["wrap_s"]], WRAPS[written["wrap_t"]]]
    assert [texture.min_filter, texture.mag_filter] == [FILTERS[written["min_filter"]], FILTERS[written["mag_filter"]]]
    assert (texture.lod_bias, texture.edge_lod, texture.min_lod, texture.max_lod) == (
        written["lod_bias"], written["edge_lod"], written["min_lod"], written["max_lod"])


def test_levels_own_their_pixels():
    first = tplforge.read_tpl(DATA / "cmpr.tpl")[0].levels[0]
    copy = first.copy()
    first[:] = 0  # writable, and no other read sees it
    np.testing.assert_array_equal(tplforge.read_tpl(DATA / "cmpr.tpl")[0].levels[0], copy)
