"""What the module refuses, and how: the library's errors as tplforge.Error
subclasses with the value's name, OS errors as OSError, bad arguments as
TypeError or ValueError."""

import pickle
import struct
import warnings

import numpy as np
import pytest

import tplforge
from conftest import DATA, picture

FIXTURE = (DATA / "c4-ia8.tpl").read_bytes()
PNG = next(DATA.glob("*.png")).read_bytes()
RGBA = picture(8, 8)


def patched(offset, value):
    """The C4 fixture with one big-endian word changed."""
    return FIXTURE[:offset] + struct.pack(">I", value) + FIXTURE[offset + 4:]


# id, the call (given a scratch folder), the exception, the error value's name.
CASES = [
    ("empty-tpl", lambda d: tplforge.read_tpl(b""), tplforge.TplError, "TooShort"),
    ("tpl-cut-in-its-table", lambda d: tplforge.read_tpl(FIXTURE[:19]), tplforge.TplError, "TableOutOfBounds"),
    ("tpl-cut-in-a-header", lambda d: tplforge.read_tpl(FIXTURE[:40]), tplforge.TplError, "HeaderOutOfBounds"),
    ("tpl-cut-in-its-texels", lambda d: tplforge.read_tpl(FIXTURE[:-1]), tplforge.TplError, "DataOutOfBounds"),
    ("info-of-a-cut-tpl", lambda d: tplforge.info(FIXTURE[:40]), tplforge.TplError, "HeaderOutOfBounds"),
    ("not-a-tpl", lambda d: tplforge.read_tpl(PNG), tplforge.TplError, "BadSignature"),
    ("no-textures", lambda d: tplforge.read_tpl(patched(4, 0)), tplforge.TplError, "NoTextures"),
    ("palette-past-the-end", lambda d: tplforge.read_tpl(patched(16, len(FIXTURE) - 4)), tplforge.TplError,
     "PaletteOutOfBounds"),
    ("missing-file", lambda d: tplforge.read_tpl(d / "none.tpl"), FileNotFoundError, None),
    ("folder-as-tpl", lambda d: tplforge.info(str(d)), IsADirectoryError, None),
    ("write-into-missing-folder", lambda d: tplforge.write_tpl(d / "no" / "x.tpl", RGBA), FileNotFoundError, None),
    ("source-of-no-kind", lambda d: tplforge.read_tpl(42), TypeError, None),
    ("not-a-png", lambda d: tplforge.read_png(FIXTURE), tplforge.PngError, "NotPng"),
    ("png-cut-short", lambda d: tplforge.read_png(PNG[:60]), tplforge.PngError, "Corrupt"),
    ("targa-too-short", lambda d: tplforge.read_targa(b"\0" * 17), tplforge.TargaError, "TooShort"),
    ("no-textures-to-write", lambda d: tplforge.encode_tpl([]), tplforge.TplWriteError, "NoTextures"),
    ("empty-picture", lambda d: tplforge.encode_tpl(np.zeros((0, 4, 4), np.uint8)), tplforge.TplWriteError,
     "EmptyPicture"),
    ("side-past-32767", lambda d: tplforge.encode_tpl(np.zeros((1, 32768), np.uint8)), tplforge.TplWriteError,
     "SideTooLarge"),
    ("texture-of-no-kind", lambda d: tplforge.encode_tpl(["a.png"]), TypeError, None),
    ("textures-of-no-kind", lambda d: tplforge.encode_tpl(3), TypeError, None),
    ("float-picture", lambda d: tplforge.TextureInput(RGBA.astype(np.float32)), TypeError, None),
    ("list-picture", lambda d: tplforge.TextureInput([[0, 0, 0, 0]]), TypeError, None),
    ("two-channels", lambda d: tplforge.TextureInput(RGBA[..., :2]), ValueError, None),
    ("one-row-of-bytes", lambda d: tplforge.TextureInput(RGBA.ravel()), ValueError, None),
    ("four-dimensions", lambda d: tplforge.TextureInput(RGBA[None]), ValueError, None),
    ("bad-format", lambda d: tplforge.TextureInput(RGBA, "dxt1"), ValueError, None),
    ("bad-palette", lambda d: tplforge.TextureInput(RGBA, "c8", palette="rgba8"), ValueError, None),
    ("bad-quality", lambda d: tplforge.TextureInput(RGBA, quality="max"), ValueError, None),
    ("mipmaps-past-10", lambda d: tplforge.TextureInput(RGBA, mipmaps=11), ValueError, None),
    ("negative-mipmaps", lambda d: tplforge.TextureInput(RGBA, mipmaps=-1), ValueError, None),
    ("mipmaps-word", lambda d: tplforge.TextureInput(RGBA, mipmaps="all"), ValueError, None),
    ("mipmaps-float", lambda d: tplforge.TextureInput(RGBA, mipmaps=1.5), TypeError, None),
    ("bad-wrap", lambda d: tplforge.TextureInput(RGBA, wrap="spiral"), ValueError, None),
    ("bad-second-wrap", lambda d: tplforge.TextureInput(RGBA, wrap="clamp,spiral"), ValueError, None),
    ("wrap-of-three", lambda d: tplforge.TextureInput(RGBA, wrap=("clamp",) * 3), TypeError, None),
    ("mipmap-filter-as-mag", lambda d: tplforge.TextureInput(RGBA, filter="linear,lin_mip_lin"), ValueError, None),
    ("bad-filter", lambda d: tplforge.TextureInput(RGBA, filter="cubic"), ValueError, None),
    ("key-of-five-digits", lambda d: tplforge.TextureInput(RGBA, alpha_key="ff00f"), ValueError, None),
    ("key-not-hex", lambda d: tplforge.TextureInput(RGBA, alpha_key="gg0000"), ValueError, None),
    ("key-channel-past-255", lambda d: tplforge.TextureInput(RGBA, alpha_key=(256, 0, 0)), ValueError, None),
    ("key-of-no-kind", lambda d: tplforge.TextureInput(RGBA, alpha_key=0xFF00FF), TypeError, None),
    ("negative-threads", lambda d: tplforge.encode_tpl(RGBA, threads=-1), TypeError, None),
]


