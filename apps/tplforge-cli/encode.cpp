#include <atomic>
#include <bit>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#include "cli.h"
#include "codec/cmpr.h"
#include "codec/window_rules.h"
#include "tplforge/file_io.h"
#include "jobs.h"
#include "picture_input.h"

namespace tplforge::cli {

namespace {

std::string sizeText(std::uint32_t w, std::uint32_t h) { return std::to_string(w) + " x " + std::to_string(h); }

// Pixels of the key colour become fully transparent, whatever their alpha was.
void applyKey(Image& picture, ColourValue key) {
    for (std::size_t i = 0; i < picture.rgba.size(); i += 4) {
        std::uint8_t* p = &picture.rgba[i];
        if (rgb(p[0], p[1], p[2]) == key) p[3] = 0;
    }
}

// Sampler filters: plain "near" and "linear" also pick between levels when the
// texture has them.
std::uint32_t minFilterFor(const PictureSettings& s, unsigned levels) {
    const std::uint32_t f = s.minFilter.value_or(1);
    if (levels > 1 && f <= 1) return f == 0 ? 2 : 5;
    return f;
}

TextureInput textureFor(const PictureSettings& s, const Image& picture, unsigned threads, JobOutput& out) {
    TextureInput t;
    t.picture = &picture;
    t.options = s.encode;
    t.options.threads = threads;
    const unsigned most = fullLevelCount(s.encode.format, picture.width, picture.height);
    t.levels = s.mipmapsAuto ? most : std::min(1 + s.mipmaps, most);
    t.sampler.wrapS = s.wrapS;
    t.sampler.wrapT = s.wrapT;
    t.sampler.minFilter = minFilterFor(s, t.levels);
    t.sampler.magFilter = s.magFilter.value_or(1);
    if (picture.width > kConsoleMaxSide || picture.height > kConsoleMaxSide)
        out.err += s.path + ": warning: " + sizeText(picture.width, picture.height) +
                   " is larger than the console's texture limit of 1024 x 1024\n";
    if (t.levels > 1 && (!std::has_single_bit(picture.width) || !std::has_single_bit(picture.height)))
        out.err += s.path + ": warning: the console samples mipmaps only of textures whose sides are powers of two\n";
    return t;
}

// The window keys by colour after drawing over the surface, so no key here
// under --window; pictures that need the reader process come drawn over the
// surface by it, exactly as the window gets them.
bool load(const PictureSettings& s, Image& picture, JobOutput& out, bool window = false) {
    auto read = readInputPicture(s.path, window ? Backdrop::Surface : Backdrop::KeepAlpha);
    if (!read) {
        out.err += s.path + ": " + read.error() + '\n';
        out.failed = true;
        return false;
    }
    picture = std::move(read).value();
    if (!window && s.keyColour) applyKey(picture, *s.keyColour);
    return true;
}

// As in decode: a new file is not flushed to the disk, a replaced one is.
bool save(const std::string& path, std::span<const std::uint8_t> bytes, JobOutput& out) {
    if (const std::error_code ec = writeFileAtomically(path, bytes, Flush::WhenReplacing)) {
        out.err += path + ": cannot write: " + ec.message() + '\n';
        out.failed = true;
        return false;
    }
    return true;
}

bool fitsWindow(const std::string& path, const Raster& raster, JobOutput& out) {
    const auto w = static_cast<std::uint32_t>(raster.width), h = static_cast<std::uint32_t>(raster.height);
    if (w % 4 != 0 || h % 4 != 0) {
        out.err += path + ": size " + sizeText(w, h) + " is not a multiple of 4 in both directions\n";
    } else if (w > kMaxSide || h > kMaxSide) {
        out.err += path + ": size " + sizeText(w, h) + " is larger than 32767 pixels on a side\n";
    } else {
        return true;
    }
    out.failed = true;
    return false;
}

// The window's own encoding of every picture into one file.
int encodeAsWindow(const EncodeRequest& request) {
    const std::size_t n = request.pictures.size();
    std::vector<Raster> rasters(n);
    const bool failed = runJobs(n, request.run.jobs, !request.run.quiet, [&](std::size_t i, JobOutput& out) {
        Image picture;
        if (!load(request.pictures[i], picture, out, true)) return;
        rasters[i] = window_rules::overSurface(picture);
        fitsWindow(request.pictures[i].path, rasters[i], out);
    });
    if (failed) {
        std::fprintf(stderr, "%s: not written\n", request.output.c_str());
        return kInputFailed;
    }
    std::vector<window_rules::Texture> textures;
    for (std::size_t i = 0; i < n; ++i) {
        const PictureSettings& s = request.pictures[i];
        textures.push_back({&rasters[i], s.encode.format == Format::RGB5A3, s.keyColour.value_or(kWhite)});
    }
    auto file = window_rules::buildTpl(textures);
    JobOutput out;
    if (!file) {
        std::fprintf(stderr, "%s: %s; not written\n", request.output.c_str(), std::string(describe(file.error())).c_str());
        return kInputFailed;
    }
    if (!save(request.output, *file, out)) std::fputs(out.err.c_str(), stderr);
    return out.failed ? kInputFailed : kSuccess;
}


// CMPR of a lone PNG: the picture's block rows are encoded on the other cores
// while libspng still decodes the rows below them, so the run costs little more
// than the decoding. The bytes are those encodeTpl writes: every 8-row block row
// of a CMPR level depends on its own rows alone.
class CmprWhileReading {
public:
    CmprWhileReading(const PictureSettings& settings, unsigned threads) : settings_(settings), threads_(threads) {}

