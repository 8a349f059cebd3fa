// How deep and how wide a glitch or an event is: the dip that a secondary reflection X makes in
// the monochromator's output (I0) against its setting, from the passband integral of the
// three- or four-beam reflectivity (dynamics/loss_map.h), for the beam's spread and polarisation.
//
// Along an energy scan the central ray's deviation from X's condition moves as
// alpha_c = rate (E - E_X) (rate from the geometry at the glitch); along an azimuthal scan it follows
// alpha_c(psi) = lambda^2 (2 k0(psi).X + |X|^2) at the band's centre. The dip's depth is the largest
// share of I0 taken at a setting, its width the full width at half that depth against the setting.
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "crystal/crystal.h"
#include "dynamics/beam.h"
#include "scan/events.h"
#include "dynamics/loss_map.h"
#include "scan/scan_frame.h"

struct GlitchShape {
    double depth = 0.0;    // the largest share of the output taken at a setting, 0 to 1
    double widthEV = 0.0;  // full width at half depth against the setting, eV (0 for a dip of depth 0)
    // How fast the central ray's deviation from X's condition moves along the scan, per eV
    // (0 where X stays on the sphere: the share taken is then the same at every energy).
    double rate = 0.0;
    double offsetEV = 0.0;  // where the dip is deepest, from the glitch's energy (refraction moves it)
    DipProfile dip;         // the share taken against alpha_c
    // The share taken `eV` away from the glitch's energy (negative where X adds to I0).
    double At(double eV) const { return rate == 0.0 ? dip.At(0.0) : dip.At(rate * eV); }
    // How far from the glitch's energy (eV) the profile reaches.
    double Reach() const;
};

// The shape of X's glitch at `keV` and the azimuth psi (degrees) for the beam. A reflection that
// stays on the sphere over the whole scan has no width along it: widthEV is then infinite.
GlitchShape ShapeOfGlitch(const Crystal& crystal, const ScanFrame& frame, Miller x, double psi, double keV, const Beam& beam);

// A glitch, event or line end asked for among many: X at psi (degrees) and `keV` in the frame.
struct GlitchRequest {
    const ScanFrame* frame;
    Miller x;
    double psi, keV;
};
// The shapes of many glitches at once, on every core. Alike cases (the same multiple-beam case met
// at azimuths that the crystal's symmetry or a turn makes equivalent: the same beam cosines,
// susceptibilities and rates to a billionth) are worked out once, from the first of them in the
// list, so that they agree and the answers do not depend on the threads' timing.
std::vector<GlitchShape> ShapesOfGlitches(const Crystal& crystal, const std::vector<GlitchRequest>& requests, const Beam& beam);

// Dips once worked out are kept for the process, by their case (bounded), so that a fit of many
// scans, a glitch map with its clean windows or a Python session works each out once. Forgets them
// (a benchmark times each run from nothing).
void ForgetStoredDips();

// An event's dip as psi turns the beam about G: its deepest share and its full width at half depth
// in azimuth (degrees; 0 for a dip of depth 0; a forbidden primary's events have depth 0 and the
// width of their Umweg peak).
struct AzimuthDip {
    double depth, widthDeg;
};
// The same for many events or line ends at once, as ShapesOfGlitches.
std::vector<AzimuthDip> DipsInAzimuth(const Crystal& crystal, const std::vector<GlitchRequest>& requests, const Beam& beam);

// A quick estimate of X's dip, to rank glitches by and to place their deepest points: the dip of
// one loss map alone (the coarse one, some seventy rays, unless told), its depth and the central
// ray's deviation alpha_c there.
struct DipEstimate {
    double depth = 0.0;
    double peak = 0.0;
};
// The depth and deepest point of a dip worked out in full.
inline DipEstimate DeepestPoint(const DipProfile& dip) { return {dip.depth, dip.peak}; }
DipEstimate EstimateDip(const Crystal& crystal, const ScanFrame& frame, Miller x, double psi, double keV, const Beam& beam,
                        Sampling sampling = kCoarseSampling);

// One glitch's loss, kept to give its dip for beams of several spreads across G's scattering
// plane (the fit of a measured scan estimates the beam's spread from the dips' widths): X's
// circle's, without the mirror images that only a beam without spread across meets with it.
class GlitchLoss {
public:
    GlitchLoss(const Crystal& crystal, const ScanFrame& frame, Miller x, double psi, double keV, const Beam& beam);
    // The glitch's shape for a beam of the spread `across` (rad) across G's plane, the rest of the
    // beam as given.
    GlitchShape Shape(double across) const;
    // Its width against the setting (eV): the predicted dip width as a function of the spread.
    double WidthEV(double across) const { return Shape(across).widthEV; }

private:
    PassbandCase case_;
    Miller x_;  // the reflection asked for: X of the case, or its partner
    std::optional<LossMap> map_;
    double rate_;
    bool cutoff_;
    double cutoffRoot_;  // at G's cut-off: alpha_c = cutoffRoot_ sqrt(E - Ec), E in eV
};

// How the central ray's deviation from X's condition moves along an energy scan at the glitch:
// alpha_c = rate (E - E_X), or at G's cut-off, where k_perp = 0, alpha_c = root sqrt(E - Ec).
struct ScanRate {
    double rate = 0.0;  // per eV
    bool cutoff = false;
    double root = 0.0;
};
ScanRate ScanRateOf(const ScanFrame& frame, const Lattice& lattice, Miller x, double psi, double keV);
// The glitch's shape along the scan from its dip.
GlitchShape ShapeAlongScan(DipProfile dip, const ScanRate& scan);

// The width in azimuth (degrees) of X's event at psi (degrees) and `keV`: the full width at half
// depth of its dip as psi turns the beam about G (0 for a dip of depth 0).
double EventWidth(const Crystal& crystal, const ScanFrame& frame, Miller x, double psi, double keV, const Beam& beam);

// Sets the event's width and depth for the beam at the band's centre, `keV`.
void ShapeEvent(const Crystal& crystal, const ScanFrame& frame, double keV, const Beam& beam, Event* event);

// The same for every event.
void SetEventWidths(const Crystal& crystal, const ScanFrame& frame, double keV, const Beam& beam, std::vector<Event>* events);
