// Crystals and scans shared by the tests of the planning engine.
#pragma once

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "crystal/cif_crystal.h"
#include "crystal/cubic_crystal.h"
#include "crystal/shipped_crystals.h"
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

// A shipped crystal, and one read from the text of a CIF file.
inline std::unique_ptr<CifCrystal> Shipped(const std::string& name)
{
    std::string notice;
    return CifCrystal::Read(ShippedCrystalPath(name), &notice);
}
inline std::unique_ptr<CifCrystal> FromText(const std::string& text)
{
    std::string notice;
    return CifCrystal::Parse(text, "test.cif", &notice);
}

// A cubic CIF: cell a, space group `group`, the sites' loop rows "label symbol x y z occupancy B".
inline std::string CubicCif(double a, const std::string& group, const std::string& sites)
{
    char length[32];
    std::snprintf(length, sizeof length, "%.17g", a);
    return "data_test\n_cell_length_a " + std::string(length) + "\n_cell_length_b " + length +
           "\n_cell_length_c " + length + "\n_cell_angle_alpha 90\n_cell_angle_beta 90\n_cell_angle_gamma 90\n"
           "_space_group_name_H-M_alt '" + group + "'\nloop_\n_atom_site_label\n_atom_site_type_symbol\n_atom_site_fract_x\n"
           "_atom_site_fract_y\n_atom_site_fract_z\n_atom_site_occupancy\n_atom_site_B_iso_or_equiv\n" + sites;
}

// The diamond structure of one element written out in P 1, its symmetry unstated, without
// displacements (B = 0).
inline std::unique_ptr<CifCrystal> DiamondInP1(const std::string& element, double a)
{
    std::string sites;
    int n = 0;
    for (const char* at : {"0 0 0", "0 0.5 0.5", "0.5 0 0.5", "0.5 0.5 0", "0.25 0.25 0.25", "0.25 0.75 0.75", "0.75 0.25 0.75",
                           "0.75 0.75 0.25"}) {
        sites += element + std::to_string(++n) + " " + element + " " + at + " 1 0\n";
    }
    return FromText(CubicCif(a, "P 1", sites));
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
