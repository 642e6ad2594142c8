"""Every file through one path: read_textures on archives and containers
against the pictures tplforge-cli decode writes, replace_texture inside
archives changing one texture and no other byte, and the package as
`pip install .` puts it in a fresh environment."""

import importlib.util
import os
import pathlib
import shutil
import struct
import subprocess
import sys

import numpy as np
import pytest
from PIL import Image

import tplforge
from conftest import cli, picture

ROOT = pathlib.Path(__file__).resolve().parents[2]
SEEDS = ROOT / "tests" / "fuzz_corpus"
CONTAINERS = ROOT / "tests" / "codec" / "data" / "containers"

# Each file with what read_textures lists for it, in stored order.
FILES = [
    (SEEDS / "path" / "seed-menu.szs",
     ["arc/timg/x.tpl/1", "race/course.szs/inner.tpl/1", "race/model.brres/grass", "race/model.brres/lm_0",
      "race/model.brres/pal"]),
    (SEEDS / "path" / "seed-scene.arc", ["face.bti/1", "model.bmd/1", "model.bmd/2", "model.bmd/3"]),
    (SEEDS / "path" / "seed-opening.bnr",
     ["meta/icon.bin/arc/timg/icon.tpl/1", "meta/banner.bin/arc/timg/x.tpl/1"]),
    (SEEDS / "u8" / "seed-rarc.arc", ["a.bti/1"]),
    (SEEDS / "bti" / "seed-model.bmd", ["1", "2", "3"]),
    (CONTAINERS / "textures.brres", ["grass", "lm_0", "pal"]),
    (CONTAINERS / "face.tex0", ["face"]),
    (CONTAINERS / "c8-mip.bti", ["1"]),
    (ROOT / "tests" / "cli" / "data" / "real" / "sevendays-logo.tpl", ["1"]),
]


def console_view(pixels, texture):
    """A picture decode wrote as read_png gives it, with the alpha of I4 and
    I8, which the console samples from the intensity their grey PNG holds."""
    if texture.format in ("I4", "I8"):
        pixels = pixels.copy()
        pixels[..., 3] = pixels[..., 0]
    return pixels


@pytest.mark.parametrize("path,listed", FILES, ids=[f[0].name for f in FILES])
def test_every_texture_is_what_the_cli_decodes(path, listed, tmp_path):
    textures = tplforge.read_textures(path)
    assert [t.path for t in textures] == listed
    for k, texture in enumerate(textures):
        out = tmp_path / str(k)
        cli("decode", "--mipmaps", "-q", f"{path}/{texture.path}", "-o", out)
        pictures = sorted(out.rglob("*.png"), key=lambda p: int(p.suffixes[-2][4:]) if ".mip" in p.name else 0)
        assert len(pictures) == len(texture.levels) >= 1, texture.path
        for level, (pixels, png) in enumerate(zip(texture.levels, pictures)):
            side = (max(texture.height >> level, 1), max(texture.width >> level, 1))
            assert pixels.dtype == np.uint8 and pixels.shape == side + (4,)
            np.testing.assert_array_equal(pixels, console_view(tplforge.read_png(png), texture),
                                          err_msg=f"{texture.path} level {level}")


def test_textures_say_where_they_are_and_what_sampler_they_keep():
    by_path = {t.path: t for t in tplforge.read_textures(SEEDS / "path" / "seed-menu.szs")}
    tpl, brres = by_path["arc/timg/x.tpl/1"], by_path["race/model.brres/pal"]
    assert (tpl.member, tpl.name, tpl.container) == ("arc/timg/x.tpl", "1", "TPL")
    assert (brres.member, brres.name, brres.container) == ("race/model.brres", "pal", "BRRES")
    assert (brres.format, brres.palette_format, brres.palette_entries) == ("C4", "RGB565", 16)
    assert tpl.wrap_s == "clamp" and tpl.max_lod == 0
    assert brres.wrap_s is brres.min_filter is brres.lod_bias is brres.max_lod is None
    face = tplforge.read_textures(SEEDS / "path" / "seed-scene.arc" / "face.bti")[0]
    assert (face.wrap_s, face.min_filter, face.max_lod) == ("repeat", "linear", None)
    # read_tpl's textures are the same kind, numbered as the file's own.
    logo = ROOT / "tests" / "cli" / "data" / "real" / "sevendays-logo.tpl"
    assert [(t.path, t.member, t.container) for t in tplforge.read_tpl(logo)] == [("1", "", "TPL")]


