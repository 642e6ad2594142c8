// make_art interface|gradients OUT.png: the synthetic pictures the grey formats
// are measured on (bench/grey-psnr), 512 × 512 RGBA.
//   interface: a game menu on a transparent ground: a translucent panel, buttons
//     with labels, icons, a slider, text on nothing; anti-aliased edges and soft
//     shadows, so most alpha values between 0 and 255 turn up.
//   gradients: smooth ramps of grey, hue and two-dimensional colour, a radial one,
//     and a colour ramp fading from opaque to transparent.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string_view>
#include <vector>

#include "tplforge/file_io.h"
#include "tplforge/png.h"

namespace {

constexpr int kSide = 512;

struct P {
    double x, y;
};
struct Colour {
    double r, g, b;  // 0 to 255
};
Colour mix(Colour a, Colour b, double t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

// Signed distances in pixels: negative inside.
double circle(P p, P c, double r) { return std::hypot(p.x - c.x, p.y - c.y) - r; }
double roundedBox(P p, P c, P half, double radius) {
    const double qx = std::abs(p.x - c.x) - half.x + radius, qy = std::abs(p.y - c.y) - half.y + radius;
    return std::hypot(std::max(qx, 0.0), std::max(qy, 0.0)) + std::min(std::max(qx, qy), 0.0) - radius;
}
double segment(P p, P a, P b) {
    const double dx = b.x - a.x, dy = b.y - a.y;
    const double t = std::clamp(((p.x - a.x) * dx + (p.y - a.y) * dy) / (dx * dx + dy * dy + 1e-12), 0.0, 1.0);
    return std::hypot(p.x - a.x - t * dx, p.y - a.y - t * dy);
}

// Premultiplied, 0 to 1.
struct Canvas {
    std::vector<double> px = std::vector<double>(std::size_t{kSide} * kSide * 4, 0.0);

    // Paints a shape over what is there. `soft` is the width of the edge's ramp:
    // 1 for an anti-aliased edge, more for a shadow or a glow. Only the box
    // x0..x1, y0..y1 is visited.
    void paint(const std::function<double(P)>& distance, const std::function<Colour(P)>& colour, double alpha,
               double soft, int x0, int y0, int x1, int y1) {
        for (int y = std::max(0, y0); y < std::min(kSide, y1); ++y)
            for (int x = std::max(0, x0); x < std::min(kSide, x1); ++x) {
                const P p{x + 0.5, y + 0.5};
                const double cover = std::clamp(0.5 - distance(p) / soft, 0.0, 1.0) * alpha;
                if (cover <= 0) continue;
                const Colour c = colour(p);
                double* d = &px[(std::size_t(y) * kSide + x) * 4];
                const double rgba[4] = {c.r / 255, c.g / 255, c.b / 255, 1};
                for (int k = 0; k < 4; ++k) d[k] = rgba[k] * cover + d[k] * (1 - cover);
            }
    }

    tplforge::Image image() const {
        tplforge::Image out(kSide, kSide);
        for (std::size_t i = 0; i < px.size(); i += 4) {
            const double a = px[i + 3];
            const auto byte = [](double v) {
                return static_cast<std::uint8_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255));
            };
            for (int k = 0; k < 3; ++k) out.rgba[i + k] = a > 0 ? byte(px[i + k] / a) : 0;
            out.rgba[i + 3] = byte(a);
        }
        return out;
    }
};

