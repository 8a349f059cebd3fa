// What a planning calculation will write and hold, from the crystal and the request alone, before
// any reflection is visited: a run that would fill the disk or the memory is refused up front.
//
// The rows are the reflections met, counted as volumes of reciprocal space times the density of
// the reflections the structure lets through (the cell's volume times the share of reflections
// that scatter, sampled in the region the calculation visits):
//   events over a window of W degrees, the Ewald sphere of radius k = 1 / lambda turning about G
//   with its centre at |k_perp| from the axis: every point of the torus it sweeps is met twice a
//   turn (on the sphere and off again), 2 x 2 pi^2 |k_perp| k^2 (Pappus) x W / 360;
//   glitches at one azimuth from k1 to k2 (k = E / hc): the spheres of the scan grow from one to
//   the other, 4/3 pi (k2^3 - k1^3); the harmonic n G at n E, n^3 times as many where n G passes;
//   glitch lines: one for every reflection in the torus of k2, a turn of the window and the reach
//   of a line's ends (some 90 degrees) counted.
// The bytes per row are those of the tables as written (planning/tables.h), measured on runs.
#pragma once

#include "crystal/crystal.h"
#include "scan/scan_frame.h"

struct RunSize {
    double rows = 0.0;    // of the table
    double bytes = 0.0;   // of the table as written
    double memory = 0.0;  // held at the height of the calculation, bytes
    double visits = 0.0;  // reflections looked at, the calculation's time (some 1e7 a second on one core)
};

// The events of a band at lambda (angstrom) over a window of `windowWidth` degrees (also those of
// the clean-window search).
RunSize EventsSize(const Crystal& crystal, const ScanFrame& frame, double lambda, double windowWidth);

// The glitches at one azimuth from eMin to eMax keV with the harmonics up to `harmonics`; with
// `keptSphere`, the reflections of the limiting sphere are held too (spectra at many azimuths).
RunSize GlitchesSize(const Crystal& crystal, const ScanFrame& frame, double eMin, double eMax, int harmonics,
                     bool keptSphere = false);

// The predicted I0 spectrum of those glitches: 2001 energies and at most 17 more around each
// glitch, and the memory they take; no bytes, which are known exactly only once it is computed.
RunSize SpectrumSize(const RunSize& glitches);

// The glitch lines from eMin to eMax keV over a window of `windowWidth` degrees (also those of the
// clean-energy search).
RunSize GlitchMapSize(const Crystal& crystal, const ScanFrame& frame, double eMax, double windowWidth);

// The lines of every order up to `harmonics` that a fit of a measured scan up to eMax keV matches
// its dips to, whatever its window; its table holds a row for each dip.
RunSize FitSize(const Crystal& crystal, const ScanFrame& frame, double eMax, int harmonics);

// A table of a few rows (the clean windows): its header and rows.
inline constexpr double kSmallTableBytes = 64.0 * 1024.0;