@pytest.mark.parametrize("inner,listed", [
    ("race", ["race/course.szs/inner.tpl/1", "race/model.brres/grass", "race/model.brres/lm_0",
              "race/model.brres/pal"]),
    ("race/model.brres", ["race/model.brres/grass", "race/model.brres/lm_0", "race/model.brres/pal"]),
    ("race/model.brres/lm_0", ["race/model.brres/lm_0"]),
    ("race/course.szs/inner.tpl/1", ["race/course.szs/inner.tpl/1"]),
])
def test_a_path_into_the_file_gives_what_is_below_it(inner, listed):
    assert [t.path for t in tplforge.read_textures(f"{SEEDS / 'path' / 'seed-menu.szs'}/{inner}")] == listed


def test_a_damaged_member_is_left_out_with_a_warning():
    with pytest.warns(UserWarning, match=r"race/eo/inner\.tpl: texture data runs past the end"):
        textures = tplforge.read_textures(SEEDS / "path" / "crash-a7fb900228cc")
    assert [t.path for t in textures] == ["arc/timg/x.tpl/1"]


# --- Archives' bytes, to see what a replacement left alone ------------------------

def yaz0_payload(data):
    assert data[:4] == b"Yaz0"
    size, out, at = struct.unpack(">I", data[4:8])[0], bytearray(), 16
    while len(out) < size:
        code, at = data[at], at + 1
        for bit in range(7, -1, -1):
            if len(out) >= size:
                break
            if code >> bit & 1:
                out.append(data[at])
                at += 1
                continue
            b0, b1 = data[at], data[at + 1]
            at += 2
            length = (b0 >> 4) + 2
            if b0 >> 4 == 0:
                length, at = data[at] + 0x12, at + 1
            start = len(out) - ((b0 & 0x0F) << 8 | b1) - 1
            for i in range(length):
                out.append(out[start + i])
    return bytes(out)


def u8_members(data):
    """Every file of a U8 archive by its path, with its bytes."""
    assert data[:4] == b"\x55\xaa\x38\x2d"
    table = struct.unpack(">I", data[4:8])[0]
    count = struct.unpack(">I", data[table + 8:table + 12])[0]
    names = table + 12 * count
    members, folders = {}, [(count, "")]
    for i in range(1, count):
        kind_name, first, second = struct.unpack(">III", data[table + 12 * i:table + 12 * i + 12])
        while i >= folders[-1][0]:
            folders.pop()
        start = names + (kind_name & 0xFFFFFF)
        name = data[start:data.index(b"\0", start)].decode()
        path = folders[-1][1] + name
        if kind_name >> 24:
            folders.append((second, path + "/"))
        else:
            members[path] = data[first:first + second]
    return members


REPLACED = [
    ("arc/timg/x.tpl/1", "./arc/timg/x.tpl"),
    ("race/model.brres/lm_0", "./race/model.brres"),
    ("race/course.szs/inner.tpl/1", "./race/course.szs"),
]


def exact_picture(height, width, seed):
    """Opaque colours RGB5A3 holds exactly: its encoding decodes to them."""
    fives = np.random.default_rng(seed).integers(0, 32, (height, width, 3))
    rgb = (fives << 3 | fives >> 2).astype(np.uint8)
    return np.concatenate([rgb, np.full((height, width, 1), 255, np.uint8)], axis=-1)


