"""GameCube and Wii TPL textures to NumPy arrays and back.

Reads every texture of a TPL file into uint8 RGBA arrays as the console shows
them, and encodes arrays into TPL files with the same settings, and the same
bytes, as ``tplforge-cli encode``.
"""

from ._tplforge import (
    CodecError,
    Error,
    PngError,
    TargaError,
    Texture,
    TextureInput,
    TplError,
    TplWriteError,
    __version__,
    encode_tpl,
    info,
    read_png,
    read_targa,
    read_tpl,
    write_tpl,
)

__all__ = [
    "CodecError",
    "Error",
    "PngError",
    "TargaError",
    "Texture",
    "TextureInput",
    "TplError",
    "TplWriteError",
    "__version__",
    "encode_tpl",
    "info",
    "read_png",
    "read_targa",
    "read_tpl",
    "write_tpl",
]
