// The table of recorded dispersion curves lambda(psi) = a / sqrt(k2 / cos^2(psi - psi0) + p2),
// filled during the survey and read back by the intersection search. It grows with the survey:
// every recorded curve has a row.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "io/console.h"
#include "setup/answer_source.h"

// One recorded curve. Every value is a single-precision value; readers widen it to double. Row
// `cpi` is filled in two steps for one psi solution: PrintResult writes psi0 and intensity, then
// GetUserGraphics writes the rest and advances cpi. CalcIntersections reads the complete rows.
struct CurveRow {
    float k2;         // GetUserGraphics, from CurveOf
    float psi0;       // degrees; PrintResult
    float p2;         // GetUserGraphics, from CurveOf
    float intensity;  // PrintResult
    float h;          // GetUserGraphics; whole numbers
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

// What one survey changes as it goes: the curve table and its counters, the number of band
// crossings written, and how it talks on the console and in its messages. The survey receives it
// from its caller.
struct SurveyRun {
    CurveTable calispe_param;
    std::int64_t cpi = 0;         // row being filled, the number of complete rows: set to 0 by
                                  // CalculHKL, advanced by GetUserGraphics (64-bit: no survey
                                  // overflows it)
    std::int64_t nbCurves = 0;    // rows the intersection search processes: set by CalculHKL
                                  // after the survey, read by CalcIntersections
    std::int64_t crossings = 0;   // band crossings CalcIntersections wrote
    bool echo = true;             // the echo lines on standard output, which --quiet turns off
    AnswerSource answers;         // whose words the survey's refusals take: the dialogue's or the options'
    ProgressLine progress;

    // The row that the curve being recorded fills: row `cpi`.
    CurveRow& CurrentCurveRow() { return calispe_param[cpi]; }
};