@pytest.mark.parametrize("texture,member", REPLACED, ids=[r[0] for r in REPLACED])
def test_a_replacement_in_an_archive_changes_that_texture_alone(texture, member, tmp_path):
    source = tmp_path / "menu.szs"
    shutil.copy(SEEDS / "path" / "seed-menu.szs", source)
    original = source.read_bytes()
    before = {t.path: t for t in tplforge.read_textures(source)}
    new = exact_picture(before[texture].height, before[texture].width, seed=len(texture))
    result = tplforge.replace_texture(source, new, texture=texture, output=tmp_path / "out.szs")
    assert (result.changed, result.written) == (1, [str(tmp_path / "out.szs")])
    assert source.read_bytes() == original

    after = {t.path: t for t in tplforge.read_textures(tmp_path / "out.szs")}
    assert list(after) == list(before)
    np.testing.assert_array_equal(after[texture].levels[0], new)
    for path in set(before) - {texture}:
        assert after[path].format == before[path].format
        for a, b in zip(after[path].levels, before[path].levels, strict=True):
            np.testing.assert_array_equal(a, b, err_msg=path)
    members_before = u8_members(yaz0_payload(original))
    members_after = u8_members(yaz0_payload((tmp_path / "out.szs").read_bytes()))
    assert list(members_after) == list(members_before)
    assert [m for m in members_before if members_after[m] != members_before[m]] == [member]


def test_in_place_from_a_picture_file_and_again_with_no_change(tmp_path):
    source = tmp_path / "menu.szs"
    shutil.copy(SEEDS / "path" / "seed-menu.szs", source)
    new = exact_picture(4, 4, seed=7)
    Image.fromarray(new).save(tmp_path / "new.png")
    result = tplforge.replace_texture(f"{source}/race/model.brres/lm_0", tmp_path / "new.png")
    assert (result.changed, result.written, result.notes) == (1, [str(source)], [])
    np.testing.assert_array_equal(tplforge.read_textures(f"{source}/race/model.brres/lm_0")[0].levels[0], new)
    edited = source.read_bytes()
    again = tplforge.replace_texture(source, new, texture="race/model.brres/lm_0")
    assert (again.changed, again.written) == (0, [])
    assert again.notes == ["picture: shows what texture lm_0 holds already; it is kept as it is"]
    assert source.read_bytes() == edited


def test_settings_change_the_texture_as_asked(tmp_path):
    source = tmp_path / "menu.szs"
    shutil.copy(SEEDS / "path" / "seed-menu.szs", source)
    tplforge.replace_texture(source, picture(16, 16, seed=3), texture="race/model.brres/pal", format="c8",
                             palette="rgb5a3", entries=40, mipmaps="auto")
    tplforge.replace_texture(source, picture(16, 16, seed=4), texture="arc/timg/x.tpl/1", format="cmpr",
                             mipmaps=1, wrap=("repeat", "mirror"), filter="near")
    textures = {t.path: t for t in tplforge.read_textures(source)}
    pal, tpl = textures["race/model.brres/pal"], textures["arc/timg/x.tpl/1"]
    assert (pal.format, pal.palette_format, pal.palette_entries, len(pal.levels)) == ("C8", "RGB5A3", 40, 2)
    assert (tpl.format, len(tpl.levels), tpl.wrap_s, tpl.wrap_t) == ("CMPR", 2, "repeat", "mirror")
    # A plain filter also filters between the levels added.
    assert (tpl.min_filter, tpl.mag_filter) == ("near_mip_near", "near")


def test_a_standalone_tex0_gets_its_palette_beside_it(tmp_path):
    for name in ("face.tex0", "face.plt0"):
        shutil.copy(CONTAINERS / name, tmp_path / name)
    result = tplforge.replace_texture(tmp_path / "face.tex0", picture(4, 8, seed=5), palette="ia8",
                                      output=tmp_path / "out.tex0")
    assert result.written == [str(tmp_path / "out.plt0"), str(tmp_path / "out.tex0")]
    face = tplforge.read_textures(tmp_path / "out.tex0")[0]
    assert (face.format, face.palette_format) == ("C8", "IA8")


