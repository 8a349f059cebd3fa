#include "scan/scan_frame.h"

#include <cmath>
#include <limits>
#include <stdexcept>

#include "setup/units.h"

namespace {

ScanFrame Primary(const Lattice& lattice, Miller primary)
{
    if (IsZero(primary)) throw std::invalid_argument("the primary reflection 0 0 0 has no reflection frame");
    ScanFrame frame{};
    frame.primary = primary;
    frame.G = lattice.Reciprocal(primary);
    frame.length = Length(frame.G);
    frame.along = (1.0 / frame.length) * frame.G;
    return frame;
}

Vec3 Across(const ScanFrame& frame, Vec3 v) { return v - Dot(v, frame.along) * frame.along; }

Vec3 Unit(Vec3 v) { return (1.0 / Length(v)) * v; }

}  // namespace

double ScanFrame::Azimuth(Vec3 v) const
{
    return Degrees(std::atan2(Dot(v, e3), Dot(v, e2)));
}

double ScanFrame::BeamAcross(double lambda) const
{
    const double squared = 1.0 / (lambda * lambda) - length * length / 4.0;
    return squared >= 0.0 ? std::sqrt(squared) : std::numeric_limits<double>::quiet_NaN();
}

ScanFrame ReferenceFrame(const Lattice& lattice, Miller primary, Miller reference)
{
    ScanFrame frame = Primary(lattice, primary);
    if (Parallel(primary, reference)) {
        throw std::invalid_argument("the reference reflection is zero or parallel to the primary reflection: it has no "
                                    "component across it");
    }
    frame.e2 = Unit(Across(frame, lattice.Reciprocal(reference)));
    frame.e3 = Cross(frame.along, frame.e2);
    frame.beam = 1;
    frame.rightHanded = true;
    frame.reference = reference;
    return frame;
}

double CutoffEnergy(const ScanFrame& frame) { return kHcKeVAngstrom / frame.CutoffWavelength(); }

void MatrixFrameAxes(Miller primary, double r2[3], double r3[3])
{
    // The second and third columns of the orientation matrix, up to their (positive) lengths.
    const double h = primary.h, k = primary.k, l = primary.l;
    const auto set = [](double* r, double x, double y, double z) { r[0] = x, r[1] = y, r[2] = z; };
    if (primary.h != 0 && primary.k != 0 && primary.l != 0) {
        set(r2, -((h + k) * k / l + l), (h + k) * h / l + l, h - k);
        set(r3, 1.0, 1.0, -(h + k) / l);
    } else if (primary.h != 0 && primary.k != 0) {
        set(r2, -k, h, 0.0), set(r3, 0.0, 0.0, 1.0);
    } else if (primary.k != 0 && primary.l != 0) {
        set(r2, 0.0, -l, k), set(r3, 1.0, 0.0, 0.0);
    } else if (primary.h != 0 && primary.l != 0) {
        set(r2, l, 0.0, -h), set(r3, 0.0, 1.0, 0.0);
    } else if (primary.h != 0) {
        set(r2, 0.0, 1.0, 0.0), set(r3, 0.0, 0.0, 1.0);
    } else if (primary.k != 0) {
        set(r2, 0.0, 0.0, 1.0), set(r3, 1.0, 0.0, 0.0);
    } else {
        set(r2, 1.0, 0.0, 0.0), set(r3, 0.0, 1.0, 0.0);
    }
}

ScanFrame MatrixFrame(const Lattice& lattice, Miller primary)
{
    ScanFrame frame = Primary(lattice, primary);
    double r2[3], r3[3];
    MatrixFrameAxes(primary, r2, r3);
    frame.e2 = Unit(Across(frame, lattice.Reciprocal(r2[0], r2[1], r2[2])));
    const Vec3 right = Cross(frame.along, frame.e2);
    frame.rightHanded = Dot(right, lattice.Reciprocal(r3[0], r3[1], r3[2])) > 0.0;
    frame.e3 = frame.rightHanded ? right : -1.0 * right;
    frame.beam = -1;
    return frame;
}
