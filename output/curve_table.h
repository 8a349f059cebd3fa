// The table of recorded dispersion curves lambda(psi) = a / sqrt(k2 / cos^2(psi - psi0) + p2),
// filled during the survey and read back by the intersection search.
#pragma once

constexpr int kCurveTableRows = 5000;

struct CurveRow {
    double k2;
    double psi0;       // degrees
    double p2;
    double intensity;
    float h;
    float k;
    float l;
};

extern CurveRow calispe_param[kCurveTableRows];
extern int cpi;        // row being filled; number of complete rows
extern int nbCurves;   // rows the intersection search processes

// The row that the curve being recorded fills: row `cpi`, or, once the table is full, a scratch
// row outside it that the intersection search never reads.
CurveRow& CurrentCurveRow();