@pytest.mark.parametrize("path,settings,code,message", [
    ("", {}, "AmbiguousTexture", r"menu\.szs: holds several textures"),
    ("", {"texture": "race/nothing"}, "NoSuchTexture", r"menu\.szs: no texture named race/nothing"),
    ("", {"texture": "race/model.brres/grass", "wrap": "repeat"}, "Refused", "BRRES textures keep theirs"),
    ("/race/model.brres/none", {}, "NoSuchTexture", r"menu\.szs/race/model\.brres/none: no texture named none"),
    ("/arc/timg/x.tpl", {"strict": True}, "TooManyColours", "more colours than"),
])
def test_a_refusal_names_where_and_writes_nothing(path, settings, code, message, tmp_path):
    source = tmp_path / "menu.szs"
    shutil.copy(SEEDS / "path" / "seed-menu.szs", source)
    many = picture(4, 8, seed=9)
    if settings.get("strict"):
        settings = {**settings, "format": "c4"}
    with pytest.raises(tplforge.TextureFileError, match=message) as raised:
        tplforge.replace_texture(f"{source}{path}", many, **settings)
    assert raised.value.code == code
    assert source.read_bytes() == (SEEDS / "path" / "seed-menu.szs").read_bytes()
    assert sorted(p.name for p in tmp_path.iterdir()) == ["menu.szs"]


def test_what_python_refuses_before_reading():
    menu = SEEDS / "path" / "seed-menu.szs"
    arr = picture(4, 8)
    with pytest.raises(ValueError, match="quality 'great'"):
        tplforge.replace_texture(menu, arr, texture=1, quality="great")
    with pytest.raises(ValueError, match="entries is 1 to 16384"):
        tplforge.replace_texture(menu, arr, texture=1, entries=0)
    with pytest.raises(TypeError, match="texture is a name"):
        tplforge.replace_texture(menu, arr, texture=True)
    with pytest.raises(TypeError, match="unexpected keyword|incompatible"):
        tplforge.replace_texture(menu, arr, colour="red")
    with pytest.raises(FileNotFoundError):
        tplforge.replace_texture(menu, "no-such-picture.png", texture="arc/timg/x.tpl/1")
    with pytest.raises(tplforge.TextureFileError, match="cannot read") as raised:
        tplforge.read_textures(menu.with_name("no-such.szs"))
    assert raised.value.code == "CannotRead"


# --- pip install . -----------------------------------------------------------------

def test_pip_install_builds_a_package_that_imports_from_anywhere(tmp_path):
    for needed in ("venv", "ensurepip"):
        if importlib.util.find_spec(needed) is None:
            pytest.skip(f"this Python has no {needed} (Debian: python3-venv)")
    env = tmp_path / "env"
    made = subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", env], capture_output=True, text=True)
    if made.returncode != 0:
        pytest.skip(f"python -m venv failed: {made.stderr.strip()}")
    python = env / "bin" / "python"
    if subprocess.run([python, "-m", "pip", "--version"], capture_output=True).returncode != 0:
        pytest.skip("the new environment has no pip")
    quiet = {**os.environ, "PIP_NO_INDEX": "1", "PIP_DISABLE_PIP_VERSION_CHECK": "1"}
    quiet.pop("PYTHONPATH", None)
    built = subprocess.run([python, "-m", "pip", "install", "--no-build-isolation", "--no-deps", ROOT],
                           capture_output=True, text=True, env=quiet)
    assert built.returncode == 0, built.stdout[-3000:] + built.stderr[-3000:]

    away = tmp_path / "away"
    away.mkdir()
    check = ("import sys, tplforge; print(tplforge.__file__); "
             "print(tplforge.__version__, [t.path for t in tplforge.read_textures(sys.argv[1])])")
    ran = subprocess.run([python, "-c", check, SEEDS / "path" / "seed-scene.arc"], capture_output=True, text=True,
                         cwd=away, env=quiet)
    assert ran.returncode == 0, ran.stderr
    where, listed = ran.stdout.splitlines()
    assert pathlib.Path(where).is_relative_to(env)
    assert listed == f"{tplforge.__version__} ['face.bti/1', 'model.bmd/1', 'model.bmd/2', 'model.bmd/3']"
    assert (pathlib.Path(where).parent / "__init__.pyi").is_file()
    assert (pathlib.Path(where).parent / "py.typed").is_file()
