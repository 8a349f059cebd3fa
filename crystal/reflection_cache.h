// Values kept by reflection (and energy), read and written from several threads at once: the map is
// split into shards, each under its own lock, so that threads seldom wait for one another. A shard
// that would take more than its part of the budget is emptied and begins again, so that the values
// asked for lately stay; a value dropped is made again when asked for, to the same bits.
#pragma once

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
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
    void Limit(double budget, double valueBytes)
    {
        mostInShard_ = static_cast<std::size_t>(budget / (valueBytes + kEntryBytes) / kShards);
    }

    std::optional<Value> Find(Miller m, double energy = 0.0) const
    {
        const std::optional<Key> key = KeyOf(m, energy);
        if (!key) return std::nullopt;
        const Shard& shard = shards_[Hash{}(*key) % kShards];
        const std::lock_guard<std::mutex> held(shard.lock);
        const auto found = shard.map.find(*key);
        if (found == shard.map.end()) return std::nullopt;
        return found->second;
    }

    void Keep(Miller m, const Value& value, double energy = 0.0) const
    {
        const std::optional<Key> key = KeyOf(m, energy);
        if (!key || mostInShard_ == 0) return;
        Shard& shard = shards_[Hash{}(*key) % kShards];
        const std::lock_guard<std::mutex> held(shard.lock);
        if (shard.map.size() >= mostInShard_) shard.map.clear();
        shard.map.emplace(*key, value);
    }

private:
    static constexpr std::size_t kShards = 16;
    static constexpr double kEntryBytes = 64.0;  // a node of the map, its key and its bucket
    static constexpr int kBits = 21;

    struct Key {
        std::uint64_t indices;
        std::uint64_t energy;  // the bits of the double
        bool operator==(const Key&) const = default;
    };
    struct Hash {
        std::size_t operator()(const Key& key) const
        {
            const std::uint64_t mixed = (key.indices ^ (key.energy * 0x9E3779B97F4A7C15ull)) * 0xBF58476D1CE4E5B9ull;
            return static_cast<std::size_t>(mixed ^ (mixed >> 31));
        }
    };

    // The indices packed into 63 bits; none for indices beyond 2^20.
    static std::optional<Key> KeyOf(Miller m, double energy)
    {
        constexpr int kOffset = 1 << (kBits - 1);
        if (std::abs(m.h) >= kOffset || std::abs(m.k) >= kOffset || std::abs(m.l) >= kOffset) return std::nullopt;
        const auto field = [](int index) { return static_cast<std::uint64_t>(index + kOffset); };
        Key key{field(m.h) << (2 * kBits) | field(m.k) << kBits | field(m.l), 0};
        std::memcpy(&key.energy, &energy, sizeof energy);
        return key;
    }

    struct Shard {
        mutable std::mutex lock;
        std::unordered_map<Key, Value, Hash> map;
    };
    mutable std::array<Shard, kShards> shards_;
    std::size_t mostInShard_ = 0;
};
