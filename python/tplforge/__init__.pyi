"""GameCube and Wii textures to NumPy arrays and back: TPL files, and every file and archive holding textures."""

import os
from typing import Any, Iterable, Literal, Union

import numpy
import numpy.typing

__version__: str

#: A file by its path, or its bytes (bytes, bytearray, memoryview, mmap, ...).
Source = Union[str, os.PathLike[str], bytes, bytearray, memoryview]
#: (height, width, 4) RGBA, (height, width, 3) RGB or (height, width) grey, uint8, any strides.
Picture = numpy.typing.NDArray[numpy.uint8]
FormatName = Literal["i4", "i8", "ia4", "ia8", "rgb565", "rgb5a3", "rgba8", "c4", "c8", "c14x2", "cmpr"]
WrapName = Literal["clamp", "repeat", "mirror"]
FilterName = Literal["near", "linear", "near_mip_near", "lin_mip_near", "near_mip_lin", "lin_mip_lin"]

class Error(Exception):
    """Base of every error tplforge raises for a file or picture it refuses.

    ``code`` names the library's error value (``"TooShort"``), ``message`` is
    its English description, which is also what ``str()`` gives.
    """

    code: str
    message: str
    def __init__(self, code: str, message: str) -> None: ...

class TplError(Error):
    """A TPL file that cannot be read: its headers, offsets or sizes are wrong."""

class TplWriteError(Error):
    """Textures that cannot be laid out as a TPL file (empty, too large, too many)."""

class CodecError(Error):
    """Texel data or a picture of the wrong size for its format."""

class PngError(Error):
    """A PNG file that cannot be read."""

class TargaError(Error):
    """A Targa file that cannot be read."""

class TextureFileError(Error):
    """A file, archive member or texture that read_textures or replace_texture cannot read or edit.

    The message names the file, the member and the texture it is about.
    """

class Texture:
    """One texture of a file: where it is, its settings, and every level's pixels as the console shows them."""

    path: str
    """Member and name, as read_textures and replace_texture take it: "arc/timg/x.tpl/1"."""
    name: str
    """Its name in the file, or its number from 1 where textures are numbered."""
    member: str
    """The archive member holding it, "" for the file itself."""
    container: str
    """The kind of file holding it: "TPL", "BTI", "BRRES", ..."""
    format: str
    """Format name, upper case: "CMPR", "RGB5A3", ..."""
    width: int
    height: int
    palette_format: str | None
    """Palette entry format ("IA8", "RGB565", "RGB5A3") of C4, C8 and C14X2; None for others."""
    palette_entries: int
    """Entries of the palette; 0 without one."""
    level_count: int
    """Levels, the picture itself included."""
    wrap_s: str | None
    """"clamp", "repeat" or "mirror" ("unknown" for other codes); this and the other sampler fields are None where the file keeps no sampler."""
    wrap_t: str | None
    min_filter: str | None
    """"near", "linear", "near_mip_near", ... "lin_mip_lin"."""
    mag_filter: str | None
    lod_bias: float | None
    edge_lod: int | None
    min_lod: int | None
    max_lod: int | None
    """None but in TPL files."""
    levels: list[numpy.typing.NDArray[numpy.uint8]]
    """Every level, the picture first: uint8 arrays of shape (height, width, 4), RGBA."""

class TextureInput:
    """A picture to encode and its settings, checked and copied when made.

    The settings are those of ``tplforge-cli encode``, with its defaults:

    - ``format``: the texture format (any case).
    - ``palette``: the palette entry format of c4, c8 and c14x2: "ia8", "rgb565", "rgb5a3".
    - ``mipmaps``: levels below the picture, 0 to 10, or "auto" for as many as fit;
      levels stop before a side falls below one block.
    - ``quality``: "fast", "normal" or "best", for cmpr and palettes.
    - ``dither``: Floyd-Steinberg dithering of palettes that cannot hold every colour.
    - ``wrap``: one mode for both directions, or S and T as "repeat,mirror" or a pair.
    - ``filter``: the min filter, or min and mag as "lin_mip_near,near" or a pair; the mag
      filter defaults to near for near and to linear otherwise. With mipmaps, near and
      linear also filter between levels (near_mip_near, lin_mip_lin).
    - ``alpha_key``: "RRGGBB" or (R, G, B): pixels of exactly this colour become fully
      transparent.

    Raises TypeError for a picture that is not a uint8 array, ValueError for a shape
    or a setting it does not take; warns (UserWarning) of a side over the console's
    1024 and of mipmaps on sides that are not powers of two.
    """

    def __init__(
        self,
        picture: Picture,
        format: FormatName | str = "rgb565",
        *,
        palette: Literal["ia8", "rgb565", "rgb5a3"] | str = "rgb5a3",
        mipmaps: int | Literal["auto"] = 0,
        quality: Literal["fast", "normal", "best"] = "normal",
        dither: bool = False,
        wrap: WrapName | str | tuple[str, str] = "clamp",
        filter: FilterName | str | tuple[str, str] = "linear",
        alpha_key: str | tuple[int, int, int] | None = None,
    ) -> None: ...
    @property
    def format(self) -> str: ...
    @property
    def palette(self) -> str: ...
    @property
    def level_count(self) -> int:
        """Levels to encode, the picture itself included."""
    @property
    def quality(self) -> str: ...
    @property
    def dither(self) -> bool: ...
    @property
    def wrap_s(self) -> str: ...
    @property
    def wrap_t(self) -> str: ...
    @property
    def min_filter(self) -> str:
        """The min filter as written, after near and linear took mipmaps into account."""
    @property
    def mag_filter(self) -> str: ...
    @property
    def alpha_key(self) -> tuple[int, int, int] | None: ...
    @property
    def width(self) -> int: ...
    @property
    def height(self) -> int: ...

