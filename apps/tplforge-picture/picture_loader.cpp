#include "picture_loader.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <optional>
#include <vector>

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QImageReader>
#include <QPainter>
#include <QSvgRenderer>

#include <emf2svg.h>
#include <libwmf/api.h>
#include <libwmf/gd.h>
#include <libwmf/gd/gd.h>
#include <libwmf/ipa.h>

#include "tplforge/bytes.h"
#include "tplforge/file_io.h"

namespace tplforge {

namespace {

using Bytes = std::span<const std::uint8_t>;

enum class Kind { Unknown, Bmp, Dib, Gif, Jpeg, Png, Ico, Cur, Wmf, Emf };

bool startsWith(Bytes bytes, std::initializer_list<std::uint8_t> magic) {
    ByteReader in(bytes);
    const auto head = in.bytes(magic.size());
    return head && std::equal(magic.begin(), magic.end(), head->begin());
}

// A header-less bitmap: the info header comes first, with one plane and a
// known bit count.
bool looksLikePackedDib(Bytes bytes) {
    ByteReader in(bytes);
    const auto headerSize = in.u32le();
    if (!headerSize) return false;
    std::optional<std::uint16_t> planes;
    std::optional<std::uint16_t> bitCount;
    if (*headerSize == 12) {
        in.skip(4);
        planes = in.u16le();
        bitCount = in.u16le();
    } else if (*headerSize == 40 || *headerSize == 52 || *headerSize == 56 || *headerSize == 108 ||
               *headerSize == 124) {
        in.skip(8);
        planes = in.u16le();
        bitCount = in.u16le();
    } else {
        return false;
    }
    if (!planes || !bitCount || *planes != 1) return false;
    constexpr std::array<std::uint16_t, 6> kBitCounts{1, 4, 8, 16, 24, 32};
    return std::find(kBitCounts.begin(), kBitCounts.end(), *bitCount) != kBitCounts.end();
}

int imageCount(Bytes bytes) {
    ByteReader in(bytes);
    in.skip(4);
    return in.u16le().value_or(0);
}

// The content decides, never the name: a ".dib" is nearly always an ordinary
// "BM" bitmap, which Qt's "dib" reader (for header-less bitmaps) would refuse.
Kind sniff(Bytes bytes) {
    if (startsWith(bytes, {'B', 'M'})) return Kind::Bmp;
    if (startsWith(bytes, {'G', 'I', 'F', '8'})) return Kind::Gif;
    if (startsWith(bytes, {0xFF, 0xD8, 0xFF})) return Kind::Jpeg;
    if (startsWith(bytes, {0x89, 'P', 'N', 'G'})) return Kind::Png;
    // An icon or cursor lists at least one image; this also keeps a plain Targa
    // header (which starts 00 00 02 00 too) out.
    if (startsWith(bytes, {0, 0, 1, 0}) && imageCount(bytes) > 0) return Kind::Ico;
    if (startsWith(bytes, {0, 0, 2, 0}) && imageCount(bytes) > 0) return Kind::Cur;
    if (startsWith(bytes, {0xD7, 0xCD, 0xC6, 0x9A})) return Kind::Wmf;
    if (startsWith(bytes, {1, 0, 9, 0}) || startsWith(bytes, {2, 0, 9, 0})) return Kind::Wmf;
    if (isEnhancedMetafile(bytes)) return Kind::Emf;
    if (looksLikePackedDib(bytes)) return Kind::Dib;
    return Kind::Unknown;
}

// Qt's own ceiling for decoded images (256 MiB unless the user raised it); the
// metafile renderers honour it too, so no reader can be talked into a giant
// allocation by a forged header.
bool fitsAllocationLimit(qint64 width, qint64 height) {
    if (width <= 0 || height <= 0) return true;
    const qint64 limitMiB = QImageReader::allocationLimit();
    if (limitMiB <= 0) return true;
    // Divided, not multiplied: a forged 32-bit width times height overflows.
    const qint64 limitPixels = limitMiB * 1024 * 1024 / 4;
    return width <= limitPixels && height <= limitPixels / width;
}

// Qt's bitmap reader fills in whatever rows a cut-short file lacks, and does
// not report the size of a bitmap too large to hold; both are read from the
// header here. Nothing when the bitmap looks whole and fits.
std::optional<PictureError> checkBitmap(Bytes bytes, bool withFileHeader) {
    ByteReader in(bytes);
    std::optional<std::uint32_t> dataOffset;
    if (withFileHeader) {
        in.skip(10);
        dataOffset = in.u32le();
        if (!dataOffset) return PictureError::Corrupt;
    }
    const auto headerSize = in.u32le();
    if (!headerSize) return PictureError::Corrupt;
    qint64 width = 0;
    qint64 height = 0;
    std::optional<std::uint16_t> bitCount;
    std::uint32_t compression = 0;
    std::uint32_t coloursUsed = 0;
    if (*headerSize == 12) {
        const auto w = in.u16le();
        const auto h = in.u16le();
        in.skip(2);
        bitCount = in.u16le();
        if (!w || !h) return PictureError::Corrupt;
        width = *w;
        height = *h;
    } else if (*headerSize >= 40) {
        const auto w = in.u32le();
        const auto h = in.u32le();
        in.skip(2);
        bitCount = in.u16le();
        const auto c = in.u32le();
        in.skip(12);
        const auto used = in.u32le();
        if (!w || !h || !c || !used) return PictureError::Corrupt;
        width = static_cast<std::int32_t>(*w);
        height = qAbs(qint64(static_cast<std::int32_t>(*h)));
        compression = *c;
        coloursUsed = *used;
    } else {
        return PictureError::Corrupt;
    }
    if (!bitCount || width <= 0 || height <= 0) return PictureError::Corrupt;
    if (!fitsAllocationLimit(width, height)) return PictureError::TooLarge;

    constexpr std::uint32_t kRgb = 0, kBitFields = 3, kAlphaBitFields = 6;
    if (compression != kRgb && compression != kBitFields && compression != kAlphaBitFields) return std::nullopt;
    if (!dataOffset) {
        // Header-less: masks and colour table follow the info header directly.
        qint64 offset = *headerSize;
        if (*headerSize == 40 && compression == kBitFields) offset += 12;
        if (*headerSize == 40 && compression == kAlphaBitFields) offset += 16;
        const qint64 colours = *bitCount <= 8 && coloursUsed == 0 ? (qint64(1) << *bitCount) : coloursUsed;
        offset += colours * (*headerSize == 12 ? 3 : 4);
        dataOffset = static_cast<std::uint32_t>(std::min<qint64>(offset, 0xFFFFFFFF));
    }
    const qint64 rowBits = width * *bitCount;
    const qint64 stride = (rowBits + 31) / 32 * 4;
    // The last row's padding may be missing; some writers leave it off.
    const qint64 needed = qint64(*dataOffset) + stride * (height - 1) + (rowBits + 7) / 8;
    if (qint64(bytes.size()) < needed) return PictureError::Corrupt;
    return std::nullopt;
}

// libjpeg only warns about a file cut short and pads the missing rows with grey,
// so Qt reports success; the marker structure tells whether the end was reached.
bool jpegIsComplete(Bytes bytes) {
    ByteReader in(bytes);
    if (!in.skip(2)) return false;  // start of image
    for (;;) {
        auto byte = in.u8();
        if (!byte) return false;
        if (*byte != 0xFF) continue;  // stray bytes between segments, as libjpeg skips them
        auto marker = in.u8();
        while (marker && *marker == 0xFF) marker = in.u8();
        if (!marker) return false;
        if (*marker == 0xD9) return true;
        if (*marker == 0x01 || (*marker >= 0xD0 && *marker <= 0xD7)) continue;  // no length field
        const auto length = in.u16be();
        if (!length || *length < 2 || !in.skip(*length - 2u)) return false;
        if (*marker != 0xDA) continue;
        // Entropy-coded data runs to the next marker that is neither a stuffed
        // zero nor a restart marker.
        for (;;) {
            byte = in.u8();
            if (!byte) return false;
            if (*byte != 0xFF) continue;
            auto next = in.u8();
            while (next && *next == 0xFF) next = in.u8();
            if (!next) return false;
            if (*next == 0x00 || (*next >= 0xD0 && *next <= 0xD7)) continue;
            if (*next == 0xD9) return true;
            in.seek(in.position() - 2);  // let the outer loop read this marker
            break;
        }
    }
}

struct IconImage {
    qint64 pixels = 0;
    int bitsPerPixel = 0;
};

// Size and depth of one icon image from its own header (the directory's byte
// fields cap at 256 and, in a cursor, hold the hot spot instead of the depth).
std::optional<IconImage> iconImageAt(Bytes bytes, std::uint32_t offset) {
    ByteReader in(bytes);
    if (!in.seek(offset)) return std::nullopt;
    if (startsWith(bytes.subspan(offset), {0x89, 'P', 'N', 'G'})) {
        if (!in.skip(16)) return std::nullopt;  // signature, IHDR length and type
        const auto width = in.u32be();
        const auto height = in.u32be();
        const auto bitDepth = in.u8();
        const auto colourType = in.u8();
        if (!width || !height || !bitDepth || !colourType) return std::nullopt;
        constexpr std::array<int, 7> kChannels{1, 0, 3, 1, 2, 0, 4};
        const int channels = *colourType < kChannels.size() ? kChannels[*colourType] : 0;
        // PNG sides stop at 2^31 - 1; a forged pair must not overflow the product.
        const auto side = [](std::uint32_t v) { return std::min<qint64>(v, 0x7FFFFFFF); };
        return IconImage{side(*width) * side(*height), channels * *bitDepth};
    }
    if (!in.skip(4)) return std::nullopt;  // header size
    const auto width = in.u32le();
    const auto doubledHeight = in.u32le();  // colour rows and mask rows
    if (!in.skip(2)) return std::nullopt;
    const auto bitCount = in.u16le();
    if (!width || !doubledHeight || !bitCount) return std::nullopt;
    const qint64 w = static_cast<std::int32_t>(*width);
    const qint64 h = static_cast<std::int32_t>(*doubledHeight) / 2;
    return IconImage{std::max<qint64>(w, 0) * std::max<qint64>(h, 0), *bitCount};
}

// An icon or cursor with several images gives its largest one, and among
// equally large ones the one with the most bits a pixel; on a full tie the
// first listed. -1: a damaged directory.
int pickIconImage(Bytes bytes) {
    ByteReader in(bytes);
    if (!in.skip(4)) return -1;
    const auto count = in.u16le();
    if (!count || *count == 0) return -1;
    int best = -1;
    IconImage bestImage;
    for (int i = 0; i < *count; ++i) {
        if (!in.skip(12)) return -1;  // sizes, colours, planes/hot spot, depth, byte count
        const auto offset = in.u32le();
        if (!offset) return -1;
        const auto image = iconImageAt(bytes, *offset);
        if (!image) continue;
        if (best < 0 || image->pixels > bestImage.pixels ||
            (image->pixels == bestImage.pixels && image->bitsPerPixel > bestImage.bitsPerPixel)) {
            best = i;
            bestImage = *image;
        }
    }
    return best;
}

// Qt's RGBA8888 is byte for byte the codec's layout, straight alpha.
Image straightImage(const QImage& source) {
    const QImage image = source.convertToFormat(QImage::Format_RGBA8888);
    if (image.isNull()) return {};
    Image out(static_cast<std::uint32_t>(image.width()), static_cast<std::uint32_t>(image.height()));
    for (std::uint32_t y = 0; y < out.height; ++y) {
        const uchar* line = image.constScanLine(static_cast<int>(y));
        std::copy(line, line + out.stride(), out.row(y).begin());
    }
    return out;
}

constexpr std::uint32_t redOf(std::uint32_t rrggbb) { return rrggbb >> 16 & 0xFF; }
constexpr std::uint32_t greenOf(std::uint32_t rrggbb) { return rrggbb >> 8 & 0xFF; }
constexpr std::uint32_t blueOf(std::uint32_t rrggbb) { return rrggbb & 0xFF; }

// One channel of coverage `alpha` over the backdrop, rounded: x / 255 as a
// multiply, exact below 65536.
constexpr std::uint32_t blendChannel(std::uint32_t fg, std::uint32_t bg, std::uint32_t alpha) {
    return ((fg * alpha + bg * (255 - alpha) + 127) * 0x8081) >> 23;
}

// Every pixel drawn over the colour, alpha 255 after. Some readers (icons, for
// one) decode to premultiplied pixels; compositing those as they are avoids a
// second rounding on the way.
Image overColour(const QImage& source, std::uint32_t back) {
    if (source.isNull()) return {};
    const bool premultiplied = source.pixelFormat().premultiplied() == QPixelFormat::Premultiplied;
    const QImage::Format wanted = premultiplied ? QImage::Format_ARGB32_Premultiplied : QImage::Format_ARGB32;
    const QImage image = source.format() == wanted ? source : source.convertToFormat(wanted);
    if (image.isNull()) return {};
    Image out(static_cast<std::uint32_t>(image.width()), static_cast<std::uint32_t>(image.height()));
    const std::uint32_t backR = redOf(back), backG = greenOf(back), backB = blueOf(back);
    for (std::uint32_t y = 0; y < out.height; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(static_cast<int>(y)));
        std::uint8_t* q = out.row(y).data();
        for (std::uint32_t x = 0; x < out.width; ++x, q += 4) {
            const QRgb p = line[x];
            const std::uint32_t alpha = qAlpha(p);
            std::uint32_t r = qRed(p), g = qGreen(p), b = qBlue(p);
            if (alpha != 255 && premultiplied) {
                const std::uint32_t rest = 255 - alpha;
                auto channel = [rest](std::uint32_t premultipliedValue, std::uint32_t bg) {
                    return std::min<std::uint32_t>(255, premultipliedValue + (bg * rest + 127) / 255);
                };
                r = channel(r, backR), g = channel(g, backG), b = channel(b, backB);
            } else if (alpha != 255) {
                r = blendChannel(r, backR, alpha), g = blendChannel(g, backG, alpha), b = blendChannel(b, backB, alpha);
            }
            q[0] = static_cast<std::uint8_t>(r);
            q[1] = static_cast<std::uint8_t>(g);
            q[2] = static_cast<std::uint8_t>(b);
            q[3] = 255;
        }
    }
    return out;
}

Expected<Image, PictureError> finish(const QImage& image, const Backdrop& backdrop) {
    Image out = backdrop.overColour ? overColour(image, *backdrop.overColour) : straightImage(image);
    if (out.empty()) return fail(PictureError::TooLarge);
    return out;
}

Expected<Image, PictureError> readWithQt(Bytes bytes, Kind kind, const Backdrop& backdrop) {
    const char* format = "bmp";
    switch (kind) {
        case Kind::Bmp: format = "bmp"; break;
        case Kind::Dib: format = "dib"; break;
        case Kind::Gif: format = "gif"; break;
        case Kind::Jpeg: format = "jpeg"; break;
        case Kind::Png: format = "png"; break;
        case Kind::Ico:
        case Kind::Cur: format = "ico"; break;
        default: return fail(PictureError::NotAPicture);
    }
    if (kind == Kind::Jpeg && !jpegIsComplete(bytes)) return fail(PictureError::Corrupt);
    if (kind == Kind::Bmp || kind == Kind::Dib) {
        if (const auto problem = checkBitmap(bytes, kind == Kind::Bmp)) return fail(*problem);
    }

    int imageIndex = 0;
    if (kind == Kind::Ico || kind == Kind::Cur) {
        imageIndex = pickIconImage(bytes);
        if (imageIndex < 0) return fail(PictureError::Corrupt);
    }

    QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<qsizetype>(bytes.size()));
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, format);
    reader.setAutoTransform(false);
    if (!reader.canRead()) return fail(PictureError::Corrupt);
    if (imageIndex > 0 && !reader.jumpToImage(imageIndex)) return fail(PictureError::Corrupt);
    const QSize size = reader.size();
    if (size.isValid() && !fitsAllocationLimit(size.width(), size.height())) return fail(PictureError::TooLarge);

    QImage image;
    if (!reader.read(&image) || image.isNull()) return fail(PictureError::Corrupt);
    return finish(image, backdrop);
}

