// The _tplforge extension: TPL files to NumPy arrays and back, with the same
// settings and the same bytes as tplforge-cli, and the textures of every other
// file and archive read and replaced in place. The library's calls run with the
// GIL released; what they need from Python objects is taken before.
#include <algorithm>
#include <bit>
#include <cctype>
#include <cmath>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "arrays.h"
#include "docstrings.h"
#include "errors.h"
#include "tplforge/dolphin.h"
#include "tplforge/file_io.h"
#include "tplforge/format.h"
#include "tplforge/info.h"
#include "tplforge/png.h"
#include "tplforge/targa.h"
#include "tplforge/texture.h"
#include "tplforge/texture_file.h"
#include "tplforge/tpl.h"
#include "tplforge/version.h"

namespace tplforge::python {

namespace {

using namespace pybind11::literals;

std::string lowerCase(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string typeName(const py::handle& object) { return py::str(py::type::of(object).attr("__name__")); }

// A path (str, bytes or os.PathLike) as the file system takes it, and as messages give it.
std::string fileSystemPath(const py::object& path) {
    return py::bytes(py::module_::import("os").attr("fsencode")(path));
}
py::object pathAsGiven(const py::object& path) { return py::module_::import("os").attr("fspath")(path); }
py::object pathFromFileSystem(const std::string& path) {
    return py::module_::import("os").attr("fsdecode")(py::bytes(path));
}

// --- Where bytes come from -------------------------------------------------------

// A file named by a path (str or os.PathLike), or bytes in any object with the
// buffer protocol (bytes, bytearray, memoryview, mmap, ...). Made and destroyed
// with the GIL held; open() and bytes() need no GIL.
class Source {
public:
    explicit Source(const py::object& source) {
        const py::module_ os = py::module_::import("os");
        if (py::isinstance<py::str>(source) || py::isinstance(source, os.attr("PathLike"))) {
            name_ = os.attr("fspath")(source);
            path_ = py::bytes(os.attr("fsencode")(source));
            isPath_ = true;
            return;
        }
        if (PyObject_GetBuffer(source.ptr(), &view_, PyBUF_SIMPLE) != 0) {
            PyErr_Clear();
            throw py::type_error("expected a path or a bytes-like object, not " + typeName(source));
        }
        holdsView_ = true;
        name_ = py::none();
        bytes_ = std::span(static_cast<const std::uint8_t*>(view_.buf), static_cast<std::size_t>(view_.len));
    }
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;
    ~Source() {
        if (holdsView_) PyBuffer_Release(&view_);
    }

    [[nodiscard]] Expected<void, std::error_code> open() {
        if (!isPath_) return {};
        auto mapped = mapWholeFile(path_);
        if (!mapped) return fail(mapped.error());
        mapped_ = std::move(mapped).value();
        bytes_ = mapped_.bytes();
        return {};
    }
    [[nodiscard]] std::span<const std::uint8_t> bytes() const { return bytes_; }
    // The path as given (str or bytes), None for bytes in memory.
    [[nodiscard]] const py::object& name() const { return name_; }

private:
    py::object name_;
    std::string path_;
    bool isPath_ = false;
    Py_buffer view_{};
    bool holdsView_ = false;
    MappedFile mapped_;
    std::span<const std::uint8_t> bytes_;
};

// Every failure a call can meet without the GIL, raised once it is back.
using Failure = std::variant<std::error_code, TplError, CodecError, TplWriteError, PngError, TargaError, Error>;

[[noreturn]] void raiseFailure(const Failure& failure, const py::object& filename) {
    if (const auto* os = std::get_if<std::error_code>(&failure)) raiseOsError(*os, filename);
    std::visit(
        [](const auto& error) {
            if constexpr (!std::is_same_v<std::decay_t<decltype(error)>, std::error_code>) python::raise(error);
        },
        failure);
    throw std::logic_error("unreachable");
}

template <class T>
T take(Expected<T, Failure>&& result, const py::object& filename) {
    if (!result) raiseFailure(result.error(), filename);
    return std::move(result).value();
}

// --- Reading ---------------------------------------------------------------------

// One texture's facts and levels, taken out of its file without the GIL.
struct DecodedTexture {
    std::string path, name, member, container;
    Format format = Format::RGB565;
    std::uint32_t width = 0, height = 0;
    std::optional<PaletteFormat> paletteFormat;
    std::uint32_t paletteEntries = 0;
    std::optional<Sampler> sampler;  // where the file stores one
    std::optional<unsigned> maxLod;  // TPL only
    std::vector<Image> levels;
};

DecodedTexture factsOf(const TextureView& view) {
    DecodedTexture d;
    d.format = view.format;
    d.width = view.width;
    d.height = view.height;
    if (view.palette) {
        d.paletteFormat = view.palette->format;
        d.paletteEntries = view.palette->entryCount;
    }
    return d;
}

Expected<std::vector<DecodedTexture>, Failure> decodeAll(Source& source) {
    if (auto opened = source.open(); !opened) return fail(Failure(opened.error()));
    const auto bytes = source.bytes();
    auto headers = parseTpl(bytes);
    if (!headers) return fail(Failure(headers.error()));
    std::vector<DecodedTexture> textures;
    textures.reserve(headers->images.size());
    for (const TplImageHeader& image : headers->images) {
        auto view = textureView(bytes, image);
        if (!view) return fail(Failure(view.error()));
        DecodedTexture& texture = textures.emplace_back(factsOf(*view));
        texture.path = texture.name = std::to_string(textures.size());
        texture.container = kindName(FileKind::Tpl);
        texture.sampler = image.sampler;
        texture.maxLod = image.maxLod;
        for (unsigned level = 0; level < view->levels.size(); ++level) {
            auto picture = decodeLevel(*view, level);
            if (!picture) return fail(Failure(picture.error()));
            texture.levels.push_back(std::move(picture).value());
        }
    }
    return textures;
}

// One texture as read, for Python. The sampler's fields are None where the
// file keeps no sampler (BRRES, banners), max_lod where it is not a TPL.
struct Texture {
    std::string path, name, member, container;
    std::string format;
    std::uint32_t width = 0, height = 0;
    std::optional<std::string> paletteFormat;
    std::uint32_t paletteEntries = 0;
    std::optional<std::string> wrapS, wrapT, minFilter, magFilter;
    std::optional<float> lodBias;
    std::optional<unsigned> edgeLod, minLod, maxLod;
    py::list levels;
};

py::list texturesFor(std::vector<DecodedTexture>&& decoded) {
    py::list out;
    for (DecodedTexture& d : decoded) {
        Texture t;
        t.path = std::move(d.path);
        t.name = std::move(d.name);
        t.member = std::move(d.member);
        t.container = std::move(d.container);
        t.format = formatName(d.format);
        t.width = d.width;
        t.height = d.height;
        if (d.paletteFormat) t.paletteFormat = std::string(paletteFormatName(*d.paletteFormat));
        t.paletteEntries = d.paletteEntries;
        if (const auto& s = d.sampler) {
            t.wrapS = std::string(wrapModeName(s->wrapS));
            t.wrapT = std::string(wrapModeName(s->wrapT));
            t.minFilter = std::string(filterName(s->minFilter));
            t.magFilter = std::string(filterName(s->magFilter));
            t.lodBias = s->lodBias;
            t.edgeLod = s->edgeLod;
            t.minLod = s->minLod;
        }
        t.maxLod = d.maxLod;
        for (Image& level : d.levels) t.levels.append(arrayFromPicture(std::move(level)));
        out.append(py::cast(std::move(t)));
    }
    return out;
}

py::list readTpl(const py::object& from) {
    Source source(from);
    Expected<std::vector<DecodedTexture>, Failure> decoded = fail(Failure());
    {
        py::gil_scoped_release unlocked;
        decoded = decodeAll(source);
    }
    return texturesFor(take(std::move(decoded), source.name()));
}

void warn(const std::string& text) {
    if (PyErr_WarnEx(PyExc_UserWarning, text.c_str(), 1) != 0) throw py::error_already_set();
}

// Every texture below a path into any file, every level as the console shows it.
py::list readTextures(const py::object& path) {
    const std::string target = fileSystemPath(path);
    struct Read {
        std::vector<DecodedTexture> textures;
        std::vector<std::string> damaged;
    };
    Expected<Read, Failure> read = fail(Failure());
    {
        py::gil_scoped_release unlocked;
        read = [&]() -> Expected<Read, Failure> {
            auto file = TextureFile::open(target);
            if (!file) return fail(Failure(file.error()));
            Read out;
            for (const DamagedMember& d : file->damaged()) out.damaged.push_back(describe(d.error));
            for (const TextureRef& t : file->textures()) {
                DecodedTexture& d = out.textures.emplace_back(factsOf(t.view));
                d.path = t.path();
                d.name = t.name;
                d.member = t.member;
                d.container = kindName(t.container);
                d.sampler = t.sampler;
                if (t.settings) d.maxLod = t.settings->maxLod;
                for (unsigned level = 0; level < t.view.levels.size(); ++level) {
                    auto picture = t.decode(level);
                    if (!picture) return fail(Failure(picture.error()));
                    d.levels.push_back(std::move(picture).value());
                }
            }
            return out;
        }();
    }
    Read r = take(std::move(read), pathAsGiven(path));
    // The members that do read are still worth having; the others are said.
    for (const std::string& line : r.damaged) warn(line + "; its textures are left out");
    return texturesFor(std::move(r.textures));
}

// The fields and values of `tplforge-cli info --json`, for one file.
py::object pythonOf(const InfoField& field) {
    switch (field.kind) {
        case InfoField::Kind::Number: return py::int_(field.number);
        case InfoField::Kind::Float: return py::float_(field.real);
        case InfoField::Kind::Text: return py::str(field.text);
        case InfoField::Kind::Texts: return py::cast(field.texts);
        case InfoField::Kind::Null: break;
    }
    return py::none();
}

py::dict info(const py::object& from) {
    Source source(from);
    struct Parsed {
        TplHeaders headers;
        std::vector<std::vector<InfoField>> fields;
    };
    Expected<Parsed, Failure> parsed = fail(Failure());
    {
        py::gil_scoped_release unlocked;
        parsed = [&]() -> Expected<Parsed, Failure> {
            if (auto opened = source.open(); !opened) return fail(Failure(opened.error()));
            auto headers = parseTpl(source.bytes());
            if (!headers) return fail(Failure(headers.error()));
            Parsed p{std::move(headers).value(), {}};
            for (std::size_t k = 0; k < p.headers.images.size(); ++k)
                p.fields.push_back(tplTextureInfo(source.bytes(), p.headers.images[k], k + 1));
            return p;
        }();
    }
    const Parsed p = take(std::move(parsed), source.name());
    py::list textures;
    for (const std::vector<InfoField>& fields : p.fields) {
        py::dict j;
        for (const InfoField& field : fields) {
            j[py::str(std::string(field.key))] = pythonOf(field);
        }
        textures.append(std::move(j));
    }
    return py::dict("file"_a = source.name(), "size"_a = p.headers.fileSize, "textures"_a = std::move(textures));
}

// A PNG or Targa file as the command-line tool reads it.
template <class E>
py::array readPicture(const py::object& from, Expected<Image, E> (*reader)(std::span<const std::uint8_t>)) {
    Source source(from);
    Expected<Image, Failure> picture = fail(Failure());
    {
        py::gil_scoped_release unlocked;
        picture = [&]() -> Expected<Image, Failure> {
            if (auto opened = source.open(); !opened) return fail(Failure(opened.error()));
            auto read = reader(source.bytes());
            if (!read) return fail(Failure(read.error()));
            return std::move(read).value();
        }();
    }
    return arrayFromPicture(take(std::move(picture), source.name()));
}

Expected<Image, PngError> readPngWhole(std::span<const std::uint8_t> bytes) { return readPng(bytes); }

// --- Encoding --------------------------------------------------------------------

// A picture and its settings, checked and resolved when made: what encoding
// reads needs no Python object.
struct PictureInput {
    Image picture;
    tplforge::TextureInput texture;  // its picture pointer is set when encoding
    std::optional<std::array<std::uint8_t, 3>> key;
};

[[noreturn]] void badName(const char* what, const std::string& name, const char* names) {
    throw py::value_error(std::string(what) + " '" + name + "' is not one of " + names);
}

constexpr const char* kFormatNames = "i4, i8, ia4, ia8, rgb565, rgb5a3, rgba8, c4, c8, c14x2, cmpr";
constexpr const char* kWrapNames = "clamp, repeat, mirror";
constexpr const char* kFilterNames = "near, linear, near_mip_near, lin_mip_near, near_mip_lin, lin_mip_lin";

// "a" or "a,b" or ("a", "b"): the names, the second empty when not given.
std::pair<std::string, std::string> pairOf(const py::handle& value, const char* what) {
    if (py::isinstance<py::str>(value)) {
        const std::string text = py::str(value);
        const auto comma = text.find(',');
        if (comma == std::string::npos) return {text, ""};
        return {text.substr(0, comma), text.substr(comma + 1)};
    }
    if (py::isinstance<py::tuple>(value) || py::isinstance<py::list>(value)) {
        const auto items = py::reinterpret_borrow<py::sequence>(value);
        if (items.size() == 2 && py::isinstance<py::str>(items[0]) && py::isinstance<py::str>(items[1]))
            return {py::str(items[0]), py::str(items[1])};
    }
    throw py::type_error(std::string(what) + " is a name, \"A,B\" or a pair of names, not " + typeName(value));
}

WrapMode wrapNamed(const std::string& name) {
    const auto mode = wrapModeFromName(name);
    if (!mode) badName("wrap", name, kWrapNames);
    return *mode;
}

std::array<std::uint8_t, 3> keyColour(const py::handle& value) {
    if (py::isinstance<py::str>(value)) {
        const std::string text = py::str(value);
        const bool hex = text.size() == 6 && std::all_of(text.begin(), text.end(), [](char c) {
                             return std::isxdigit(static_cast<unsigned char>(c)) != 0;
                         });
        if (!hex) throw py::value_error("alpha_key '" + text + "' is not six hex digits RRGGBB");
        const unsigned long v = std::stoul(text, nullptr, 16);
        return {static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
    }
    if (py::isinstance<py::tuple>(value) || py::isinstance<py::list>(value)) {
        const auto items = py::reinterpret_borrow<py::sequence>(value);
        std::array<std::uint8_t, 3> rgb{};
        bool good = items.size() == 3;
        for (std::size_t i = 0; good && i < 3; ++i) {
            good = py::isinstance<py::int_>(items[i]) && !py::isinstance<py::bool_>(items[i]);
            const long channel = good ? items[i].cast<long>() : -1;
            good = good && channel >= 0 && channel <= 255;
            rgb[i] = static_cast<std::uint8_t>(channel);
        }
        if (good) return rgb;
        throw py::value_error("alpha_key is three channels (R, G, B) of 0 to 255");
    }
    throw py::type_error("alpha_key is \"RRGGBB\" or (R, G, B), not " + typeName(value));
}

Format formatNamed(const std::string& name) {
    const auto f = formatFromName(name);
    if (!f) badName("format", name, kFormatNames);
    return *f;
}

PaletteFormat paletteNamed(const std::string& name) {
    const auto p = paletteFormatFromName(name);
    if (!p) badName("palette", name, "ia8, rgb565, rgb5a3");
    return *p;
}

Quality qualityNamed(const std::string& name) {
    const auto q = qualityFromName(name);
    if (!q) badName("quality", name, "fast, normal, best");
    return *q;
}

// Levels below the picture: 0 to 10, or "auto" (unset) for as many as fit.
std::optional<unsigned> levelsBelow(const py::handle& mipmaps) {
    if (py::isinstance<py::str>(mipmaps)) {
        if (lowerCase(std::string(py::str(mipmaps))) != "auto")
            throw py::value_error("mipmaps is a number of levels below the picture, 0 to 10, or \"auto\"");
        return std::nullopt;
    }
    if (py::isinstance<py::int_>(mipmaps) && !py::isinstance<py::bool_>(mipmaps)) {
        const long n = mipmaps.cast<long>();
        if (n < 0 || n > 10) throw py::value_error("mipmaps is 0 to 10 levels below the picture, not " + std::to_string(n));
        return static_cast<unsigned>(n);
    }
    throw py::type_error("mipmaps is an int or \"auto\", not " + typeName(mipmaps));
}

std::pair<WrapMode, WrapMode> wrapsOf(const py::handle& wrap) {
    const auto [s, t] = pairOf(wrap, "wrap");
    const WrapMode modeS = wrapNamed(s);
    return {modeS, t.empty() ? modeS : wrapNamed(t)};
}

// Min and mag; mag defaults to near for near and to linear otherwise.
std::pair<TextureFilter, TextureFilter> filtersOf(const py::handle& filter) {
    const auto [minName, magName] = pairOf(filter, "filter");
    const auto min = filterFromName(minName);
    if (!min) badName("filter", minName, kFilterNames);
    const TextureFilter plain = *min == TextureFilter::Near ? TextureFilter::Near : TextureFilter::Linear;
    const auto mag = magName.empty() ? std::optional(plain) : filterFromName(magName);
    if (!mag || (*mag != TextureFilter::Near && *mag != TextureFilter::Linear))
        badName("magnification filter", magName, "near, linear");
    return {*min, *mag};
}

void applyAlphaKey(Image& picture, const std::array<std::uint8_t, 3>& key) {
    const auto [r, g, b] = key;
    for (std::size_t i = 0; i < picture.rgba.size(); i += 4) {
        const auto px = std::span(picture.rgba).subspan(i, 4);
        if (px[0] == r && px[1] == g && px[2] == b) px[3] = 0;
    }
}

PictureInput makeInput(const py::object& array, const std::string& format, const std::string& palette,
                       const py::object& mipmaps, const std::string& quality, bool dither, const py::object& wrap,
                       const py::object& filter, const py::object& alphaKey) {
    PictureInput in;
    EncodeOptions& o = in.texture.options;
    o.format = formatNamed(format);
    o.paletteFormat = paletteNamed(palette);
    o.quality = qualityNamed(quality);
    o.dither = dither;
    const std::optional<unsigned> below = levelsBelow(mipmaps);
    Sampler& s = in.texture.sampler;
    std::tie(s.wrapS, s.wrapT) = wrapsOf(wrap);
    const auto [min, mag] = filtersOf(filter);
    if (!alphaKey.is_none()) in.key = keyColour(alphaKey);

    in.picture = pictureFromArray(array);
    const std::uint32_t w = in.picture.width, h = in.picture.height;
    const unsigned most = levelsPossible(o.format, w, h);
    in.texture.levels = below ? std::min(1 + *below, most) : most;
    s.minFilter = mipmapFilter(min, in.texture.levels);
    s.magFilter = mag;
    if (in.key) applyAlphaKey(in.picture, *in.key);
    const std::string size = std::to_string(w) + " x " + std::to_string(h);
    if (w > kConsoleMaxSide || h > kConsoleMaxSide)
        warn(size + " is larger than the console's texture limit of 1024 x 1024");
    if (in.texture.levels > 1 && (!std::has_single_bit(w) || !std::has_single_bit(h)))
        warn("the console samples mipmaps only of textures whose sides are powers of two (" + size + ")");
    return in;
}

// The textures of a call: TextureInput objects or bare arrays (encoded with the
// defaults), one or a sequence. The objects are kept so that no other thread
// can drop them while the GIL is released.
std::vector<tplforge::TextureInput> gather(const py::object& textures, unsigned threads, std::vector<py::object>& kept) {
    const bool single = py::isinstance<PictureInput>(textures) || py::isinstance<py::array>(textures);
    if (!single && !py::isinstance<py::iterable>(textures))
        throw py::type_error("textures are a TextureInput, an array, or a sequence of them, not " + typeName(textures));
    const py::list items = single ? py::list(py::make_tuple(textures)) : py::list(textures);
    std::vector<tplforge::TextureInput> inputs;
    for (const py::handle item : items) {
        py::object input = py::reinterpret_borrow<py::object>(item);
        if (!py::isinstance<PictureInput>(input)) {
            if (!py::isinstance<py::array>(input))
                throw py::type_error("a texture is a TextureInput or a numpy array, not " + typeName(input));
            input = py::cast(makeInput(input, "rgb565", "rgb5a3", py::int_(0), "normal", false, py::str("clamp"),
                                       py::str("linear"), py::none()));
        }
        auto& in = input.cast<PictureInput&>();
        tplforge::TextureInput t = in.texture;
        t.picture = &in.picture;
        t.options.threads = threads;
        inputs.push_back(t);
        kept.push_back(std::move(input));
    }
    return inputs;
}

std::vector<std::uint8_t> encode(const py::object& textures, unsigned threads) {
    std::vector<py::object> kept;
    const auto inputs = gather(textures, threads, kept);
    Expected<std::vector<std::uint8_t>, TplWriteError> file = fail(TplWriteError::NoTextures);
    {
        py::gil_scoped_release unlocked;
        file = encodeTpl(inputs);
    }
    if (!file) python::raise(file.error());
    return std::move(file).value();
}

py::bytes encodeToBytes(const py::object& textures, unsigned threads) {
    const auto file = encode(textures, threads);
    return py::bytes(reinterpret_cast<const char*>(file.data()), file.size());
}

void writeTpl(const py::object& path, const py::object& textures, unsigned threads) {
    const std::string target = py::bytes(py::module_::import("os").attr("fsencode")(path));
    std::vector<py::object> kept;
    const auto inputs = gather(textures, threads, kept);
    Expected<void, Failure> done;
    {
        py::gil_scoped_release unlocked;
        done = [&]() -> Expected<void, Failure> {
            auto file = encodeTpl(inputs);
            if (!file) return fail(Failure(file.error()));
            // As the command-line tool does: only a file it replaces is worth a flush.
            if (auto written = writeFileAtomically(target, *file, Flush::WhenReplacing); !written)
                return fail(Failure(written.error()));
            return {};
        }();
    }
    if (!done) raiseFailure(done.error(), py::module_::import("os").attr("fspath")(path));
}

// --- Replacing in any file ---------------------------------------------------------

// What replace_texture gives back.
struct ReplaceResult {
    std::size_t changed = 0;
    std::vector<std::string> notes;
    py::list written;
};

bool isTargaName(std::string_view path) {
    return path.size() >= 4 && lowerCase(path.substr(path.size() - 4)) == ".tga";
}

// A picture file as tplforge-cli replace reads it: Targa by its name, PNG by its bytes.
Expected<Image, Failure> readPictureFile(const std::string& path) {
    const auto file = mapWholeFile(path);
    if (!file) return fail(Failure(file.error()));
    if (isTargaName(path)) {
        auto tga = readTarga(file->bytes());
        if (!tga) return fail(Failure(tga.error()));
        return std::move(tga).value();
    }
    auto png = readPng(file->bytes());
    if (!png) return fail(Failure(png.error()));
    return std::move(png).value();
}

// The settings of replace_texture, None keeping the texture's own.
SettingChanges changesFrom(const py::object& format, const py::object& palette, const py::object& entries,
                           const py::object& mipmaps, const py::object& quality, const py::object& dither,
                           const py::object& wrap, const py::object& filter) {
    const auto name = [](const py::object& value, const char* what) {
        if (!py::isinstance<py::str>(value))
            throw py::type_error(std::string(what) + " is a name, not " + typeName(value));
        return std::string(py::str(value));
    };
    SettingChanges c;
    if (!format.is_none()) c.format = formatNamed(name(format, "format"));
    if (!palette.is_none()) c.paletteFormat = paletteNamed(name(palette, "palette"));
    if (!entries.is_none()) {
        if (!py::isinstance<py::int_>(entries) || py::isinstance<py::bool_>(entries))
            throw py::type_error("entries is an int, not " + typeName(entries));
        const long n = entries.cast<long>();
        if (n < 1 || n > 16384)
            throw py::value_error("entries is 1 to 16384 palette entries, not " + std::to_string(n));
        c.paletteEntries = static_cast<std::uint32_t>(n);
    }
    if (!mipmaps.is_none()) {
        c.mipmaps = levelsBelow(mipmaps);
        c.mipmapsAuto = !c.mipmaps;
    }
    if (!quality.is_none()) c.quality = qualityNamed(name(quality, "quality"));
    if (!dither.is_none()) {
        if (!py::isinstance<py::bool_>(dither)) throw py::type_error("dither is a bool, not " + typeName(dither));
        c.dither = dither.cast<bool>();
    }
    if (!wrap.is_none()) std::tie(c.wrapS, c.wrapT) = wrapsOf(wrap);
    if (!filter.is_none()) std::tie(c.minFilter, c.magFilter) = filtersOf(filter);
    return c;
}

ReplaceResult replaceTexture(const py::object& path, const py::object& picture, const py::object& texture,
                             const py::object& output, const py::object& format, const py::object& palette,
                             const py::object& entries, const py::object& mipmaps, const py::object& quality,
                             const py::object& dither, const py::object& wrap, const py::object& filter,
                             const py::object& alphaKey, bool strict, unsigned threads) {
    const std::string file = fileSystemPath(path);
    TextureEdit edit;
    edit.changes = changesFrom(format, palette, entries, mipmaps, quality, dither, wrap, filter);
    if (!texture.is_none()) {
        const bool number = py::isinstance<py::int_>(texture) && !py::isinstance<py::bool_>(texture);
        if (!number && !py::isinstance<py::str>(texture))
            throw py::type_error("texture is a name, a path or a number, not " + typeName(texture));
        edit.texture = py::str(texture);
    }
    const std::optional<std::array<std::uint8_t, 3>> key =
        alphaKey.is_none() ? std::nullopt : std::optional(keyColour(alphaKey));
    const std::string target = output.is_none() ? std::string() : fileSystemPath(output);

    if (py::isinstance<py::array>(picture)) {
        edit.picture = pictureFromArray(picture);
    } else if (py::isinstance<py::str>(picture) ||
               py::isinstance(picture, py::module_::import("os").attr("PathLike"))) {
        edit.pictureName = fileSystemPath(picture);
        Expected<Image, Failure> read = fail(Failure());
        {
            py::gil_scoped_release unlocked;
            read = readPictureFile(edit.pictureName);
        }
        edit.picture = take(std::move(read), pathAsGiven(picture));
    } else {
        throw py::type_error("a picture is a numpy.ndarray of uint8 or a picture file's path, not " +
                             typeName(picture));
    }
    if (key) applyAlphaKey(edit.picture, *key);

    EditOptions options;
    options.strict = strict;
    options.threads = threads;
    ReplaceResult out;
    std::vector<std::string> written;
    std::string writing;  // the file a failed write was about
    Expected<void, Failure> done;
    {
        py::gil_scoped_release unlocked;
        done = [&]() -> Expected<void, Failure> {
            auto opened = TextureFile::open(file);
            if (!opened) return fail(Failure(opened.error()));
            auto replaced = opened->replace(std::span(&edit, 1), options);
            if (!replaced) return fail(Failure(replaced.error()));
            out.changed = replaced->changed;
            for (const Note& note : replaced->notes) out.notes.push_back(note.where + ": " + note.text);
            const bool inPlace = target.empty();
            const std::string& to = inPlace ? opened->diskPath() : target;
            const auto write = [&](const std::string& where,
                                   std::span<const std::uint8_t> bytes) -> Expected<void, Failure> {
                writing = where;
                if (auto written = writeFileAtomically(where, bytes, Flush::WhenReplacing); !written)
                    return fail(Failure(written.error()));
                written.push_back(where);
                return {};
            };
            // A file left as it was is not written again in place.
            const auto same = [](std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
                return std::equal(a.begin(), a.end(), b.begin(), b.end());
            };
            const auto& plt0 = replaced->plt0;
            if (!plt0.empty() && !(inPlace && same(plt0, opened->paletteBytes())))
                if (auto saved = write(palettePathBeside(to), plt0); !saved) return saved;
            if (!(inPlace && same(replaced->file, opened->bytes())))
                if (auto saved = write(to, replaced->file); !saved) return saved;
            return {};
        }();
    }
    if (!done) {
        const bool writingFailed = std::holds_alternative<std::error_code>(done.error());
        raiseFailure(done.error(), writingFailed ? pathFromFileSystem(writing) : pathAsGiven(path));
    }
    for (const std::string& file : written) out.written.append(pathFromFileSystem(file));
    return out;
}

std::string keyText(const PictureInput& in) {
    if (!in.key) return "None";
    return "(" + std::to_string((*in.key)[0]) + ", " + std::to_string((*in.key)[1]) + ", " +
           std::to_string((*in.key)[2]) + ")";
}

}  // namespace

void defineModule(py::module_& m) {
    m.doc() = "GameCube and Wii textures to NumPy arrays and back: TPL files, and every file and archive holding "
              "textures.";
    m.attr("__version__") = std::string(version());
    addErrorClasses(m);

    py::class_<Texture>(m, "Texture", docs::kTexture)
        .def_readonly("path", &Texture::path,
                      "Member and name, as read_textures and replace_texture take it: \"arc/timg/x.tpl/1\".")
        .def_readonly("name", &Texture::name, "Its name in the file, or its number from 1 where textures are numbered.")
        .def_readonly("member", &Texture::member, "The archive member holding it, \"\" for the file itself.")
        .def_readonly("container", &Texture::container, "The kind of file holding it: \"TPL\", \"BTI\", \"BRRES\", ...")
        .def_readonly("format", &Texture::format, "Format name, upper case: \"CMPR\", \"RGB5A3\", ...")
        .def_readonly("width", &Texture::width)
        .def_readonly("height", &Texture::height)
        .def_readonly("palette_format", &Texture::paletteFormat,
                      "Palette entry format (\"IA8\", \"RGB565\", \"RGB5A3\") of C4, C8 and C14X2; None for others.")
        .def_readonly("palette_entries", &Texture::paletteEntries, "Entries of the palette; 0 without one.")
        .def_property_readonly(
            "level_count", [](const Texture& t) { return t.levels.size(); }, "Levels, the picture itself included.")
        .def_readonly("wrap_s", &Texture::wrapS,
                      "\"clamp\", \"repeat\" or \"mirror\" (\"unknown\" for other codes); this and the other sampler "
                      "fields are None where the file keeps no sampler.")
        .def_readonly("wrap_t", &Texture::wrapT)
        .def_readonly("min_filter", &Texture::minFilter, "\"near\", \"linear\", \"near_mip_near\", ... \"lin_mip_lin\".")
        .def_readonly("mag_filter", &Texture::magFilter)
        .def_readonly("lod_bias", &Texture::lodBias)
        .def_readonly("edge_lod", &Texture::edgeLod)
        .def_readonly("min_lod", &Texture::minLod)
        .def_readonly("max_lod", &Texture::maxLod, "None but in TPL files.")
        .def_readonly("levels", &Texture::levels,
                      "Every level, the picture first: uint8 arrays of shape (height, width, 4), RGBA.")
        .def("__repr__", [](const Texture& t) {
            return "<tplforge.Texture " + t.path + " " + t.format + " " + std::to_string(t.width) + "x" +
                   std::to_string(t.height) + ", " + std::to_string(t.levels.size()) + " level(s)>";
        });

    py::class_<PictureInput>(m, "TextureInput", docs::kTextureInput)
        .def(py::init(&makeInput), "picture"_a, "format"_a = "rgb565", py::kw_only(), "palette"_a = "rgb5a3",
             "mipmaps"_a = py::int_(0), "quality"_a = "normal", "dither"_a = false, "wrap"_a = py::str("clamp"),
             "filter"_a = py::str("linear"), "alpha_key"_a = py::none())
        .def_property_readonly("format", [](const PictureInput& in) { return formatName(in.texture.options.format); })
        .def_property_readonly("palette",
                               [](const PictureInput& in) { return paletteFormatName(in.texture.options.paletteFormat); })
        .def_property_readonly("level_count", [](const PictureInput& in) { return in.texture.levels; })
        .def_property_readonly("quality",
                               [](const PictureInput& in) { return qualityName(in.texture.options.quality); })
        .def_property_readonly("dither", [](const PictureInput& in) { return in.texture.options.dither; })
        .def_property_readonly("wrap_s", [](const PictureInput& in) { return wrapModeName(in.texture.sampler.wrapS); })
        .def_property_readonly("wrap_t", [](const PictureInput& in) { return wrapModeName(in.texture.sampler.wrapT); })
        .def_property_readonly("min_filter",
                               [](const PictureInput& in) { return filterName(in.texture.sampler.minFilter); })
        .def_property_readonly("mag_filter",
                               [](const PictureInput& in) { return filterName(in.texture.sampler.magFilter); })
        .def_property_readonly("alpha_key",
                               [](const PictureInput& in) -> py::object {
                                   if (!in.key) return py::none();
                                   return py::make_tuple((*in.key)[0], (*in.key)[1], (*in.key)[2]);
                               })
        .def_property_readonly("width", [](const PictureInput& in) { return in.picture.width; })
        .def_property_readonly("height", [](const PictureInput& in) { return in.picture.height; })
        .def("__repr__", [](const PictureInput& in) {
            return "<tplforge.TextureInput " + lowerCase(formatName(in.texture.options.format)) + " " +
                   std::to_string(in.picture.width) + "x" + std::to_string(in.picture.height) + ", " +
                   std::to_string(in.texture.levels) + " level(s), alpha_key=" + keyText(in) + ">";
        });

    py::class_<ReplaceResult>(m, "ReplaceResult", docs::kReplaceResult)
        .def_readonly("changed", &ReplaceResult::changed,
                      "Textures whose bytes changed: 0 when the picture shows what the texture holds.")
        .def_readonly("notes", &ReplaceResult::notes,
                      "What tplforge-cli replace notes: merged palettes, new sides, images shared by other textures.")
        .def_readonly("written", &ReplaceResult::written,
                      "The files written: the file or output, and a standalone TEX0's PLT0.")
        .def("__repr__", [](const ReplaceResult& r) {
            return "<tplforge.ReplaceResult changed=" + std::to_string(r.changed) + ", " +
                   std::to_string(r.notes.size()) + " note(s)>";
        });

    m.def("read_tpl", &readTpl, "source"_a, docs::kReadTpl);
    m.def("read_textures", &readTextures, "path"_a, docs::kReadTextures);
    m.def("replace_texture", &replaceTexture, "path"_a, "picture"_a, py::kw_only(), "texture"_a = py::none(),
          "output"_a = py::none(), "format"_a = py::none(), "palette"_a = py::none(), "entries"_a = py::none(),
          "mipmaps"_a = py::none(), "quality"_a = py::none(), "dither"_a = py::none(), "wrap"_a = py::none(),
          "filter"_a = py::none(), "alpha_key"_a = py::none(), "strict"_a = false, "threads"_a = 0u,
          docs::kReplaceTexture);
    m.def("info", &info, "source"_a, docs::kInfo);
    m.def("encode_tpl", &encodeToBytes, "textures"_a, py::kw_only(), "threads"_a = 0u,
          docs::kEncodeTpl);
    m.def("write_tpl", &writeTpl, "path"_a, "textures"_a, py::kw_only(), "threads"_a = 0u,
          docs::kWriteTpl);
    m.def("read_png", [](const py::object& source) { return readPicture<PngError>(source, &readPngWhole); },
          "source"_a, docs::kReadPng);
    m.def("read_targa", [](const py::object& source) { return readPicture<TargaError>(source, &readTarga); },
          "source"_a, docs::kReadTarga);
}

}  // namespace tplforge::python

PYBIND11_MODULE(_tplforge, m) { tplforge::python::defineModule(m); }
