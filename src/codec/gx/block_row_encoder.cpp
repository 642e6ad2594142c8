// Every row of blocks of a level depends on its own picture rows alone, so a
// level can be encoded band by band while a reader is still producing the rows
// below: a lone PNG into CMPR then costs little more than reading the PNG.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "codec/support/parallel.h"
#include "codec/gx/texture_encode.h"
#include "tplforge/texture.h"

namespace tplforge {

struct BlockRowEncoder::State {
    EncodeOptions options;
    std::uint32_t width = 0, height = 0;
    std::uint32_t bandHeight = 0, bands = 0;
    std::size_t bandBytes = 0;
    std::span<std::uint8_t> out;

    std::mutex lock;
    std::condition_variable arrived;
    std::span<const std::uint8_t> rgba;  // the picture's rows, once the first arrive
    std::uint32_t ready = 0;
    bool stopped = false;
    std::atomic<std::uint32_t> next{0};
    std::vector<std::jthread> helpers;

    void encodeBands() {
        for (std::uint32_t band; (band = next.fetch_add(1)) < bands;) {
            const std::uint32_t y0 = band * bandHeight, rows = std::min(bandHeight, height - y0);
            std::span<const std::uint8_t> pixels;
            {
                std::unique_lock guard(lock);
                arrived.wait(guard, [&] { return stopped || ready >= y0 + rows; });
                if (ready < y0 + rows) return;
                pixels = rgba;
            }
            const std::size_t stride = std::size_t{width} * 4;
            EncodeOptions one = options;
            one.threads = 1;
            encodeChecked({pixels.subspan(y0 * stride, rows * stride), width, rows}, one,
                          out.subspan(band * bandBytes, static_cast<std::size_t>(levelBytes(options.format, width, rows))));
        }
    }

    void stop() {
        {
            const std::lock_guard guard(lock);
            stopped = true;
        }
        arrived.notify_all();
        helpers.clear();  // joins: a band being encoded is finished first
    }
};

BlockRowEncoder::BlockRowEncoder(std::unique_ptr<State> state) : state_(std::move(state)) {}
BlockRowEncoder::BlockRowEncoder(BlockRowEncoder&&) noexcept = default;
BlockRowEncoder& BlockRowEncoder::operator=(BlockRowEncoder&&) noexcept = default;
BlockRowEncoder::~BlockRowEncoder() { abandon(); }

Expected<BlockRowEncoder, CodecError> BlockRowEncoder::start(const EncodeOptions& options, std::uint32_t width,
                                                             std::uint32_t height, std::span<std::uint8_t> out) {
    const auto info = formatInfo(static_cast<std::uint32_t>(options.format));
    if (!info) return fail(CodecError::UnknownFormat);
    if (info->maxPaletteEntries > 0) return fail(CodecError::NeedsPalette);
    if (width == 0 || height == 0) return fail(CodecError::WrongPictureSize);
    if (width > kMaxSide || height > kMaxSide) return fail(CodecError::SideTooLarge);
    if (out.size() != levelBytes(options.format, width, height)) return fail(CodecError::WrongDataSize);

    auto state = std::make_unique<State>();
    state->options = options;
    state->width = width;
    state->height = height;
    // CMPR's blocks are two sub-block rows high, and a band of them is the
    // smallest piece worth a hand-over; other formats take their block height.
    state->bandHeight = info->blockHeight;
    state->bands = (height + info->blockHeight - 1) / info->blockHeight;
    state->bandBytes = static_cast<std::size_t>(levelBytes(options.format, width, info->blockHeight));
    state->out = out;
    State* s = state.get();
    const unsigned threads = resolveThreads(options.threads);
    for (unsigned t = 1; t < threads; ++t) s->helpers.emplace_back([s] { s->encodeBands(); });
    return BlockRowEncoder(std::move(state));
}

void BlockRowEncoder::rowsArrived(const Image& picture, std::uint32_t rows) {
    if (!state_) return;
    if (rows == 0) return abandon();
    if (picture.width != state_->width || picture.height != state_->height ||
        picture.rgba.size() != std::size_t{picture.width} * picture.height * 4)
        return abandon();
    {
        const std::lock_guard guard(state_->lock);
        state_->rgba = picture.rgba;
        state_->ready = std::min(std::max(state_->ready, rows), state_->height);
    }
    state_->arrived.notify_all();
}

Expected<void, CodecError> BlockRowEncoder::finish() {
    if (!state_) return fail(CodecError::WrongPictureSize);
    bool complete = false;
    {
        const std::lock_guard guard(state_->lock);
        complete = !state_->stopped && !state_->rgba.empty() && state_->ready == state_->height;
    }
    if (complete) state_->encodeBands();
    state_->stop();
    if (!complete) return fail(CodecError::WrongPictureSize);
    return {};
}

void BlockRowEncoder::abandon() {
    if (state_) state_->stop();
}

}  // namespace tplforge