// ---- Windows metafiles -----------------------------------------------------

// libwmf creates the gd image of its image target but never frees it; this
// mirrors gd's own destructor (plain malloc blocks, see libwmf/gd/gd.h).
void destroyGdImage(gdImage* image) {
    if (!image) return;
    if (image->pixels) {
        for (int y = 0; y < image->sy; ++y) std::free(image->pixels[y]);
        std::free(image->pixels);
    }
    if (image->tpixels) {
        std::free(image->_tpixels);
        std::free(image->tpixels);
    }
    std::free(image->polyInts);
    std::free(image->style);
    if (image->clip) {
        std::free(image->clip->list);
        std::free(image->clip);
    }
    std::free(image);
}

class WmfSession {
public:
    WmfSession() {
        wmfAPI_Options options{};
        options.function = wmf_gd_function;
        const unsigned long flags = WMF_OPT_FUNCTION | WMF_OPT_IGNORE_NONFATAL | WMF_OPT_NO_ERROR | WMF_OPT_NO_DEBUG;
        created_ = wmf_api_create(&api_, flags, &options) == wmf_E_None;
    }
    ~WmfSession() {
        if (!api_) return;
        if (wmf_gd_t* device = WMF_GD_GetData(api_)) {
            destroyGdImage(static_cast<gdImage*>(device->gd_image));
            device->gd_image = nullptr;
        }
        wmf_api_destroy(api_);
    }
    WmfSession(const WmfSession&) = delete;
    WmfSession& operator=(const WmfSession&) = delete;