    int run(const std::string& output) {
        auto read = readInputPicture(settings_.path, Backdrop::KeepAlpha,
                                     [this](const Image& picture, std::uint32_t rows) { rowsArrived(picture, rows); });
        if (read && !planned_) rowsArrived(*read, read->height);  // not a PNG: it came whole
        {
            std::lock_guard lock(mutex_);
            finished_ = true;
        }
        arrived_.notify_all();
        if (read && writer_) encodeBlockRows();  // this thread helps with what is left
        helpers_.clear();                        // joins them
        std::fputs(out_.err.c_str(), stderr);
        if (!read) {
            std::fprintf(stderr, "%s: %s\n%s: not written\n", settings_.path.c_str(), read.error().c_str(),
                         output.c_str());
            return kInputFailed;
        }
        if (!writer_) {
            std::fprintf(stderr, "%s: %s; not written\n", output.c_str(), std::string(describe(planError_)).c_str());
            return kInputFailed;
        }
        const Image picture = std::move(read).value();
        texture_.picture = &picture;
        encodeTexture(*writer_, 0, texture_, 1);
        const auto file = std::move(*writer_).finish();
        JobOutput out;
        if (!save(output, file, out)) std::fputs(out.err.c_str(), stderr);
        return out.failed ? kInputFailed : kSuccess;
    }

private:
    void rowsArrived(const Image& picture, std::uint32_t rows) {
        if (rows == 0) {  // the picture broke off and is about to go: no helper may read it after this
            {
                std::lock_guard lock(mutex_);
                ready_ = 0;
                finished_ = true;
            }
            arrived_.notify_all();
            helpers_.clear();
            return;
        }
        if (!writer_ && !planned_) {
            planned_ = true;
            texture_ = textureFor(settings_, picture, threads_, out_);
            auto writer = planTpl(std::span(&texture_, 1));
            if (!writer) {
                planError_ = writer.error();
                return;
            }
            writer_.emplace(std::move(writer).value());
            rgba_ = picture.rgba;
            width_ = picture.width;
            height_ = picture.height;
            for (unsigned t = 1; t < threads_; ++t) helpers_.emplace_back([this] { encodeBlockRows(); });
        }
        {
            std::lock_guard lock(mutex_);
            ready_ = rows;
        }
        arrived_.notify_all();
    }

    void encodeBlockRows() {
        const std::uint32_t blockRows = (height_ + 7) / 8;
        const std::size_t blockRowBytes = levelBytes(Format::CMPR, width_, 8);
        const auto level = writer_->level(0, 0);
        for (std::uint32_t r; (r = next_.fetch_add(1)) < blockRows;) {
            const std::uint32_t y0 = 8 * r, rows = std::min<std::uint32_t>(8, height_ - y0);
            {
                std::unique_lock lock(mutex_);
                arrived_.wait(lock, [&] { return ready_ >= y0 + rows || finished_; });
                if (ready_ < y0 + rows) return;  // the picture ended early: reported by run()
            }
            const std::size_t stride = std::size_t{width_} * 4;
            cmpr::encodeLevel(rgba_.subspan(y0 * stride, rows * stride), width_, rows, texture_.options.quality, 1,
                              level.subspan(r * blockRowBytes, levelBytes(Format::CMPR, width_, rows)));
        }
    }