@pytest.mark.filterwarnings("ignore:.*texture limit:UserWarning")
@pytest.mark.parametrize("call,kind,code", [c[1:] for c in CASES], ids=[c[0] for c in CASES])
def test_raises_the_documented_exception(tmp_path, call, kind, code):
    with pytest.raises(kind) as raised:
        call(tmp_path)
    error = raised.value
    assert type(error) is kind
    if code is None:
        assert not isinstance(error, tplforge.Error)
        return
    assert isinstance(error, tplforge.Error) and error.code == code
    assert str(error) == error.message and len(error.message) > 10 and error.message != code
    again = pickle.loads(pickle.dumps(error))
    assert (type(again), again.code, again.message) == (kind, error.code, error.message)


def test_os_errors_name_the_file(tmp_path):
    with pytest.raises(FileNotFoundError) as raised:
        tplforge.read_tpl(tmp_path / "none.tpl")
    assert raised.value.filename == str(tmp_path / "none.tpl")


def test_a_failed_write_leaves_the_file_as_it_was(tmp_path):
    target = tmp_path / "kept.tpl"
    target.write_bytes(FIXTURE)
    with pytest.raises(tplforge.TplWriteError):
        tplforge.write_tpl(target, np.zeros((4, 0, 4), np.uint8))
    assert target.read_bytes() == FIXTURE
    assert [p.name for p in tmp_path.iterdir()] == ["kept.tpl"]


def test_info_tells_of_a_texture_it_cannot_read():
    [texture] = tplforge.info(patched(16, len(FIXTURE) - 4))["textures"]
    assert "palette_format" not in texture and texture["problem"]


@pytest.mark.parametrize("shape,warns", [((8, 2048, 4), 1), ((1024, 8, 3), 0), ((1100, 1100), 1)])
def test_sides_past_the_console_limit_warn(shape, warns):
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        tplforge.TextureInput(np.zeros(shape, np.uint8), "i8")
    assert [w.category for w in caught] == [UserWarning] * warns