    bool created() const { return created_ && api_ != nullptr; }
    wmfAPI* api() const { return api_; }

private:
    wmfAPI* api_ = nullptr;
    bool created_ = false;
};

// libwmf's image device starts every picture on white; like every other
// picture with parts left unpainted, a metafile belongs over the backdrop's
// colour, or on nothing at all when its alpha is kept. The device's own begin step (kept
// with the backdrop in the session's user data) creates the gd image, which its
// private state holds as its first member until the end step hands it out; the
// size check guards that assumption, and a mismatch simply leaves the white.
struct WmfBackdrop {
    void (*originalBegin)(wmfAPI*) = nullptr;
    int gdAlpha = 0;  // gd keeps 7 bits of alpha, 0 opaque to 127 clear
    std::uint32_t colour = 0;
};

// What the unpainted parts of a metafile hold under alpha 0 when the alpha is
// kept: the grey the window draws them over, so that both reads of a file agree
// on every colour.
constexpr std::uint32_t kUnpaintedColour = 0xF0F0F0;

void beginOnBackdrop(wmfAPI* api) {
    const auto* backdrop = static_cast<const WmfBackdrop*>(api->user_data);
    if (!backdrop) return;
    if (backdrop->originalBegin) backdrop->originalBegin(api);
    const wmf_gd_t* device = WMF_GD_GetData(api);
    if (!device || !device->gd_data) return;
    const gdImage* image = *static_cast<gdImage* const*>(device->gd_data);
    if (!image || !image->trueColor || !image->tpixels || image->sx != static_cast<int>(device->width) ||
        image->sy != static_cast<int>(device->height))
        return;
    // Clear pixels keep the backdrop's colour, so that drawing them over it
    // later changes nothing.
    const int fill = static_cast<int>((std::uint32_t(backdrop->gdAlpha) << 24) | backdrop->colour);
    for (int y = 0; y < image->sy; ++y) std::fill_n(image->tpixels[y], image->sx, fill);
}

