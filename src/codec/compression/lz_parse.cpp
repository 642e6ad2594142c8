#include "codec/compression/lz_parse.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace tplforge::lz {

namespace {
constexpr unsigned kMaxHashBits = 16;
constexpr std::size_t kRing = 2 * kWindow;  // a power of two above the window

std::uint64_t load64(std::span<const std::uint8_t> data, std::size_t at) {
    std::uint64_t v;
    std::memcpy(&v, data.subspan(at, 8).data(), 8);
    return v;
}
}  // namespace

// Small inputs get a small table: clearing it would cost more than their search.
MatchFinder::MatchFinder(std::span<const std::uint8_t> data, Limits limits)
    : data_(data),
      limits_(limits),
      hashBits_(std::clamp<unsigned>(static_cast<unsigned>(std::bit_width(data.size())), 8, kMaxHashBits)),
      head_(std::size_t{1} << hashBits_, -1),
      previous_(kRing, -1) {
    candidates_.reserve(kWindow);
}

[[gnu::always_inline]] inline std::uint32_t MatchFinder::hashAt(std::size_t pos) const {
    const std::uint32_t key = std::uint32_t{data_[pos]} << 16 | std::uint32_t{data_[pos + 1]} << 8 | data_[pos + 2];
    return (key * 2654435761u) >> (32 - hashBits_);
}

[[gnu::always_inline]] inline void MatchFinder::insertUpTo(std::size_t pos) {
    const std::size_t last = std::min(pos, data_.size() >= kMinMatch ? data_.size() - kMinMatch + 1 : 0);
    for (; inserted_ < last; ++inserted_) {
        const std::uint32_t h = hashAt(inserted_);
        previous_[inserted_ & (kRing - 1)] = head_[h];
        head_[h] = static_cast<std::int32_t>(inserted_);
    }
}

[[gnu::always_inline]] inline std::uint32_t MatchFinder::matchLength(std::size_t from, std::size_t at,
                                                                   std::uint32_t limit) const {
    std::uint32_t n = 0;
    if constexpr (std::endian::native == std::endian::little) {
        while (n + 8 <= limit) {
            const std::uint64_t x = load64(data_, from + n) ^ load64(data_, at + n);
            if (x != 0) return n + static_cast<std::uint32_t>(std::countr_zero(x) / 8);
            n += 8;
        }
    }
    while (n < limit && data_[from + n] == data_[at + n]) ++n;
    return n;
}

Match MatchFinder::nearest(std::size_t pos, std::uint32_t limit) {
    limit = static_cast<std::uint32_t>(std::min<std::size_t>({limit, limits_.maxLength, data_.size() - pos}));
    if (limit < kMinMatch) return {};
    insertUpTo(pos);
    Match best{kMinMatch - 1, 0};
    for (std::int32_t p = head_[hashAt(pos)]; p >= 0; p = previous_[static_cast<std::size_t>(p) & (kRing - 1)]) {
        const std::size_t distance = pos - static_cast<std::size_t>(p);
        if (distance > kWindow) break;
        if (distance < limits_.minDistance) continue;
        // A longer match must agree at the byte the best one stopped before.
        if (data_[static_cast<std::size_t>(p) + best.length] != data_[pos + best.length]) continue;
        const std::uint32_t n = matchLength(static_cast<std::size_t>(p), pos, limit);
        if (n > best.length) {
            best = {n, static_cast<std::uint32_t>(distance)};
            if (n == limit) break;
        }
    }
    return best.distance == 0 ? Match{} : best;
}