Textures = Union[TextureInput, Picture, Iterable[Union[TextureInput, Picture]]]

def read_tpl(source: Source) -> list[Texture]:
    """Every texture of a TPL file (a path, or its bytes), every level decoded.

    Raises TplError for a file it cannot read, OSError (FileNotFoundError, ...)
    when the file cannot be opened.
    """

def info(source: Source) -> dict[str, Any]:
    """The headers of a TPL file as ``tplforge-cli info --json`` gives them.

    Same keys and values; "file" is the path as given, None for bytes. A texture
    whose palette or levels cannot be read has a "problem". Raises TplError when
    the headers themselves cannot be read, OSError when the file cannot be opened.
    """

def encode_tpl(textures: Textures, *, threads: int = 0) -> bytes:
    """A TPL file holding the textures, in order: the bytes ``tplforge-cli encode`` writes.

    Bare arrays are encoded with TextureInput's defaults. ``threads``: 0 uses
    every core. Raises TplWriteError for textures a file cannot hold (an empty
    picture, a side over 32767, ...).
    """

def write_tpl(path: str | os.PathLike[str], textures: Textures, *, threads: int = 0) -> None:
    """Encodes the textures as encode_tpl does into a file at path.

    The file is written beside its place and renamed over it once complete, so a
    failure leaves whatever was there. Raises TplWriteError, or OSError when the
    file cannot be written.
    """

def read_textures(path: str | os.PathLike[str]) -> list[Texture]:
    """Every texture below a path, every level decoded, in the order the file stores them.

    The path is a file on disk, then any members through archives and wrappers
    (U8, RARC, Yaz0, banners), then a texture's name or number:
    "menu.szs/arc/timg/x.tpl/1", "model.brres/grass". It reads TPL, BTI, BRRES,
    TEX0 (with the PLT0 beside it), J3D models and banners; a path that stops at
    an archive, a folder in it or a member gives every texture below. A member
    that cannot be read is left out with a UserWarning. Raises TextureFileError
    with a line naming the file, member and texture.
    """

class ReplaceResult:
    """What replace_texture did: textures changed, its notes, the files written."""

    changed: int
    """Textures whose bytes changed: 0 when the picture shows what the texture holds."""
    notes: list[str]
    """What tplforge-cli replace notes: merged palettes, new sides, images shared by other textures."""
    written: list[str]
    """The files written: the file or output, and a standalone TEX0's PLT0."""

def replace_texture(
    path: str | os.PathLike[str],
    picture: Picture | str | os.PathLike[str],
    *,
    texture: str | int | None = None,
    output: str | os.PathLike[str] | None = None,
    format: FormatName | str | None = None,
    palette: Literal["ia8", "rgb565", "rgb5a3"] | str | None = None,
    entries: int | None = None,
    mipmaps: int | Literal["auto"] | None = None,
    quality: Literal["fast", "normal", "best"] | None = None,
    dither: bool | None = None,
    wrap: WrapName | str | tuple[str, str] | None = None,
    filter: FilterName | str | tuple[str, str] | None = None,
    alpha_key: str | tuple[int, int, int] | None = None,
    strict: bool = False,
    threads: int = 0,
) -> ReplaceResult:
    """Puts a picture in place of one texture of any file read_textures reads.

    ``picture`` is a uint8 array as TextureInput takes, or the path of a PNG or
    Targa (.tga) file. ``texture`` names it as read_textures's ``path`` gives it,
    relative to ``path``, or by its number inside one member; None takes the
    texture the path names, or the only one. The file is written to ``output``, or
    over itself when None (through a temporary file and a rename; not at all when
    nothing changed), and a standalone TEX0 of a palette format gets its PLT0
    beside it. Every other texture, member, compressed layer and byte of padding
    is kept as it was.

    The texture keeps its own settings but for those given, as tplforge-cli
    replace's options: ``format``, ``palette``, ``entries`` (1 to 16384 palette
    entries), ``mipmaps`` (0 to 10 or "auto"), ``quality``, ``dither``, ``wrap`` and
    ``filter`` (TPL textures only), ``alpha_key``. ``strict`` refuses a palette that
    would merge colours. Raises TextureFileError with a line naming the file,
    member and texture; PngError, TargaError or OSError for the picture file;
    OSError when the file cannot be written.
    """

def read_png(source: Source) -> numpy.typing.NDArray[numpy.uint8]:
    """A PNG file as a (height, width, 4) RGBA array, as tplforge-cli reads it.

    16-bit channels are rounded to 8 bits. Raises PngError, or OSError.
    """

def read_targa(source: Source) -> numpy.typing.NDArray[numpy.uint8]:
    """A Targa file as a (height, width, 4) RGBA array, as tplforge-cli reads it.

    Raises TargaError, or OSError.
    """
