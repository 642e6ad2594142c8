// Checked byte access for every binary format: TPL and the console's other
// containers are big-endian, Targa and BMP little-endian. A read past the end
// is reported, never performed. Installed for programs that read formats of
// their own beside these (the picture reader process is one).
#pragma once

#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace tplforge {

class ByteReader {
public:
    explicit ByteReader(std::span<const std::uint8_t> data) : data_(data) {}

    std::size_t size() const { return data_.size(); }
    std::size_t position() const { return pos_; }
    std::size_t remaining() const { return data_.size() - pos_; }

    // Moves to an absolute offset; false (position unchanged) when beyond the end.
    bool seek(std::size_t offset) {
        if (offset > data_.size()) return false;
        pos_ = offset;
        return true;
    }
    bool skip(std::size_t count) {
        if (count > remaining()) return false;
        pos_ += count;
        return true;
    }
    bool has(std::size_t count) const { return count <= remaining(); }

    std::optional<std::uint8_t> u8() {
        if (!has(1)) return std::nullopt;
        return data_[pos_++];
    }
    std::optional<std::uint16_t> u16be() { return read<2, true, std::uint16_t>(); }
    std::optional<std::uint32_t> u32be() { return read<4, true, std::uint32_t>(); }
    std::optional<std::uint16_t> u16le() { return read<2, false, std::uint16_t>(); }
    std::optional<std::uint32_t> u32le() { return read<4, false, std::uint32_t>(); }
    std::optional<std::uint32_t> u24be() { return read<3, true, std::uint32_t>(); }
    std::optional<std::uint32_t> u24le() { return read<3, false, std::uint32_t>(); }

    // The next `count` bytes as a view, or nothing when the data runs out first.
    std::optional<std::span<const std::uint8_t>> bytes(std::size_t count) {
        if (!has(count)) return std::nullopt;
        auto view = data_.subspan(pos_, count);
        pos_ += count;
        return view;
    }

private:
    template <std::size_t N, bool BigEndian, class T>
    std::optional<T> read() {
        if (!has(N)) return std::nullopt;
        T value = 0;
        for (std::size_t i = 0; i < N; ++i) {
            const std::size_t at = BigEndian ? i : N - 1 - i;
            value = static_cast<T>((value << 8) | data_[pos_ + at]);
        }
        pos_ += N;
        return value;
    }

    std::span<const std::uint8_t> data_;
    std::size_t pos_ = 0;
};

// `count` bytes at `offset`, or nothing when they do not all lie inside `data`.
inline std::optional<std::span<const std::uint8_t>> sliceAt(std::span<const std::uint8_t> data, std::uint64_t offset,
                                                            std::uint64_t count) {
    if (offset > data.size() || count > data.size() - offset) return std::nullopt;
    return data.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(count));
}

class ByteWriter {
public:
    ByteWriter() = default;
    explicit ByteWriter(std::size_t reserve) { out_.reserve(reserve); }
    // Goes on writing after what `bytes` holds.
    explicit ByteWriter(std::vector<std::uint8_t>&& bytes) : out_(std::move(bytes)) {}

    void u8(std::uint8_t v) { out_.push_back(v); }
    void u16be(std::uint16_t v) { put<2, true>(v); }
    void u32be(std::uint32_t v) { put<4, true>(v); }
    void u16le(std::uint16_t v) { put<2, false>(v); }
    void u32le(std::uint32_t v) { put<4, false>(v); }
    void u24be(std::uint32_t v) { put<3, true>(v); }
    void u24le(std::uint32_t v) { put<3, false>(v); }
    void zeros(std::size_t count) { out_.insert(out_.end(), count, 0); }
    void append(std::span<const std::uint8_t> bytes) { out_.insert(out_.end(), bytes.begin(), bytes.end()); }
    // Fills with `fill` up to the next multiple of `alignment`.
    void alignTo(std::size_t alignment, std::uint8_t fill = 0) {
        out_.insert(out_.end(), (alignment - out_.size() % alignment) % alignment, fill);
    }

    // Fields of a header written earlier, filled in once known. A field that
    // would reach past what has been written is not written, and ok() turns
    // false for good: check it before the bytes are used.
    void u8At(std::size_t offset, std::uint8_t v) { putAt<1>(offset, v); }
    void u16beAt(std::size_t offset, std::uint16_t v) { putAt<2>(offset, v); }
    void u24beAt(std::size_t offset, std::uint32_t v) { putAt<3>(offset, v); }
    void u32beAt(std::size_t offset, std::uint32_t v) { putAt<4>(offset, v); }
    void bytesAt(std::size_t offset, std::span<const std::uint8_t> bytes) {
        if (offset > out_.size() || bytes.size() > out_.size() - offset) {
            overrun_ = true;
            return;
        }
        std::copy(bytes.begin(), bytes.end(), out_.begin() + static_cast<std::ptrdiff_t>(offset));
    }
    // Every field filled in landed inside what had been written.
    [[nodiscard]] bool ok() const { return !overrun_; }

    [[nodiscard]] std::size_t size() const { return out_.size(); }
    std::vector<std::uint8_t>& data() { return out_; }
    std::vector<std::uint8_t> take() { return std::move(out_); }

private:
    template <std::size_t N, bool BigEndian>
    void put(std::uint32_t v) {
        for (std::size_t i = 0; i < N; ++i) {
            const std::size_t shift = BigEndian ? 8 * (N - 1 - i) : 8 * i;
            out_.push_back(static_cast<std::uint8_t>(v >> shift));
        }
    }

    template <std::size_t N>
    void putAt(std::size_t offset, std::uint32_t v) {
        if (offset > out_.size() || N > out_.size() - offset) {
            overrun_ = true;
            return;
        }
        for (std::size_t i = 0; i < N; ++i) out_[offset + i] = static_cast<std::uint8_t>(v >> 8 * (N - 1 - i));
    }

    std::vector<std::uint8_t> out_;
    bool overrun_ = false;
};

}  // namespace tplforge
