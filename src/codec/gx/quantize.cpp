#include "codec/gx/quantize.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <numeric>
#include <queue>
#include <stdexcept>
#include <type_traits>
#include <utility>

#include "codec/gx/texel.h"

namespace tplforge::palette {
namespace {

using texel::Rgba;

// Red, green, blue as stored (sRGB, so already companded close to how light looks),
// premultiplied by alpha, then alpha; all from 0 to 1. Not Oklab: its narrow chroma
// axes let one cluster span many hues of a lightness, which washed saturated pictures
// out (1.9 dB less on the benchmark photo at 256 entries).
using Vec = std::array<float, 4>;

constexpr std::size_t kWords = 65536;
constexpr std::size_t kMaxEntries = 16384;

float distance2(const Vec& p, const Vec& q) {
    const float d0 = p[0] - q[0], d1 = p[1] - q[1], d2 = p[2] - q[2], d3 = p[3] - q[3];
    return d0 * d0 + d1 * d1 + d2 * d2 + d3 * d3;
}

// Premultiplying lets colours that barely show lie close together and makes fully
// transparent ones coincide, however their invisible RGB differs; alpha as an axis of
// its own keeps a transparent colour from pulling an opaque one.
Vec toSpace(double r, double g, double b, double a) {
    const double k = a / (255.0 * 255.0);
    return {static_cast<float>(r * k), static_cast<float>(g * k), static_cast<float>(b * k),
            static_cast<float>(a / 255.0)};
}

Vec toSpace(Rgba c) { return toSpace(c.r, c.g, c.b, c.a); }

Rgba fromSpace(const Vec& v) {
    const double alpha = std::clamp(v[3], 0.0f, 1.0f);
    const auto byte = [](double x) { return static_cast<std::uint8_t>(std::lround(std::clamp(x, 0.0, 255.0))); };
    if (alpha < 1e-6) return {0, 0, 0, 0};
    return {byte(v[0] / alpha * 255), byte(v[1] / alpha * 255), byte(v[2] / alpha * 255), byte(alpha * 255)};
}

template <PaletteFormat F>
using FormatTag = std::integral_constant<PaletteFormat, F>;

// The format is a template parameter of the per-pixel loops, so that they do not
// switch on it for every pixel.
template <class Fn>
decltype(auto) withFormat(PaletteFormat format, Fn&& fn) {
    switch (format) {
        case PaletteFormat::IA8: return fn(FormatTag<PaletteFormat::IA8>{});
        case PaletteFormat::RGB565: return fn(FormatTag<PaletteFormat::RGB565>{});
        case PaletteFormat::RGB5A3: return fn(FormatTag<PaletteFormat::RGB5A3>{});
    }
    throw std::invalid_argument("unknown palette format");
}

// The best a format can show of a pixel: IA8 drops hue, RGB565 alpha. Clustering and
// dithering work on this, so they never chase what no entry could hold.
template <PaletteFormat F>
Rgba asShown(Rgba c) {
    if constexpr (F == PaletteFormat::IA8) {
        const std::uint8_t i = texel::intensity(c.r, c.g, c.b);
        return {i, i, i, c.a};
    } else if constexpr (F == PaletteFormat::RGB565) {
        c.a = 255;
    }
    return c;
}

// One distinct word of the picture: where its pixels lie on average, and how many.
struct Point {
    Vec pos;
    float weight;
    std::uint16_t word;
};

// Writes each pixel's own word into words and returns the distinct words in
// ascending order. Positions are means of the pixels, not the decoded word, so the
// error that clustering sees is the error against the 8-bit picture. The sums are
// integers: any pixel order gives the same points, so a shuffled picture gets the
// same palette.
template <PaletteFormat F>
std::vector<Point> collect(const Image& picture, std::span<std::uint16_t> words) {
    std::vector<std::uint32_t> count(kWords);
    std::vector<std::array<std::uint64_t, 4>> sum(kWords);
    const std::uint8_t* p = picture.rgba.data();
    for (std::size_t i = 0; i < words.size(); ++i, p += 4) {
        const Rgba c = asShown<F>({p[0], p[1], p[2], p[3]});
        const std::uint16_t w = texel::encodeEntry(F, c);
        words[i] = w;
        ++count[w];
        auto& s = sum[w];
        s[0] += c.r;
        s[1] += c.g;
        s[2] += c.b;
        s[3] += c.a;
    }
    std::vector<Point> points;
    for (std::size_t w = 0; w < kWords; ++w) {
        if (count[w] == 0) continue;
        const double n = count[w];
        const auto& s = sum[w];
        points.push_back({toSpace(double(s[0]) / n, double(s[1]) / n, double(s[2]) / n, double(s[3]) / n),
                          static_cast<float>(n), static_cast<std::uint16_t>(w)});
    }
    return points;
}

// Nearest-neighbour search over the entries; ties go to the lower index so that
// results never depend on the tree's shape.
class KdTree {
public:
    explicit KdTree(std::span<const Vec> items) : items_(items.begin(), items.end()), order_(items.size()) {
        std::iota(order_.begin(), order_.end(), 0u);
        if (!items_.empty()) build(0, static_cast<std::uint32_t>(order_.size()));
    }