// A stroke font on a 4 × 6 grid: each glyph is polylines, broken at a jump (-1).
struct Glyph {
    char c;
    std::vector<double> points;  // x, y pairs; -1, -1 starts a new line
};
const std::vector<Glyph>& font() {
    static const std::vector<Glyph> glyphs = {
        {'P', {0, 6, 0, 0, 3, 0, 4, 1, 4, 2, 3, 3, 0, 3}},
        {'R', {0, 6, 0, 0, 3, 0, 4, 1, 4, 2, 3, 3, 0, 3, -1, -1, 2, 3, 4, 6}},
        {'L', {0, 0, 0, 6, 4, 6}},
        {'A', {0, 6, 2, 0, 4, 6, -1, -1, 0.8, 3.6, 3.2, 3.6}},
        {'Y', {0, 0, 2, 3, 4, 0, -1, -1, 2, 3, 2, 6}},
        {'O', {1, 0, 3, 0, 4, 1, 4, 5, 3, 6, 1, 6, 0, 5, 0, 1, 1, 0}},
        {'C', {4, 1, 3, 0, 1, 0, 0, 1, 0, 5, 1, 6, 3, 6, 4, 5}},
        {'T', {0, 0, 4, 0, -1, -1, 2, 0, 2, 6}},
        {'I', {1, 0, 3, 0, -1, -1, 2, 0, 2, 6, -1, -1, 1, 6, 3, 6}},
        {'N', {0, 6, 0, 0, 4, 6, 4, 0}},
        {'S', {4, 1, 3, 0, 1, 0, 0, 1, 0, 2, 1, 3, 3, 3, 4, 4, 4, 5, 3, 6, 1, 6, 0, 5}},
        {'E', {4, 0, 0, 0, 0, 6, 4, 6, -1, -1, 0, 3, 3, 3}},
        {'X', {0, 0, 4, 6, -1, -1, 4, 0, 0, 6}},
        {'V', {0, 0, 2, 6, 4, 0}},
        {'U', {0, 0, 0, 5, 1, 6, 3, 6, 4, 5, 4, 0}},
        {'1', {1, 1, 2, 0, 2, 6, -1, -1, 1, 6, 3, 6}},
        {'2', {0, 1, 1, 0, 3, 0, 4, 1, 4, 2, 0, 6, 4, 6}},
        {'4', {3, 6, 3, 0, 0, 4, 4, 4}},
        {'7', {0, 0, 4, 0, 1, 6}},
        {'0', {1, 0, 3, 0, 4, 1, 4, 5, 3, 6, 1, 6, 0, 5, 0, 1, 1, 0, -1, -1, 4, 1, 0, 5}},
    };
    return glyphs;
}

struct Segment {
    P a, b;
};
// The strokes of `text` with its top left at `at`, `scale` pixels a grid step.
std::vector<Segment> strokes(std::string_view text, P at, double scale) {
    std::vector<Segment> out;
    double x = at.x;
    for (const char c : text) {
        const auto g = std::find_if(font().begin(), font().end(), [c](const Glyph& f) { return f.c == c; });
        if (g != font().end()) {
            const auto& v = g->points;
            for (std::size_t i = 2; i + 1 < v.size(); i += 2) {
                if (v[i] < 0 || v[i - 2] < 0) continue;
                out.push_back(
                    {{x + v[i - 2] * scale, at.y + v[i - 1] * scale}, {x + v[i] * scale, at.y + v[i + 1] * scale}});
            }
        }
        x += 6 * scale;
    }
    return out;
}

void text(Canvas& canvas, std::string_view s, P at, double scale, double width, Colour colour, double alpha,
          double soft = 1) {
    const auto lines = strokes(s, at, scale);
    const auto distance = [&](P p) {
        double d = 1e9;
        for (const Segment& l : lines) d = std::min(d, segment(p, l.a, l.b));
        return d - width / 2;
    };
    const int pad = static_cast<int>(width + 2 * soft + 2);
    canvas.paint(
        distance, [&](P) { return colour; }, alpha, soft, static_cast<int>(at.x) - pad, static_cast<int>(at.y) - pad,
        static_cast<int>(at.x + 6 * scale * double(s.size())) + pad, static_cast<int>(at.y + 6 * scale) + pad);
}

const auto flat = [](Colour c) { return [c](P) { return c; }; };