void drawOnBackdrop(wmfAPI* api, WmfBackdrop& backdrop) {
    auto* functions = static_cast<wmfFunctionReference*>(api->function_reference);
    if (!functions || functions->device_begin == beginOnBackdrop) return;
    backdrop.originalBegin = functions->device_begin;
    api->user_data = &backdrop;
    functions->device_begin = beginOnBackdrop;
}

constexpr std::uint32_t coverageFromGdAlpha(std::uint32_t gdAlpha) {
    return ((127 - gdAlpha) * 255 + 63) / 127;
}

// libwmf sizes its record buffer from the header's largest-record field before
// it reads a single record; no record can be larger than the file.
bool wmfLargestRecordFits(Bytes bytes) {
    ByteReader in(bytes);
    if (startsWith(bytes, {0xD7, 0xCD, 0xC6, 0x9A})) in.skip(22);  // placeable header
    if (!in.skip(12)) return false;  // type, header size, version, file size, object count
    const auto largestWords = in.u32le();
    return largestWords && std::uint64_t{*largestWords} * 2 <= bytes.size();
}

Expected<Image, PictureError> renderWmf(Bytes bytes, const Backdrop& backdrop) {
    if (!wmfLargestRecordFits(bytes)) return fail(PictureError::Corrupt);
    std::vector<unsigned char> data(bytes.begin(), bytes.end());  // libwmf wants a mutable buffer
    WmfSession session;
    if (!session.created()) return fail(PictureError::Corrupt);
    wmfAPI* api = session.api();
    wmf_gd_t* device = WMF_GD_GetData(api);
    if (!device) return fail(PictureError::Corrupt);

    if (wmf_mem_open(api, data.data(), static_cast<long>(data.size())) != wmf_E_None)
        return fail(PictureError::Corrupt);
    wmfD_Rect bbox{};
    if (wmf_scan(api, 0, &bbox) != wmf_E_None) return fail(PictureError::Corrupt);
    unsigned int width = 0;
    unsigned int height = 0;
    if (wmf_display_size(api, &width, &height, 96, 96) != wmf_E_None) return fail(PictureError::Corrupt);
    if (width == 0 || height == 0) return fail(PictureError::Corrupt);
    if (!fitsAllocationLimit(width, height)) return fail(PictureError::TooLarge);

    // The scanned box hugs what is drawn; a placeable file's frame (libwmf's
    // device units are points) keeps the margins its author laid out.
    if (api->File && api->File->placeable && api->PlaceableMetaHeader.Inch != 0) {
        const wmfPlaceableMetaHeader& frame = api->PlaceableMetaHeader;
        const float toPoints = 72.0f / static_cast<float>(frame.Inch);
        bbox.TL.x = std::min(frame.Left, frame.Right) * toPoints;
        bbox.TL.y = std::min(frame.Top, frame.Bottom) * toPoints;
        bbox.BR.x = std::max(frame.Left, frame.Right) * toPoints;
        bbox.BR.y = std::max(frame.Top, frame.Bottom) * toPoints;
    }

    const bool over = backdrop.overColour.has_value();
    const std::uint32_t back = backdrop.overColour.value_or(kUnpaintedColour);
    WmfBackdrop fill{nullptr, over ? 0 : 127, back};
    drawOnBackdrop(api, fill);
    device->type = wmf_gd_image;
    device->bbox = bbox;
    device->width = width;
    device->height = height;
    if (wmf_play(api, 0, &bbox) != wmf_E_None) return fail(PictureError::Corrupt);

    auto* image = static_cast<gdImage*>(device->gd_image);
    const int* pixels = image ? wmf_gd_image_pixels(image) : nullptr;
    if (!pixels || image->sx <= 0 || image->sy <= 0) return fail(PictureError::Corrupt);

    Image out(static_cast<std::uint32_t>(image->sx), static_cast<std::uint32_t>(image->sy));
    const std::span<const int> source(pixels, static_cast<std::size_t>(image->sx) * image->sy);
    for (std::size_t i = 0; i < source.size(); ++i) {
        const auto p = static_cast<std::uint32_t>(source[i]);
        const std::uint32_t r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
        const std::uint32_t coverage = coverageFromGdAlpha((p >> 24) & 0x7F);
        std::uint8_t* q = &out.rgba[4 * i];
        q[0] = static_cast<std::uint8_t>(over ? blendChannel(r, redOf(back), coverage) : r);
        q[1] = static_cast<std::uint8_t>(over ? blendChannel(g, greenOf(back), coverage) : g);
        q[2] = static_cast<std::uint8_t>(over ? blendChannel(b, blueOf(back), coverage) : b);
        q[3] = static_cast<std::uint8_t>(over ? 255 : coverage);
    }
    return out;
}