    std::uint32_t nearest(const Vec& q) const {
        Best best{std::numeric_limits<float>::infinity(), 0};
        search(0, q, best);
        return best.index;
    }

private:
    static constexpr std::uint32_t kLeaf = 8;
    struct Node {
        std::uint32_t begin, end;
        int axis;  // -1: leaf
        float split;
        std::uint32_t left, right;
    };
    struct Best {
        float d;
        std::uint32_t index;
    };

    std::uint32_t build(std::uint32_t begin, std::uint32_t end) {
        const auto id = static_cast<std::uint32_t>(nodes_.size());
        nodes_.push_back({begin, end, -1, 0, 0, 0});
        if (end - begin <= kLeaf) return id;
        Vec lo, hi;
        lo.fill(std::numeric_limits<float>::infinity());
        hi.fill(-std::numeric_limits<float>::infinity());
        for (std::uint32_t i = begin; i < end; ++i) {
            for (std::size_t d = 0; d < 4; ++d) {
                lo[d] = std::min(lo[d], items_[order_[i]][d]);
                hi[d] = std::max(hi[d], items_[order_[i]][d]);
            }
        }
        int axis = 0;
        for (int d = 1; d < 4; ++d) {
            if (hi[d] - lo[d] > hi[axis] - lo[axis]) axis = d;
        }
        if (hi[axis] == lo[axis]) return id;
        const std::uint32_t mid = begin + (end - begin) / 2;
        std::nth_element(order_.begin() + begin, order_.begin() + mid, order_.begin() + end,
                         [&](std::uint32_t a, std::uint32_t b) {
                             return items_[a][axis] != items_[b][axis] ? items_[a][axis] < items_[b][axis] : a < b;
                         });
        const float split = items_[order_[mid]][axis];
        const std::uint32_t left = build(begin, mid);
        const std::uint32_t right = build(mid, end);
        nodes_[id].axis = axis;
        nodes_[id].split = split;
        nodes_[id].left = left;
        nodes_[id].right = right;
        return id;
    }

    void search(std::uint32_t id, const Vec& q, Best& best) const {
        const Node& n = nodes_[id];
        if (n.axis < 0) {
            for (std::uint32_t i = n.begin; i < n.end; ++i) {
                const std::uint32_t e = order_[i];
                const float d = distance2(q, items_[e]);
                if (d < best.d || (d == best.d && e < best.index)) best = {d, e};
            }
            return;
        }
        const float diff = q[n.axis] - n.split;
        search(diff < 0 ? n.left : n.right, q, best);
        if (diff * diff <= best.d) search(diff < 0 ? n.right : n.left, q, best);
    }

    std::vector<Vec> items_;
    std::vector<std::uint32_t> order_;
    std::vector<Node> nodes_;
};

// A set of entry words with what the console shows for each.
struct Entries {
    std::vector<std::uint16_t> words;
    std::vector<Rgba> colours;
    std::vector<Vec> shown;
    std::vector<std::int32_t> slot;  // word -> first entry holding it, or -1
    KdTree tree;

    Entries(PaletteFormat format, std::vector<std::uint16_t> entryWords)
        : words(std::move(entryWords)), slot(kWords, -1), tree(shownOf(format)) {}