tplforge::Image interfaceArt() {
    Canvas c;
    const Colour black{0, 0, 0}, white{255, 255, 255};
    // The panel and its shadow.
    const auto panel = [](P p) { return roundedBox(p, {256, 262}, {226, 214}, 26); };
    c.paint([&](P p) { return panel({p.x - 4, p.y - 10}); }, flat(black), 0.55, 18, 0, 0, kSide, kSide);
    c.paint(
        panel,
        [](P p) {
            return mix({34, 46, 86}, {12, 16, 34}, (p.y - 48) / 428);
        },
        0.86, 1, 0, 0, kSide, kSide);
    c.paint([&](P p) { return std::abs(panel(p) + 1.5) - 1.2; }, flat({120, 156, 230}), 1, 1, 0, 0, kSide, kSide);
    // Title with a glow.
    text(c, "OPTIONS", {128, 64}, 6, 9, {255, 200, 40}, 0.6, 10);
    text(c, "OPTIONS", {128, 64}, 6, 5, {255, 236, 150}, 1);
    // Buttons: shadow, gradient face, rim, a label with a dark outline.
    const Colour faces[3][2] = {
        {{255, 170, 60}, {200, 90, 10}}, {{110, 220, 120}, {30, 140, 50}}, {{240, 90, 90}, {160, 20, 30}}};
    const char* labels[3] = {"PLAY", "LEVEL 7", "EXIT"};
    for (int k = 0; k < 3; ++k) {
        const double y = 150 + 76.0 * k;
        const auto box = [y](P p) { return roundedBox(p, {256, y}, {150, 27}, 14); };
        c.paint([&](P p) { return box({p.x - 2, p.y - 5}); }, flat(black), 0.5, 8, 80, int(y) - 60, 432, int(y) + 60);
        c.paint(
            box, [&, k, y](P p) { return mix(faces[k][0], faces[k][1], (p.y - y + 27) / 54); }, 1, 1, 80, int(y) - 40,
            432, int(y) + 40);
        c.paint([&](P p) { return std::abs(box(p) + 1) - 0.8; }, flat(white), 0.45, 1, 80, int(y) - 40, 432,
                int(y) + 40);
        const double w = 6 * 4.0 * double(std::string_view(labels[k]).size());
        text(c, labels[k], {256 - w / 2 + 4, y - 12}, 4, 4.2, black, 0.7);
        text(c, labels[k], {256 - w / 2 + 4, y - 12}, 4, 2.2, white, 1);
    }
    // Icons: discs with a rim and a glyph; the last one glows.
    const Colour discs[4] = {{60, 170, 255}, {255, 210, 60}, {180, 90, 230}, {80, 220, 200}};
    for (int k = 0; k < 4; ++k) {
        const P centre{112 + 96.0 * k, 400};
        if (k == 3)
            c.paint([&](P p) { return std::abs(circle(p, centre, 34)) - 3; }, flat({120, 255, 230}), 0.5, 6,
                    int(centre.x) - 50, 350, int(centre.x) + 50, 450);
        c.paint([&](P p) { return circle(p, centre, 26); },
                [&, k](P p) { return mix(discs[k], black, 0.5 * (p.y - centre.y + 26) / 52); }, 1, 1,
                int(centre.x) - 30, 370, int(centre.x) + 30, 430);
        c.paint([&](P p) { return std::abs(circle(p, centre, 25)) - 1; }, flat(white), 0.8, 1, int(centre.x) - 30, 370,
                int(centre.x) + 30, 430);
        std::vector<Segment> mark;
        const double x = centre.x, y = centre.y;
        if (k == 0) mark = {{{x - 11, y + 1}, {x - 3, y + 9}}, {{x - 3, y + 9}, {x + 12, y - 9}}};
        if (k == 1) mark = {{{x - 9, y - 9}, {x + 9, y + 9}}, {{x + 9, y - 9}, {x - 9, y + 9}}};
        if (k == 2) mark = {{{x - 11, y}, {x + 11, y}}, {{x, y - 11}, {x, y + 11}}};
        if (k == 3)
            mark = {{{x - 7, y - 11}, {x - 7, y + 11}}, {{x - 7, y - 11}, {x + 11, y}}, {{x - 7, y + 11}, {x + 11, y}}};
        c.paint(
            [&](P p) {
                double d = 1e9;
                for (const Segment& s : mark) d = std::min(d, segment(p, s.a, s.b));
                return d - 2.5;
            },
            flat(white), 1, 1, int(x) - 20, int(y) - 20, int(x) + 20, int(y) + 20);
    }
    // A slider: track, filled part, knob with a shadow.
    const auto track = [](P p) { return roundedBox(p, {256, 452}, {150, 4}, 4); };
    c.paint(track, flat({20, 24, 40}), 0.9, 1, 90, 440, 420, 465);
    c.paint([&](P p) { return std::max(track(p), p.x - 300); },
            [](P p) {
                return mix({60, 120, 255}, {120, 230, 255}, (p.x - 106) / 194);
            },
            1, 1, 90, 440, 420, 465);
    c.paint([](P p) { return circle(p, {302, 456}, 11); }, flat(black), 0.5, 5, 280, 430, 325, 480);
    c.paint(
        [](P p) {
            return circle(p, {300, 452}, 10);
        },
        [&](P p) {
            return mix(white, {170, 180, 200}, (p.y - 442) / 20);
        },
        1, 1, 280, 430, 325, 480);
    // Text on nothing, over a soft shadow.
    text(c, "SCORE 4210", {20, 488}, 2.6, 6, black, 0.6, 4);
    text(c, "SCORE 4210", {20, 488}, 2.6, 1.8, white, 1);
    return c.image();
}

