// What help() shows; the type stubs carry the same words (a test compares them).
#pragma once

namespace tplforge::python::docs {

inline constexpr const char* kTexture = R"(One texture of a file: where it is, its settings, and every level's pixels as the console shows them.)";

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

inline constexpr const char* kReadTextures = R"(Every texture below a path, every level decoded, in the order the file stores them.

The path is a file on disk, then any members through archives and wrappers
(U8, RARC, Yaz0, banners), then a texture's name or number:
"menu.szs/arc/timg/x.tpl/1", "model.brres/grass". It reads TPL, BTI, BRRES,
TEX0 (with the PLT0 beside it), J3D models and banners; a path that stops at
an archive, a folder in it or a member gives every texture below. A member
that cannot be read is left out with a UserWarning. Raises TextureFileError
with a line naming the file, member and texture.)";

inline constexpr const char* kReplaceTexture = R"(Puts a picture in place of one texture of any file read_textures reads.

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
OSError when the file cannot be written.)";

inline constexpr const char* kReplaceResult = R"(What replace_texture did: textures changed, its notes, the files written.)";

inline constexpr const char* kReadPng = R"(A PNG file as a (height, width, 4) RGBA array, as tplforge-cli reads it.

16-bit channels are rounded to 8 bits. Raises PngError, or OSError.)";

inline constexpr const char* kReadTarga = R"(A Targa file as a (height, width, 4) RGBA array, as tplforge-cli reads it.

Raises TargaError, or OSError.)";

}  // namespace tplforge::python::docs
