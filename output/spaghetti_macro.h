// kelto_spaghetti.mac: the IDL macro that draws every dispersion curve against the azimuth,
// together with the wavelength band.
#pragma once

#include <cstdio>

#include "output/curve_table.h"
#include "setup/input_struct.h"

void WriteSpaghettiPreamble(std::FILE* fileMac, const InputStruct* record);

// What GetUserGraphics records and draws of one psi solution of a reflection.
struct CurveRecord {
    float latticeA;     // angstrom
    float h, k, l;      // the reflection
    float x0;           // frame coordinate x of the primary reflection
    float k2, p2;       // the curve's coefficients
    double psi01;       // degrees: psi0 and its second representative
    double psi02;
    double psi1;        // degrees: the reflection's first psi solution
};

// Records the curve in the curve table, echoes it on standard output and appends its macro
// blocks.
void GetUserGraphics(std::FILE* fileMac, SurveyRun* run, const CurveRecord& curve);