Match MatchFinder::furthest(std::size_t pos, std::uint32_t limit) {
    limit = static_cast<std::uint32_t>(std::min<std::size_t>({limit, limits_.maxLength, data_.size() - pos}));
    if (limit < kMinMatch) return {};
    insertUpTo(pos);
    candidates_.clear();
    for (std::int32_t p = head_[hashAt(pos)]; p >= 0; p = previous_[static_cast<std::size_t>(p) & (kRing - 1)]) {
        const std::size_t distance = pos - static_cast<std::size_t>(p);
        if (distance > kWindow) break;
        if (distance >= limits_.minDistance) candidates_.push_back(p);
    }
    // From the furthest in, taking only strictly longer ones: the first of the
    // longest length found is then the furthest, and one of the limit cannot be
    // beaten.
    Match best{kMinMatch - 1, 0};
    for (auto it = candidates_.rbegin(); it != candidates_.rend(); ++it) {
        const auto p = static_cast<std::size_t>(*it);
        if (data_[p + best.length] != data_[pos + best.length]) continue;
        const std::uint32_t n = matchLength(p, pos, limit);
        if (n > best.length) {
            best = {n, static_cast<std::uint32_t>(pos - p)};
            if (n == limit) break;
        }
    }
    return best.distance == 0 ? Match{} : best;
}

namespace {

// The cheapest position in a range of those whose costs are known, filled from
// the back: blocks of 16 keep their minimum, so a query of up to 256 positions
// looks at some 40 values.
class RangeMin {
public:
    explicit RangeMin(std::span<const std::uint32_t> cost)
        : cost_(cost), blockMin_(cost.size() / kBlock + 1, ~0u), blockAt_(cost.size() / kBlock + 1, 0) {}
    // cost[i] is known now.
    void add(std::size_t i) {
        const std::size_t b = i / kBlock;
        if (cost_[i] <= blockMin_[b]) blockMin_[b] = cost_[i], blockAt_[b] = i;
    }
    // The position of the least cost in [lo, hi], the first of equal ones.
    std::size_t min(std::size_t lo, std::size_t hi) const {
        std::size_t best = lo;
        std::size_t p = lo;
        for (; p <= hi && p % kBlock != 0; ++p)
            if (cost_[p] < cost_[best]) best = p;
        for (; p + kBlock - 1 <= hi; p += kBlock)
            if (blockMin_[p / kBlock] < cost_[best]) best = blockAt_[p / kBlock];
        for (; p <= hi; ++p)
            if (cost_[p] < cost_[best]) best = p;
        return best;
    }

private:
    static constexpr std::size_t kBlock = 16;
    std::span<const std::uint32_t> cost_;
    std::vector<std::uint32_t> blockMin_;
    std::vector<std::size_t> blockAt_;
};

}  // namespace

void optimalChunk(MatchFinder& finder, std::size_t begin, std::size_t end, Limits limits, Costs costs,
                  std::vector<Item>& items) {
    const std::size_t n = end - begin;
    std::vector<Match> matches(n);
    for (std::size_t i = 0; i < n; ++i)
        matches[i] = finder.nearest(begin + i, static_cast<std::uint32_t>(std::min<std::size_t>(limits.maxLength, n - i)));

    std::vector<std::uint32_t> cost(n + 1, 0);
    std::vector<std::uint32_t> choice(n, 0);  // length taken at each position; 0: a literal
    RangeMin ahead(cost);
    ahead.add(n);
    for (std::size_t i = n; i-- > 0;) {
        std::uint32_t best = costs.literal + cost[i + 1];
        std::uint32_t taken = 0;
        const std::uint32_t longest = matches[i].length;
        for (std::uint32_t l = kMinMatch; l <= std::min(longest, costs.shortMax); ++l) {
            if (costs.shortCost + cost[i + l] < best) {
                best = costs.shortCost + cost[i + l];
                taken = l;
            }
        }
        if (longest > costs.shortMax) {
            const std::size_t at = ahead.min(i + costs.shortMax + 1, i + longest);
            if (costs.longCost + cost[at] < best) {
                best = costs.longCost + cost[at];
                taken = static_cast<std::uint32_t>(at - i);
            }
        }
        cost[i] = best;
        choice[i] = taken;
        ahead.add(i);
    }
    for (std::size_t i = 0; i < n;) {
        if (choice[i] == 0) {
            items.push_back({});
            ++i;
        } else {
            items.push_back({choice[i], matches[i].distance});
            i += choice[i];
        }
    }
}

}  // namespace tplforge::lz
