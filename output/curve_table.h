// The table of recorded dispersion curves lambda(psi) = a / sqrt(k2 / cos^2(psi - psi0) + p2),
// filled during the survey and read back by the intersection search. It grows with the survey:
// every recorded curve has a row.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

// Every value of a row is a single-precision value; readers widen it to double.
struct CurveRow {
    float k2;
    float psi0;       // degrees
    float p2;
    float intensity;
    float h;
    float k;
    float l;
};

// Rows in chunks of fixed size: recording a curve allocates at most one chunk, rows never move,
// and the memory held is the rows recorded plus one partly filled chunk.
class CurveTable {
public:
    // Row `i`, allocating its chunk when it has none yet.
    CurveRow& operator[](std::int64_t i);
    const CurveRow& operator[](std::int64_t i) const;
    // Forgets every row and returns the memory.
    void Clear();

private:
    static constexpr std::int64_t kChunkRows = std::int64_t{1} << 16;
    std::vector<std::unique_ptr<CurveRow[]>> chunks_;
};

extern CurveTable calispe_param;
extern std::int64_t cpi;        // row being filled; number of complete rows
extern std::int64_t nbCurves;   // rows the intersection search processes

// The row that the curve being recorded fills: row `cpi`.
CurveRow& CurrentCurveRow();
