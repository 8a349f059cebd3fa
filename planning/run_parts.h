// The parts of a planning run as the size check weighs them (planning/run_limits.h): each table's bytes
// and memory (planning/run_size.h), with what it is and the options (or, in Python, the
// arguments) that make it smaller. Each first refuses a limiting sphere beyond the doubles.
#pragma once

#include <cstddef>
#include <string>

#include "crystal/crystal.h"
#include "planning/request_names.h"
#include "planning/run_limits.h"
#include "scan/scan_frame.h"

// Each writes into `path` (empty: nothing is written). windowWidth in degrees, energies in keV,
// lambda in angstrom.
RunPart EventsPart(const Crystal& crystal, const ScanFrame& frame, double lambda, double windowWidth, const RequestNames& names,
                   const std::string& path);
RunPart GlitchesPart(const Crystal& crystal, const ScanFrame& frame, double eMin, double eMax, int harmonics, bool keptSphere,
                     const RequestNames& names, const std::string& path);
RunPart SpectrumPart(const Crystal& crystal, const ScanFrame& frame, double eMin, double eMax, int harmonics, bool keptSphere,
                     const RequestNames& names, const std::string& path);
// The predicted spectrum once computed: its `energies` and the exact `bytes` of its table, for
// RefuseTableBeyondFreeSpace.
RunPart ComputedSpectrumPart(const std::string& path, double bytes, std::size_t energies, double eMin, double eMax, int harmonics,
                             const RequestNames& names);
RunPart GlitchMapPart(const Crystal& crystal, const ScanFrame& frame, double eMin, double eMax, double windowWidth,
                      const RequestNames& names, const std::string& path);
RunPart FitPart(const Crystal& crystal, const ScanFrame& frame, double eMax, int harmonics, const RequestNames& names,
                const std::string& path);