    const PictureSettings& settings_;
    unsigned threads_;
    JobOutput out_;
    TextureInput texture_;
    bool planned_ = false;
    TplWriteError planError_ = TplWriteError::EmptyPicture;
    std::optional<TplWriter> writer_;
    std::span<const std::uint8_t> rgba_;
    std::uint32_t width_ = 0, height_ = 0;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::uint32_t ready_ = 0;
    bool finished_ = false;
    std::atomic<std::uint32_t> next_{0};
    std::vector<std::jthread> helpers_;
};

int encodeOneFile(const EncodeRequest& request) {
    const std::size_t n = request.pictures.size();
    const unsigned threads = request.run.jobs;
    const PictureSettings& first = request.pictures.front();
    if (n == 1 && threads > 1 && first.encode.format == Format::CMPR && !first.keyColour)
        return CmprWhileReading(first, threads).run(request.output);
    std::vector<Image> pictures(n);
    std::vector<TextureInput> textures(n);
    const bool failed = runJobs(n, threads, !request.run.quiet, [&](std::size_t i, JobOutput& out) {
        if (load(request.pictures[i], pictures[i], out))
            textures[i] = textureFor(request.pictures[i], pictures[i], threads, out);
    });
    if (failed) {
        std::fprintf(stderr, "%s: not written\n", request.output.c_str());
        return kInputFailed;
    }
    auto file = encodeTpl(textures);
    if (!file) {
        std::fprintf(stderr, "%s: %s; not written\n", request.output.c_str(), std::string(describe(file.error())).c_str());
        return kInputFailed;
    }
    JobOutput out;
    if (!save(request.output, *file, out)) std::fputs(out.err.c_str(), stderr);
    return out.failed ? kInputFailed : kSuccess;
}

// One file a picture, each on its own: a bad picture is reported and the others
// are still written.
int encodeEach(const EncodeRequest& request) {
    std::error_code ec;
    std::filesystem::create_directories(request.eachFolder, ec);
    if (ec) {
        std::fprintf(stderr, "%s: cannot create folder: %s\n", request.eachFolder.c_str(), ec.message().c_str());
        return kInputFailed;
    }
    const std::size_t n = request.pictures.size();
    const unsigned threads = request.run.jobs;
    const unsigned workers = static_cast<unsigned>(std::min<std::size_t>(threads, n));
    const unsigned perPicture = std::max(1u, threads / std::max(1u, workers));
    std::vector<std::string> paths;
    for (const PictureSettings& s : request.pictures) paths.push_back(s.path);
    const auto earlier = sameNameAsEarlier(paths);
    const bool failed = runJobs(n, workers, !request.run.quiet, [&](std::size_t i, JobOutput& out) {
        const PictureSettings& s = request.pictures[i];
        if (earlier[i] != kNoEarlier) return sameNameRefused(s.path, paths[earlier[i]], out);
        const std::string target =
            (std::filesystem::path(request.eachFolder) / std::filesystem::path(s.path).stem()).string() + ".tpl";
        Image picture;
        if (!load(s, picture, out, request.window)) return;
        Expected<std::vector<std::uint8_t>, TplWriteError> file = fail(TplWriteError::NoTextures);
        if (request.window) {
            const Raster raster = window_rules::overSurface(picture);
            if (!fitsWindow(s.path, raster, out)) return;
            const window_rules::Texture texture{&raster, s.encode.format == Format::RGB5A3, s.keyColour.value_or(kWhite)};
            file = window_rules::buildTpl(std::span(&texture, 1));
        } else {
            const TextureInput texture = textureFor(s, picture, perPicture, out);
            file = encodeTpl(std::span(&texture, 1));
        }
        if (!file) {
            out.err += s.path + ": " + std::string(describe(file.error())) + '\n';
            out.failed = true;
            return;
        }
        save(target, *file, out);
    });
    return failed ? kInputFailed : kSuccess;
}

}  // namespace

int runEncode(const EncodeRequest& request) {
    if (request.each) return encodeEach(request);
    return request.window ? encodeAsWindow(request) : encodeOneFile(request);
}

}  // namespace tplforge::cli
