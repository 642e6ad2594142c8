#include "window/details.h"

#include <QCoreApplication>

#include "tplforge/archive.h"
#include "tplforge/dolphin.h"
#include "tplforge/format.h"
#include "tplforge/tpl.h"

namespace tplforge::browse {

namespace {

// The labels' translation context.
struct Labels {
    Q_DECLARE_TR_FUNCTIONS(Details)
};
QString latin(std::string_view s) { return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size())); }
QString named(std::string_view name, std::uint32_t code) { return QStringLiteral("%1 (%2)").arg(latin(name)).arg(code); }

// The TPL header, palette header and data offsets inside the member, as info gives them.
void tplOffsets(Details& out, const TextureRef& t, const TextureFile& file, const std::string& fileName) {
    if (t.container != FileKind::Tpl) return;
    auto member = openPath(file.bytes(), fileName, t.member);
    if (!member) return;
    auto headers = parseTpl(member->member.bytes);
    if (!headers || t.number == 0 || t.number > headers->images.size()) return;
    const TplImageHeader& h = headers->images[t.number - 1];
    out.append({Labels::tr("Header offset"), QString::number(h.headerOffset)});
    out.append({Labels::tr("Data offset"), QString::number(h.dataOffset)});
    if (h.paletteHeaderOffset != 0) out.append({Labels::tr("Palette header"), QString::number(h.paletteHeaderOffset)});
}

// A field of `bits` bits to 8 by repeating its bits, as the texture unit does.
std::uint8_t widen(std::uint32_t v, int bits) {
    std::uint32_t out = 0;
    for (int shift = 8 - bits; shift > -bits; shift -= bits) out |= shift >= 0 ? v << shift : v >> -shift;
    return static_cast<std::uint8_t>(out);
}

}  // namespace

Details detailsOf(const TextureRef& t, const TextureFile& file, const std::string& fileName) {
    Details out;
    const QString path = QString::fromStdString(t.path());
    out.append({Labels::tr("Path"), path});
    out.append({Labels::tr("Container"), latin(kindName(t.container))});
    out.append({Labels::tr("Name"), QString::fromStdString(t.name)});
    if (!t.storedName.empty()) out.append({Labels::tr("Stored name"), QString::fromStdString(t.storedName)});
    out.append({Labels::tr("Number"), QString::number(t.number)});
    out.append({Labels::tr("Size"), QStringLiteral("%1 × %2").arg(t.view.width).arg(t.view.height)});
    const auto code = static_cast<std::uint32_t>(t.view.format);
    out.append({Labels::tr("Format"), named(formatName(code), code)});
    QStringList levels;
    std::size_t bytes = 0;
    for (std::size_t k = 0; k < t.view.levels.size(); ++k) {
        levels << QStringLiteral("%1×%2").arg(levelSide(t.view.width, static_cast<unsigned>(k)))
                      .arg(levelSide(t.view.height, static_cast<unsigned>(k)));
        bytes += t.view.levels[k].size();
    }
    out.append({Labels::tr("Levels"), QStringLiteral("%1: %2").arg(t.view.levels.size()).arg(levels.join(QStringLiteral(", ")))});
    out.append({Labels::tr("Texel bytes"), QString::number(bytes)});
    if (t.view.palette) {
        const auto pf = static_cast<std::uint32_t>(t.view.palette->format);
        out.append({Labels::tr("Palette"), Labels::tr("%1, %2 entries").arg(named(paletteFormatName(pf), pf)).arg(t.view.palette->entryCount)});
    }
    tplOffsets(out, t, file, fileName);
    if (t.sampler) {
        const Sampler& s = *t.sampler;
        out.append({Labels::tr("Wrap S / T"), named(wrapModeName(s.wrapS), static_cast<std::uint32_t>(s.wrapS)) + QStringLiteral(" / ") +
                                          named(wrapModeName(s.wrapT), static_cast<std::uint32_t>(s.wrapT))});
        out.append({Labels::tr("Min / mag filter"),
                    named(filterName(s.minFilter), static_cast<std::uint32_t>(s.minFilter)) + QStringLiteral(" / ") +
                        named(filterName(s.magFilter), static_cast<std::uint32_t>(s.magFilter))});
        out.append({Labels::tr("LOD bias"), QString::number(static_cast<double>(s.lodBias))});
        out.append({Labels::tr("Edge LOD"), QString::number(s.edgeLod)});
        out.append({Labels::tr("Min LOD"), QString::number(s.minLod)});
    }
    if (t.settings && t.settings->maxLod) out.append({Labels::tr("Max LOD"), QString::number(*t.settings->maxLod)});
    if (const auto dolphin = t.dolphin()) {
        out.append({Labels::tr("Dolphin name"), QString::fromStdString(dolphin->name)});
        if (!dolphin->levels.empty())
            out.append({Labels::tr("Dolphin levels"), QStringLiteral("_mip1 … _mip%1").arg(dolphin->levels.size())});
        // A pack picture under any of these names replaces it, the first found winning.
        QStringList lookUp;
        for (const std::string& name : dolphinLookUpNames(*dolphin)) lookUp << QString::fromStdString(name);
        if (lookUp.size() > 1) out.append({Labels::tr("Pack look-up"), lookUp.mid(1).join(QStringLiteral(", "))});
        if (const std::string note = dolphinNote(*dolphin); !note.empty())
            out.append({Labels::tr("Dolphin note"), QString::fromStdString(note)});
    } else {
        out.append({Labels::tr("Dolphin name"), QString::fromStdString(describe(dolphin.error()))});
    }
    return out;
}

QString detailsText(const Details& details) {
    QString out;
    for (const auto& [label, value] : details) out += label + QStringLiteral(": ") + value + QLatin1Char('\n');
    return out;
}

QVector<QColor> paletteColours(const PaletteView& palette) {
    QVector<QColor> out;
    for (std::uint32_t i = 0; i < palette.entryCount && 2 * i + 1 < palette.words.size(); ++i) {
        const std::uint32_t w = std::uint32_t{palette.words[2 * i]} << 8 | palette.words[2 * i + 1];
        switch (palette.format) {
            case PaletteFormat::IA8: out.append(QColor(w & 0xFF, w & 0xFF, w & 0xFF, w >> 8)); break;
            case PaletteFormat::RGB565:
                out.append(QColor(widen(w >> 11, 5), widen((w >> 5) & 0x3F, 6), widen(w & 0x1F, 5)));
                break;
            case PaletteFormat::RGB5A3:
                if (w & 0x8000)
                    out.append(QColor(widen((w >> 10) & 0x1F, 5), widen((w >> 5) & 0x1F, 5), widen(w & 0x1F, 5)));
                else
                    out.append(QColor(widen((w >> 8) & 0xF, 4), widen((w >> 4) & 0xF, 4), widen(w & 0xF, 4),
                                      widen((w >> 12) & 0x7, 3)));
                break;
        }
    }
    return out;
}

}  // namespace tplforge::browse
