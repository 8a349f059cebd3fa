// Values kept by reflection, read and written from several threads at once: the map is split into
// shards, each under its own lock, so that threads seldom wait for one another. Values are kept
// until they would take more than the budget; beyond it they are computed again each time, which
// gives the same numbers.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <unordered_map>

#include "crystal/vec3.h"

template <typename Value>
class ReflectionCache {
public:
    // At most `budget` bytes, each value counted at `valueBytes` (with the map's own).
    ReflectionCache(double budget, double valueBytes) { Limit(budget, valueBytes); }
    // The same, set before any value is kept.
    void Limit(double budget, double valueBytes) { most_ = static_cast<std::size_t>(budget / (valueBytes + kEntryBytes)); }

    std::optional<Value> Find(Miller m) const
    {
        const std::optional<std::uint64_t> key = Key(m);
        if (!key) return std::nullopt;
        const Shard& shard = shards_[*key % kShards];
        const std::lock_guard<std::mutex> held(shard.lock);
        const auto found = shard.map.find(*key);
        if (found == shard.map.end()) return std::nullopt;
        return found->second;
    }

    void Keep(Miller m, const Value& value) const
    {
        const std::optional<std::uint64_t> key = Key(m);
        if (!key || kept_.load(std::memory_order_relaxed) >= most_) return;
        Shard& shard = shards_[*key % kShards];
        const std::lock_guard<std::mutex> held(shard.lock);
        if (shard.map.emplace(*key, value).second) kept_.fetch_add(1, std::memory_order_relaxed);
    }

private:
    static constexpr std::size_t kShards = 16;
    static constexpr double kEntryBytes = 64.0;  // a node of the map, its key and its bucket
    static constexpr int kBits = 21;

    // The indices packed into 63 bits; none for indices beyond 2^20.
    static std::optional<std::uint64_t> Key(Miller m)
    {
        constexpr int kOffset = 1 << (kBits - 1);
        if (std::abs(m.h) >= kOffset || std::abs(m.k) >= kOffset || std::abs(m.l) >= kOffset) return std::nullopt;
        const auto field = [](int index) { return static_cast<std::uint64_t>(index + kOffset); };
        return field(m.h) << (2 * kBits) | field(m.k) << kBits | field(m.l);
    }

    struct Shard {
        mutable std::mutex lock;
        std::unordered_map<std::uint64_t, Value> map;
    };
    mutable std::array<Shard, kShards> shards_;
    mutable std::atomic<std::size_t> kept_{0};
    std::size_t most_ = 0;
};