// ---- Enhanced metafiles ----------------------------------------------------

// libemf2svg trusts the record sizes and reads past the end of a file cut
// short, so the chain is walked here first: every record must fit, and the
// end-of-file record must be reached.
bool emfRecordsComplete(Bytes bytes) {
    constexpr std::uint32_t kEndOfFile = 14;
    ByteReader in(bytes);
    for (;;) {
        const std::size_t start = in.position();
        const auto type = in.u32le();
        const auto size = in.u32le();
        if (!type || !size || *size < 8 || *size % 4 != 0 || *size > in.remaining() + 8) return false;
        if (*type == kEndOfFile) return true;
        if (!in.seek(start + *size)) return false;
    }
}

// The header's bounds name the first and the last pixel drawn, both included.
// libemf2svg takes their difference for the picture's size (and divides by it,
// so a picture one pixel wide would get none); it is handed bounds that end one
// past the last pixel instead, which it then draws one unit a pixel.
struct EmfBounds {
    std::int32_t left, top, right, bottom;
    qint64 width() const { return qint64(right) - left + 1; }
    qint64 height() const { return qint64(bottom) - top + 1; }
};
constexpr std::size_t kEmfBoundsAt = 8;

std::optional<EmfBounds> emfBounds(Bytes bytes) {
    ByteReader in(bytes);
    if (!in.seek(kEmfBoundsAt)) return std::nullopt;
    const auto left = in.u32le(), top = in.u32le(), right = in.u32le(), bottom = in.u32le();
    if (!left || !top || !right || !bottom) return std::nullopt;
    const auto s = [](std::uint32_t v) { return static_cast<std::int32_t>(v); };
    const EmfBounds bounds{s(*left), s(*top), s(*right), s(*bottom)};
    // A side must fit Qt's int, and the last pixel one past must fit the header's field.
    const bool fits = bounds.right < INT32_MAX && bounds.bottom < INT32_MAX;
    if (!fits || bounds.width() <= 0 || bounds.height() <= 0 || bounds.width() > INT32_MAX ||
        bounds.height() > INT32_MAX)
        return std::nullopt;
    return bounds;
}

