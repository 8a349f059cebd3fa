// Crystals and scans shared by the tests of the planning engine.
#pragma once

#include <cstring>
#include <string>

#include "crystal/cubic_crystal.h"
#include "ewald_model.h"
#include "scan/scan_frame.h"
#include "setup/factor_file.h"

// A cubic crystal of the shipped table's element `symbol` (read as the dialogue reads it).
inline CubicCrystal TableCrystal(int structure, double a, const char* symbol)
{
    InputStruct record{};
    std::strcpy(record.factorFile, KELTO_SOURCE_DIR "/data/f0_it1992.txt");
    std::strcpy(record.symbol, symbol);
    ReadFactors(&record);
    return CubicCrystal(structure, a, record.f0Coef, symbol);
}

// A scan of a cubic crystal in the engine's frame and in the tests' own model of it.
struct CubicScan {
    int structure;
    double a;
    const char* symbol;
    Miller primary;
    bool withReference = false;
    Miller reference{};

    ScanFrame Frame(const Crystal& crystal) const
    {
        return withReference ? ReferenceFrame(crystal.lattice(), primary, reference) : MatrixFrame(crystal.lattice(), primary);
    }
    ewald::Scan Model() const
    {
        const ewald::V g{double(primary.h), double(primary.k), double(primary.l)};
        return withReference ? ewald::Scan::WithReference(a, g, {double(reference.h), double(reference.k), double(reference.l)})
                             : ewald::Scan::OfMatrix(a, primary.h, primary.k, primary.l);
    }
    // Degrees to which the model's azimuths can be trusted: the orientation matrix it takes its
    // frame from holds single-precision numbers.
    double Tolerance() const { return withReference ? 1e-6 : 2e-5; }
    // The same for |k0 + X|^2 - |k0|^2 over |X|^2.
    double ExcessTolerance() const { return withReference ? 1e-10 : 2e-6; }
    std::string Name() const
    {
        return std::string(symbol) + " " + std::to_string(primary.h) + " " + std::to_string(primary.k) + " " +
               std::to_string(primary.l) + (withReference ? " (reference)" : "");
    }
};

inline ewald::V Vector(Miller m) { return {double(m.h), double(m.k), double(m.l)}; }