tplforge::Image gradients() {
    tplforge::Image out(kSide, kSide);
    const auto hue = [](double t) {
        const double h = t * 6;
        const auto ch = [h](double o) { return 255 * std::clamp(std::abs(std::fmod(h + o, 6.0) - 3) - 1, 0.0, 1.0); };
        return Colour{ch(0), ch(4), ch(2)};
    };
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) {
            const double u = x / double(kSide - 1), v = (y % 64) / 63.0;
            Colour c;
            double a = 255;
            if (y < 64)
                c = mix({0, 0, 0}, {255, 255, 255}, u);
            else if (y < 128)
                c = hue(u);
            else if (y < 192)
                c = {255 * u, 255 * v, 255 * (1 - u)};
            else if (y < 256)
                c = mix({250, 230, 20}, {200, 20, 220}, u);
            else if (y < 384) {
                const double r = std::hypot(x - 256.0, y - 320.0) / 200;
                c = mix(mix({255, 250, 230}, {240, 120, 30}, std::min(r, 1.0)), {40, 10, 60},
                        std::clamp(r - 1, 0.0, 1.0) * 2);
            } else {
                c = mix({255, 140, 0}, {0, 200, 255}, u);
                a = 255 * (1 - (y - 384) / 127.0);
            }
            const auto byte = [](double t) {
                return static_cast<std::uint8_t>(std::lround(std::clamp(t, 0.0, 255.0)));
            };
            std::uint8_t* p = &out.rgba[(std::size_t(y) * kSide + x) * 4];
            p[0] = byte(c.r), p[1] = byte(c.g), p[2] = byte(c.b), p[3] = byte(a);
        }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string_view kind = argc == 3 ? argv[1] : "";
    if (kind != "interface" && kind != "gradients") {
        std::fprintf(stderr, "usage: make_art interface|gradients OUT.png\n");
        return 2;
    }
    const tplforge::Image picture = kind == "interface" ? interfaceArt() : gradients();
    const auto png = tplforge::writePng(picture, tplforge::PngChannels::Rgba);
    return png && tplforge::writeFileAtomically(argv[2], *png) ? 0 : 1;
}
