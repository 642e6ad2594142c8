"""GameCube and Wii TPL textures to NumPy arrays and back.

Reads every texture of a TPL file into uint8 RGBA arrays as the console shows
them, and encodes arrays into TPL files with the same settings, and the same
bytes, as ``tplforge-cli encode``. Reads and replaces the textures of every
other file that holds some (BTI, BRRES, TEX0, J3D, banners), also inside U8,
RARC and Yaz0 archives, as ``tplforge-cli replace`` does.
"""

from ._tplforge import (
    CodecError,
    Error,
    PngError,
    ReplaceResult,
    TargaError,
    Texture,
    TextureFileError,
    TextureInput,
    TplError,
    TplWriteError,
    __version__,
    encode_tpl,
    info,
    read_png,
    read_targa,
    read_textures,
    read_tpl,
    replace_texture,
    write_tpl,
)

__all__ = [
    "CodecError",
    "Error",
    "PngError",
    "ReplaceResult",
    "TargaError",
    "Texture",
    "TextureFileError",
    "TextureInput",
    "TplError",
    "TplWriteError",
    "__version__",
    "encode_tpl",
    "info",
    "read_png",
    "read_targa",
    "read_textures",
    "read_tpl",
    "replace_texture",
    "write_tpl",
]
