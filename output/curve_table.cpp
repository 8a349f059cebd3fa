#include "output/curve_table.h"

CurveRow& CurveTable::operator[](std::int64_t i)
{
    const auto chunk = static_cast<std::size_t>(i / kChunkRows);
    while (chunks_.size() <= chunk) {
        // Left uninitialised: the pages of a chunk become resident only as rows are written.
        chunks_.push_back(std::make_unique_for_overwrite<CurveRow[]>(kChunkRows));
    }
    return chunks_[chunk][static_cast<std::size_t>(i % kChunkRows)];
}

const CurveRow& CurveTable::operator[](std::int64_t i) const
{
    return chunks_.at(static_cast<std::size_t>(i / kChunkRows))[static_cast<std::size_t>(i % kChunkRows)];
}

void CurveTable::Clear() { chunks_.clear(); }
