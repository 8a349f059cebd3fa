// The parts of a planning run as the size check weighs them (cli/run_limits.h): each table's bytes
// and memory (planning/run_size.h), with what it is and the options (or, in Python, the
// arguments) that make it smaller. Each first refuses a limiting sphere beyond the doubles.
#pragma once

#include <string>

#include "cli/run_limits.h"
#include "crystal/crystal.h"
#include "scan/scan_frame.h"

// How the messages name the options that scale a run: "--psi" or "psi".
struct ScaleNames {
    const char* psi;
    const char* energies;
    const char* harmonics;
};
inline constexpr ScaleNames kOptionNames{"--psi", "--energies", "--harmonics"};
inline constexpr ScaleNames kArgumentNames{"psi", "energies", "harmonics"};

// Each writes into `path` (empty: nothing is written). windowWidth in degrees, energies in keV,
// lambda in angstrom.
RunPart EventsPart(const Crystal& crystal, const ScanFrame& frame, double lambda, double windowWidth, const ScaleNames& names,
                   const std::string& path);
RunPart GlitchesPart(const Crystal& crystal, const ScanFrame& frame, double eMin, double eMax, int harmonics, bool keptSphere,
                     const ScaleNames& names, const std::string& path);
RunPart SpectrumPart(const Crystal& crystal, const ScanFrame& frame, double eMin, double eMax, int harmonics, bool keptSphere,
                     const ScaleNames& names, const std::string& path);
RunPart GlitchMapPart(const Crystal& crystal, const ScanFrame& frame, double eMin, double eMax, double windowWidth,
                      const ScaleNames& names, const std::string& path);
RunPart FitPart(const Crystal& crystal, const ScanFrame& frame, double eMax, int harmonics, const ScaleNames& names,
                const std::string& path);