    // A word the palette holds maps to its own entry even if another lies nearer to
    // its pixels' mean: what fits is never changed.
    std::uint32_t nearest(std::uint16_t word, const Vec& pos) const {
        const std::int32_t s = slot[word];
        return s >= 0 ? static_cast<std::uint32_t>(s) : tree.nearest(pos);
    }

private:
    std::span<const Vec> shownOf(PaletteFormat format) {
        for (std::size_t e = words.size(); e-- > 0;) slot[words[e]] = static_cast<std::int32_t>(e);
        for (const std::uint16_t w : words) {
            colours.push_back(texel::decodeEntry(format, w));
            shown.push_back(toSpace(colours.back()));
        }
        return shown;
    }
};

// Weighted sums of a set of points, enough for its mean and squared error.
struct Sums {
    double w = 0, s2 = 0;
    std::array<double, 4> s{};

    void add(const Point& p) {
        w += p.weight;
        for (std::size_t d = 0; d < 4; ++d) {
            s[d] += double{p.weight} * p.pos[d];
            s2 += double{p.weight} * p.pos[d] * p.pos[d];
        }
    }
    void add(const Sums& o) {
        w += o.w;
        s2 += o.s2;
        for (std::size_t d = 0; d < 4; ++d) s[d] += o.s[d];
    }
    Sums minus(const Sums& o) const {
        Sums r{w - o.w, s2 - o.s2, {}};
        for (std::size_t d = 0; d < 4; ++d) r.s[d] = s[d] - o.s[d];
        return r;
    }
    double sse() const {
        if (w <= 0) return 0;
        double m = 0;
        for (const double v : s) m += v * v;
        return std::max(0.0, s2 - m / w);
    }
    Vec mean() const {
        Vec v{};
        for (std::size_t d = 0; d < 4; ++d) v[d] = static_cast<float>(s[d] / w);
        return v;
    }
};

// Splits the box with the most squared error until there are `count` boxes, each cut
// across its axis of greatest variance where the two halves' summed error is least.
// Cuts are chosen among 256 bins of the axis rather than after sorting: as good once
// k-means has moved the centres, and several times faster.
std::vector<Vec> medianCut(std::span<Point> points, std::size_t count) {
    struct Box {
        std::size_t begin, end;
        Sums sums;
    };
    const auto lighter = [](const Box& a, const Box& b) {
        const double ea = a.sums.sse(), eb = b.sums.sse();
        return ea != eb ? ea < eb : a.begin > b.begin;
    };
    std::priority_queue<Box, std::vector<Box>, decltype(lighter)> queue(lighter);
    std::vector<Vec> centres;

    Box all{0, points.size(), {}};
    for (const Point& p : points) all.sums.add(p);
    queue.push(all);
    while (!queue.empty() && queue.size() + centres.size() < count) {
        const Box box = queue.top();
        queue.pop();
        const auto range = points.subspan(box.begin, box.end - box.begin);
        const Vec mean = box.sums.mean();
        std::array<double, 4> var{};
        Vec lo = range[0].pos, hi = range[0].pos;
        for (const Point& p : range) {
            for (std::size_t d = 0; d < 4; ++d) {
                var[d] += p.weight * (p.pos[d] - mean[d]) * (p.pos[d] - mean[d]);
                lo[d] = std::min(lo[d], p.pos[d]);
                hi[d] = std::max(hi[d], p.pos[d]);
            }
        }
        const auto axis = static_cast<std::size_t>(std::max_element(var.begin(), var.end()) - var.begin());
        if (range.size() < 2 || !(hi[axis] > lo[axis])) {
            centres.push_back(mean);
            continue;
        }
        constexpr std::size_t kBins = 256;
        const float scale = kBins / (hi[axis] - lo[axis]);
        const auto binOf = [&](const Point& p) {
            return std::min(kBins - 1, static_cast<std::size_t>((p.pos[axis] - lo[axis]) * scale));
        };
        std::array<Sums, kBins> bins{};
        for (const Point& p : range) bins[binOf(p)].add(p);
        Sums left, bestLeft;
        std::size_t cut = 1;
        double bestError = std::numeric_limits<double>::infinity();
        for (std::size_t b = 1; b < kBins; ++b) {
            left.add(bins[b - 1]);
            if (left.w <= 0 || left.w >= box.sums.w) continue;
            const double error = left.sse() + box.sums.minus(left).sse();
            if (error < bestError) {
                bestError = error;
                bestLeft = left;
                cut = b;
            }
        }
        const auto middle = std::partition(range.begin(), range.end(), [&](const Point& p) { return binOf(p) < cut; });
        const auto split = box.begin + static_cast<std::size_t>(middle - range.begin());
        queue.push({box.begin, split, bestLeft});
        queue.push({split, box.end, box.sums.minus(bestLeft)});
    }
    for (; !queue.empty(); queue.pop()) centres.push_back(queue.top().sums.mean());
    return centres;
}

template <PaletteFormat F>
std::vector<std::uint16_t> distinctWords(std::span<const Vec> centres) {
    std::vector<std::uint16_t> words;
    for (const Vec& c : centres) words.push_back(texel::encodeEntry(F, fromSpace(c)));
    std::sort(words.begin(), words.end());
    words.erase(std::unique(words.begin(), words.end()), words.end());
    return words;
}

// Lloyd passes judged by the decoded entries. Centres whose words collide or that
// lose all their points are reseeded at the worst-served points, so the palette
// stays as full as the picture allows.
template <PaletteFormat F>
std::vector<std::uint16_t> refine(std::span<const Point> points, std::vector<Vec> centres, std::size_t maxEntries,
                                  int passes) {
    std::vector<std::uint16_t> words = distinctWords<F>(centres);
    for (int pass = 0; pass < passes; ++pass) {
        const Entries entries(F, words);
        std::vector<Sums> sums(words.size());
        std::vector<std::pair<float, std::uint32_t>> misfits;
        for (std::uint32_t i = 0; i < points.size(); ++i) {
            const Point& p = points[i];
            const std::uint32_t e = entries.nearest(p.word, p.pos);
            sums[e].add(p);
            if (entries.slot[p.word] < 0) misfits.emplace_back(p.weight * distance2(p.pos, entries.shown[e]), i);
        }
        centres.clear();
        for (const Sums& s : sums) {
            if (s.w > 0) centres.push_back(s.mean());
        }
        const std::size_t free = std::min(maxEntries - centres.size(), misfits.size());
        std::partial_sort(misfits.begin(), misfits.begin() + static_cast<std::ptrdiff_t>(free), misfits.end(),
                          [](const auto& a, const auto& b) {
                              return a.first != b.first ? a.first > b.first : a.second < b.second;
                          });
        for (std::size_t k = 0; k < free; ++k) centres.push_back(points[misfits[k].second].pos);
        std::vector<std::uint16_t> next = distinctWords<F>(centres);
        if (next == words) break;
        words = std::move(next);
    }
    return words;
}

void mapByWord(std::span<const Point> points, const Entries& entries, std::span<std::uint16_t> indices) {
    std::vector<std::uint16_t> table(kWords);
    for (const Point& p : points) table[p.word] = static_cast<std::uint16_t>(entries.nearest(p.word, p.pos));
    for (std::uint16_t& i : indices) i = table[i];
}

// Serpentine Floyd–Steinberg in sRGB values and alpha. A pixel whose own word is an
// entry takes it and drops the error it is handed, so areas that fit stay clean.
// The colour error of a pixel is scaled by its alpha: what does not show is not owed.
template <PaletteFormat F>
void mapDithered(const Image& picture, const Entries& entries, std::span<std::uint16_t> indices) {
    const std::size_t width = picture.width;
    using Error = std::array<float, 4>;
    std::vector<Error> here(width + 2), below(width + 2);
    std::vector<std::int32_t> cache(kWords, -1);
    for (std::size_t y = 0; y < picture.height; ++y) {
        const bool rightward = y % 2 == 0;
        std::fill(below.begin(), below.end(), Error{});
        Error carry{};  // the 7/16 for the next pixel, kept out of memory
        for (std::size_t k = 0; k < width; ++k) {
            const std::size_t x = rightward ? k : width - 1 - k;
            const std::size_t i = y * width + x;
            const std::uint8_t* p = &picture.rgba[4 * i];
            const Rgba c = asShown<F>({p[0], p[1], p[2], p[3]});
            std::array<float, 4> v{float(c.r), float(c.g), float(c.b), float(c.a)};
            std::int32_t e = entries.slot[texel::encodeEntry(F, c)];
            if (e < 0) {
                for (std::size_t ch = 0; ch < 4; ++ch) {
                    v[ch] = std::clamp(v[ch] + here[x + 1][ch] + carry[ch], 0.0f, 255.0f);
                }
                const auto byte = [](float f) { return static_cast<std::uint8_t>(f + 0.5f); };
                const Rgba wanted{byte(v[0]), byte(v[1]), byte(v[2]), byte(v[3])};
                const std::uint16_t word = texel::encodeEntry(F, asShown<F>(wanted));
                e = cache[word];
                if (e < 0) {
                    e = static_cast<std::int32_t>(entries.nearest(word, toSpace(texel::decodeEntry(F, word))));
                    cache[word] = e;
                }
            }
            indices[i] = static_cast<std::uint16_t>(e);
            const Rgba& s = entries.colours[static_cast<std::size_t>(e)];
            const float coverage = c.a / 255.0f;
            const Error err{(v[0] - s.r) * coverage, (v[1] - s.g) * coverage, (v[2] - s.b) * coverage, v[3] - s.a};
            const std::size_t ahead = rightward ? x + 2 : x, behind = rightward ? x : x + 2;
            for (std::size_t ch = 0; ch < 4; ++ch) {
                carry[ch] = err[ch] * (7.0f / 16);
                below[behind][ch] += err[ch] * (3.0f / 16);
                below[x + 1][ch] += err[ch] * (5.0f / 16);
                below[ahead][ch] += err[ch] * (1.0f / 16);
            }
        }
        std::swap(here, below);
    }
}

// Drops the entries no index uses; the rest keep their ascending order.
Palette canonical(PaletteFormat format, std::span<const std::uint16_t> words, std::span<std::uint16_t> indices) {
    std::vector<std::uint16_t> renumber(words.size(), 0);
    std::vector<bool> used(words.size());
    for (const std::uint16_t i : indices) used[i] = true;
    Palette out{format, {}};
    for (std::size_t e = 0; e < words.size(); ++e) {
        if (!used[e]) continue;
        renumber[e] = static_cast<std::uint16_t>(out.entries.size());
        out.entries.push_back(words[e]);
    }
    for (std::uint16_t& i : indices) i = renumber[i];
    return out;
}

int passesFor(Quality quality) {
    switch (quality) {
        case Quality::Fast: return 1;
        case Quality::Normal: return 4;
        case Quality::Best: return 12;
    }
    return 4;
}

void checkIndices(const Image& picture, std::span<std::uint16_t> indices) {
    if (indices.size() != std::size_t{picture.width} * picture.height || picture.rgba.size() != 4 * indices.size())
        throw std::invalid_argument("one index per pixel is needed");
}

}  // namespace

Palette quantize(const Image& picture, const Options& options, std::span<std::uint16_t> indices) {
    checkIndices(picture, indices);
    if (options.maxEntries < 1 || options.maxEntries > kMaxEntries)
        throw std::invalid_argument("a palette holds 1 to 16384 entries");
    return withFormat(options.format, [&](auto tag) {
        constexpr PaletteFormat F = decltype(tag)::value;
        std::vector<Point> points = collect<F>(picture, indices);
        std::vector<std::uint16_t> words;
        for (const Point& p : points) words.push_back(p.word);
        if (points.size() > options.maxEntries) {
            words = refine<F>(points, medianCut(points, options.maxEntries), options.maxEntries,
                              passesFor(options.quality));
        }
        const Entries entries(F, std::move(words));
        if (options.dither && points.size() > options.maxEntries) {
            mapDithered<F>(picture, entries, indices);
        } else {
            mapByWord(points, entries, indices);
        }
        return canonical(F, entries.words, indices);
    });
}

void mapToPalette(const Image& picture, const Palette& palette, bool dither, std::span<std::uint16_t> indices) {
    checkIndices(picture, indices);
    if (indices.empty()) return;
    if (palette.entries.empty() || palette.entries.size() > kWords)
        throw std::invalid_argument("no palette to map onto");
    withFormat(palette.format, [&](auto tag) {
        constexpr PaletteFormat F = decltype(tag)::value;
        const Entries entries(F, palette.entries);
        if (dither) {
            mapDithered<F>(picture, entries, indices);
        } else {
            mapByWord(collect<F>(picture, indices), entries, indices);
        }
    });
}

}  // namespace tplforge::palette