Expected<Image, PictureError> renderEmf(Bytes bytes, const Backdrop& backdrop) {
    if (!emfRecordsComplete(bytes)) return fail(PictureError::Corrupt);
    const auto bounds = emfBounds(bytes);
    if (!bounds) return fail(PictureError::Corrupt);
    const QSize size(static_cast<int>(bounds->width()), static_cast<int>(bounds->height()));
    if (!fitsAllocationLimit(size.width(), size.height())) return fail(PictureError::TooLarge);

    // emf2svg wants a mutable buffer; the zeros behind the data keep a record
    // that understates its own fields from reading beyond the allocation.
    ByteWriter copy(bytes.size() + 64);
    copy.append(bytes.first(kEmfBoundsAt + 8));
    copy.u32le(static_cast<std::uint32_t>(bounds->right + 1));
    copy.u32le(static_cast<std::uint32_t>(bounds->bottom + 1));
    copy.append(bytes.subspan(kEmfBoundsAt + 16));
    copy.zeros(64);
    std::vector<std::uint8_t>& data = copy.data();
    generatorOptions options{};
    options.nameSpace = nullptr;
    options.emfplus = true;
    options.svgDelimiter = true;
    char* svg = nullptr;
    std::size_t svgLength = 0;
    const int converted = emf2svg(reinterpret_cast<char*>(data.data()), bytes.size(), &svg, &svgLength, &options);
    const QByteArray document = converted == 1 && svg ? QByteArray(svg, static_cast<qsizetype>(svgLength)) : QByteArray();
    std::free(svg);
    if (document.isEmpty()) return fail(PictureError::Corrupt);

    QSvgRenderer renderer(document);
    if (!renderer.isValid()) return fail(PictureError::Corrupt);

    const bool over = backdrop.overColour.has_value();
    QImage image(size, over ? QImage::Format_RGB32 : QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) return fail(PictureError::TooLarge);
    if (over) {
        const std::uint32_t back = *backdrop.overColour;
        image.fill(QColor(static_cast<int>(redOf(back)), static_cast<int>(greenOf(back)), static_cast<int>(blueOf(back))));
    } else {
        image.fill(Qt::transparent);
    }
    QPainter painter(&image);
    renderer.render(&painter);
    painter.end();
    return finish(image, backdrop);
}

}  // namespace

Expected<Image, PictureError> loadPictureBytes(std::span<const std::uint8_t> bytes, const Backdrop& backdrop) {
    try {
        const Kind kind = sniff(bytes);
        switch (kind) {
            case Kind::Unknown: return fail(PictureError::NotAPicture);
            case Kind::Wmf: return renderWmf(bytes, backdrop);
            case Kind::Emf: return renderEmf(bytes, backdrop);
            default: return readWithQt(bytes, kind, backdrop);
        }
    } catch (const std::bad_alloc&) {
        return fail(PictureError::TooLarge);
    }
}

bool isEnhancedMetafile(std::span<const std::uint8_t> bytes) {
    ByteReader in(bytes);
    if (in.u32le() != 1u || !in.seek(40)) return false;
    const auto signature = in.bytes(4);
    return signature && std::equal(signature->begin(), signature->end(), " EMF");
}

Expected<Image, PictureError> loadPictureFile(const std::string& path, const Backdrop& backdrop) {
    try {
        auto bytes = readWholeFile(path);
        if (!bytes) return fail(PictureError::CannotOpen);
        return loadPictureBytes(*bytes, backdrop);
    } catch (const std::bad_alloc&) {
        return fail(PictureError::TooLarge);
    }
}

}  // namespace tplforge
