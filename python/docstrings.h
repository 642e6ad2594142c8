// What help() shows; the type stubs carry the same words (a test compares them).
#pragma once

namespace tplforge::python::docs {

inline constexpr const char* kTexture = R"(One texture of a TPL file: its settings, and every level's pixels as the console shows them.)";

inline constexpr const char* kTextureInput = R"(A picture to encode and its settings, checked and copied when made.

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
1024 and of mipmaps on sides that are not powers of two.)";

inline constexpr const char* kReadTpl = R"(Every texture of a TPL file (a path, or its bytes), every level decoded.

Raises TplError for a file it cannot read, OSError (FileNotFoundError, ...)
when the file cannot be opened.)";

inline constexpr const char* kInfo = R"(The headers of a TPL file as ``tplforge-cli info --json`` gives them.

Same keys and values; "file" is the path as given, None for bytes. A texture
whose palette or levels cannot be read has a "problem". Raises TplError when
the headers themselves cannot be read, OSError when the file cannot be opened.)";

inline constexpr const char* kEncodeTpl = R"(A TPL file holding the textures, in order: the bytes ``tplforge-cli encode`` writes.

Bare arrays are encoded with TextureInput's defaults. ``threads``: 0 uses
every core. Raises TplWriteError for textures a file cannot hold (an empty
picture, a side over 32767, ...).)";

inline constexpr const char* kWriteTpl = R"(Encodes the textures as encode_tpl does into a file at path.

The file is written beside its place and renamed over it once complete, so a
failure leaves whatever was there. Raises TplWriteError, or OSError when the
file cannot be written.)";

inline constexpr const char* kReadPng = R"(A PNG file as a (height, width, 4) RGBA array, as tplforge-cli reads it.

16-bit channels are rounded to 8 bits. Raises PngError, or OSError.)";

inline constexpr const char* kReadTarga = R"(A Targa file as a (height, width, 4) RGBA array, as tplforge-cli reads it.

Raises TargaError, or OSError.)";

}  // namespace tplforge::python::docs
