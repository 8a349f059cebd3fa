#include "dynamics/passband.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>
#include <numbers>

#include "dynamics/darwin_width.h"
#include "setup/units.h"

namespace {

Vec3 Unit(Vec3 v) { return (1.0 / Length(v)) * v; }

Miller Minus(Miller a, Miller b) { return {a.h - b.h, a.k - b.k, a.l - b.l}; }

// The cross product of two index triples, exact.
std::array<long long, 3> IndexCross(Miller a, Miller b)
{
    return {static_cast<long long>(a.k) * b.l - static_cast<long long>(a.l) * b.k,
            static_cast<long long>(a.l) * b.h - static_cast<long long>(a.h) * b.l,
            static_cast<long long>(a.h) * b.k - static_cast<long long>(a.k) * b.h};
}

// A beam's sigma and pi directions: sigma given (normal to a scattering plane), pi = u x sigma.
struct Directions {
    Vec3 u, sigma, pi;
};
Directions Along(Vec3 u, Vec3 sigma) { return {u, sigma, Cross(u, sigma)}; }

// One crystal's case: the beams' directions, reciprocal vectors and the inward normal.
BeamSet Case(const Scattering& scattering, double chiScale, const Directions* beams, const Miller* h, int count,
             Vec3 inward)
{
    BeamSet set;
    set.count = count;
    for (int m = 0; m < count; ++m) {
        set.gamma[static_cast<std::size_t>(m)] = Dot(beams[m].u, inward);
        for (int n = 0; n < count; ++n) set.chi[m][n] = chiScale * scattering.F(Minus(h[m], h[n]));
        for (int n = 0; n < count; ++n) {
            const Vec3 mine[2] = {beams[m].sigma, beams[m].pi}, theirs[2] = {beams[n].sigma, beams[n].pi};
            for (int s = 0; s < 2; ++s) {
                for (int t = 0; t < 2; ++t) set.projection[m][s][n][t] = Dot(mine[s], theirs[t]);
            }
        }
    }
    return set;
}

// The two roots (accommodation delta) of the linear two-beam theory of O and G, sigma:
// x = D_G / D_0 solves ratio chi_-G x^2 + (alpha - chi_0 + ratio chi_0) x - chi_G = 0,
// ratio = gamma_G / gamma_0, and delta = (chi_0 + chi_-G x) / (2 gamma_0).
std::array<std::complex<double>, 2> TwoBeamRoots(const BeamSet& f, double alphaG)
{
    const double gamma0 = std::fmax(f.gamma[0], 1e-3), ratio = f.gamma[1] / gamma0;
    const std::complex<double> chi0 = f.chi[0][0], a = ratio * f.chi[0][1], b = alphaG - chi0 + ratio * chi0, c = -f.chi[1][0];
    if (std::abs(a) == 0.0) {
        const double gammaG = f.gamma[1] != 0.0 ? f.gamma[1] : -1e-3;
        return {chi0 / (2.0 * gamma0), (chi0 - alphaG) / (2.0 * gammaG)};
    }
    const std::complex<double> root = std::sqrt(b * b - 4.0 * a * c);
    const std::complex<double> x1 = (-b + root) / (2.0 * a), x2 = (-b - root) / (2.0 * a);
    return {(chi0 + f.chi[0][1] * x1) / (2.0 * gamma0), (chi0 + f.chi[0][1] * x2) / (2.0 * gamma0)};
}

// Of more reflections than kMostBeams - 3 besides X, the shortest; by MillerBefore.
void KeepShortest(const Lattice& lattice, std::vector<Miller>* found)
{
    constexpr std::size_t kMost = kMostBeams - 3;
    if (found->size() > kMost) {
        const auto length = [&](Miller m) { return Dot(lattice.Reciprocal(m), lattice.Reciprocal(m)); };
        std::sort(found->begin(), found->end(), [&](Miller a, Miller b) {
            const double la = length(a), lb = length(b);
            return la != lb ? la < lb : MillerBefore(a, b);
        });
        found->resize(kMost);
    }
    std::sort(found->begin(), found->end(), MillerBefore);
}

}  // namespace

double ExitAccommodation(double gammaG, double alphaG)
{
    const double root = std::sqrt(std::fmax(gammaG * gammaG - alphaG, 0.0));
    const double q = gammaG + std::copysign(root, gammaG);
    return q != 0.0 ? -alphaG / q : 0.0;
}

std::vector<Miller> CircleMembers(const Crystal& crystal, Miller primary, Miller x)
{
    const Lattice& lattice = crystal.lattice();
    const Vec3 g = lattice.Reciprocal(primary), xv = lattice.Reciprocal(x);
    const auto whole = [](double v) { return std::fabs(v - std::round(v)) < 1e-6 && std::fabs(v) < 1e6; };
    const auto usable = [&](Miller m) { return m != x && m != primary && m != Miller{0, 0, 0} && !crystal.Extinct(m); };
    // The reflections Y = n X + m G of the lattice plane through O, G and X that lie on the circle
    // through the three: their index cross product with G is n times X's, so n = p / c for c the
    // common divisor of X x G's indices, and the circle fixes m:
    // |G|^2 m^2 + (2 n X.G - |G|^2) m + (n^2 - n) |X|^2 = 0. The circle's points lie within its
    // diameter D of O, so that |n| |X x G| <= D |G|. n = 1 gives the mirror partner.
    const std::array<long long, 3> xCrossG = IndexCross(x, primary);
    const long long divisor = std::gcd(std::gcd(std::llabs(xCrossG[0]), std::llabs(xCrossG[1])), std::llabs(xCrossG[2]));
    const double crossed = Length(Cross(xv, g)), gg = Dot(g, g), xx = Dot(xv, xv), xg = Dot(xv, g);
    if (divisor == 0 || !(crossed > 1e-9 * std::sqrt(gg * xx))) return {};
    const double diameter = std::sqrt(xx) * std::sqrt(gg) * Length(xv - g) / crossed;
    const double most = static_cast<double>(divisor) * diameter * std::sqrt(gg) / crossed + 1.0;
    if (!(most < 1e4)) return {};
    std::vector<Miller> found;
    for (long long p = -static_cast<long long>(most); p <= static_cast<long long>(most); ++p) {
        const double n = static_cast<double>(p) / static_cast<double>(divisor);
        if (p == 0) continue;  // O and G's line
        const double b = 2.0 * n * xg - gg, c = (n * n - n) * xx, disc = b * b - 4.0 * gg * c;
        if (disc < 0.0) continue;
        for (const double sign : {-1.0, 1.0}) {
            const double m = (-b + sign * std::sqrt(disc)) / (2.0 * gg);
            const double yh = n * x.h + m * primary.h, yk = n * x.k + m * primary.k, yl = n * x.l + m * primary.l;
            if (!whole(yh) || !whole(yk) || !whole(yl)) continue;
            const Miller y{static_cast<int>(std::lround(yh)), static_cast<int>(std::lround(yk)), static_cast<int>(std::lround(yl))};
            if (usable(y) && std::find(found.begin(), found.end(), y) == found.end()) found.push_back(y);
        }
    }
    KeepShortest(lattice, &found);
    return found;
}

std::optional<Miller> MirrorInBeamPlane(const Lattice& lattice, const ScanFrame& frame, double psi, Miller h)
{
    const double radians = Radians(psi);
    const Vec3 normal = Unit(Cross(frame.along, std::cos(radians) * frame.e2 + std::sin(radians) * frame.e3));
    const Vec3 hv = lattice.Reciprocal(h);
    const double off = Dot(hv, normal);
    if (!(std::fabs(off) > 1e-9 * Length(hv))) return std::nullopt;
    // The image's indices are its products with the direct cell's axes.
    const Vec3 image = hv - (2.0 * off) * normal;
    const double indices[3] = {Dot(image, lattice.Direct(1, 0, 0)), Dot(image, lattice.Direct(0, 1, 0)), Dot(image, lattice.Direct(0, 0, 1))};
    for (const double v : indices) {
        if (!(std::fabs(v - std::round(v)) < 1e-6 && std::fabs(v) < 1e6)) return std::nullopt;
    }
    return Miller{static_cast<int>(std::lround(indices[0])), static_cast<int>(std::lround(indices[1])), static_cast<int>(std::lround(indices[2]))};
}

std::vector<Miller> SharedMembers(const Crystal& crystal, const ScanFrame& frame, Miller x, double psi, bool mirrors)
{
    std::vector<Miller> found = CircleMembers(crystal, frame.primary, x);
    if (!mirrors) return found;
    std::vector<Miller> imaged = found;
    imaged.push_back(x);
    for (const Miller y : imaged) {
        const std::optional<Miller> image = MirrorInBeamPlane(crystal.lattice(), frame, psi, y);
        if (!image || *image == x || crystal.Extinct(*image)) continue;
        if (std::find(found.begin(), found.end(), *image) == found.end()) found.push_back(*image);
    }
    KeepShortest(crystal.lattice(), &found);
    return found;
}

PartnerRelation RelationOf(const Lattice& lattice, Miller primary, Miller x, Miller partner)
{
    const Vec3 g = lattice.Reciprocal(primary), xv = lattice.Reciprocal(x);
    // A mirror partner differs from X by a multiple of G.
    if (IndexCross(Minus(partner, x), primary) == std::array<long long, 3>{}) return {1.0, 1.0 - 2.0 * Dot(xv, g) / Dot(g, g)};
    const Vec3 yv = lattice.Reciprocal(partner), xg = Cross(xv, g);
    const double n = Dot(Cross(yv, g), xg) / Dot(xg, xg);
    const Vec3 rest = yv - n * xv;
    return {n, Dot(rest, g) / Dot(g, g)};
}

std::vector<std::complex<double>> ResonantDeviations(const PassbandCase& c, double alphaG)
{
    std::vector<std::complex<double>> poles;
    // eps_m(delta) = delta^2 + 2 gamma_m delta + alpha_m - chi_0 = 0 for each root delta, given as
    // X's deviation (a member's less its shift times alpha_G, over its ratio).
    const auto add = [&](const BeamSet& set, int m, double deviation, double shift) {
        const double ratio = m >= 3 ? c.members[static_cast<std::size_t>(m - 3)].ratio : 1.0;
        for (const std::complex<double> delta : TwoBeamRoots(set, deviation)) {
            poles.push_back((set.chi[0][0] - 2.0 * set.gamma[static_cast<std::size_t>(m)] * delta - delta * delta - shift) / ratio);
        }
    };
    const int beams = 3 + static_cast<int>(c.members.size());
    const auto shiftOf = [&](int m) { return m >= 3 ? c.members[static_cast<std::size_t>(m - 3)].shift : 0.0; };
    for (int m = 2; m < beams; ++m) add(c.first, m, alphaG, shiftOf(m) * alphaG);
    if (c.secondMeetsX) {
        const double x = ExitAccommodation(c.first.gamma[1], alphaG);
        const double alphaG2 = 2.0 * x * c.first.gamma[0] + x * x;
        for (int m = 2; m < beams; ++m) add(c.second, m, alphaG2, shiftOf(m) * alphaG + 2.0 * x * c.first.gamma[static_cast<std::size_t>(m)] + x * x);
    }
    return poles;
}

PassbandCase DescribePassband(const Crystal& crystal, const ScanFrame& frame, Miller given, double psi, double keV,
                              const Beam& beam, bool images)
{
    const Lattice& lattice = crystal.lattice();
    const std::unique_ptr<Scattering> scattering = crystal.At(keV);
    // X and the reflections of its circle through O and G, the one that runs furthest into the
    // crystal first (the cosines are the same at every azimuth that the crystal's symmetry makes
    // equivalent, the indices are not; on a symmetric cut a mirror pair are each other's image in
    // the surface), so that every one of them and their images name one case; the others by how
    // far they run in.
    // A beam without spread across G's plane meets X's mirror images in the plane through G and
    // the beam together with X, ray by ray.
    std::vector<Miller> circle = SharedMembers(crystal, frame, given, psi, images && RaysInOnePlane(beam));
    circle.push_back(given);
    const Vec3 inwardNormal = -1.0 * Unit(Length(beam.surface) > 0.0 ? beam.surface : frame.G);
    // How far each runs in, to a trillionth (images in the surface run in alike): a strict order,
    // the same whichever of them is given.
    const auto inwardness = [&](Miller m) { return std::llround(Dot(lattice.Reciprocal(m), inwardNormal) * (kHcKeVAngstrom / keV) * 1e12); };
    std::sort(circle.begin(), circle.end(), [&](Miller a, Miller b) {
        const long long ia = inwardness(a), ib = inwardness(b);
        return ia != ib ? ia > ib : MillerBefore(a, b);
    });
    const Miller x = circle.front();
    const int beams = std::min(2 + static_cast<int>(circle.size()), kMostBeams);
    const double lambda = kHcKeVAngstrom / keV, radians = Radians(psi);
    const double across = frame.BeamAcross(lambda);
    const Vec3 k0 = (-frame.length / 2.0) * frame.along +
                    (frame.beam * (across > 0.0 ? across : 0.0)) * (std::cos(radians) * frame.e2 + std::sin(radians) * frame.e3);
    const Vec3 g = frame.G, xv = lattice.Reciprocal(x);
    const Vec3 u0 = Unit(k0), uG = Unit(k0 + g);
    // The normal to G's scattering plane: sigma, and the tilt across the plane. At G's cut-off the
    // beam runs back along G and every plane through G is one: the frame's psi = 90 direction
    // stands in.
    const Vec3 normal = Cross(k0, g);
    const Vec3 sigma = Length(normal) > 0.0 ? Unit(normal) : Unit(Cross(frame.along, frame.e2));
    const Vec3 tiltAlong = Unit(Cross(sigma, u0));
    Directions firstBeams[kMostBeams], secondBeams[kMostBeams];
    Miller firstH[kMostBeams], secondH[kMostBeams];
    const Miller minusG{-frame.primary.h, -frame.primary.k, -frame.primary.l};
    firstBeams[0] = Along(u0, sigma), firstBeams[1] = Along(uG, sigma);
    firstH[0] = {0, 0, 0}, firstH[1] = frame.primary;
    // The second crystal faces the first: its incident beam is G's, its -G sends the beam back
    // along O's direction.
    secondBeams[0] = firstBeams[1], secondBeams[1] = firstBeams[0];
    secondH[0] = {0, 0, 0}, secondH[1] = minusG;
    for (int m = 2; m < beams; ++m) {
        const Miller y = circle[static_cast<std::size_t>(m - 2)];
        const Vec3 uY = Unit(k0 + lattice.Reciprocal(y)), yNormal = Cross(u0, uY);
        firstBeams[m] = secondBeams[m] = Along(uY, Length(yNormal) > 1e-12 ? Unit(yNormal) : sigma);
        firstH[m] = y, secondH[m] = Minus(y, frame.primary);
    }
    const Vec3 uX = firstBeams[2].u;
    const Vec3 inward = -1.0 * Unit(Length(beam.surface) > 0.0 ? beam.surface : g);

    const double chiScale = -kElectronRadiusAngstrom * lambda * lambda / (std::numbers::pi * lattice.Volume());
    PassbandCase c;
    c.first = Case(*scattering, chiScale, firstBeams, firstH, beams, inward);
    c.cosines[0] = Dot(u0, uG), c.cosines[1] = Dot(u0, uX), c.cosines[2] = Dot(uG, uX);
    c.x = x;
    // A member off X's circle is the mirror image of X or of one on it, and its deviation that of
    // its image for every ray in the beam's plane.
    const std::vector<Miller> xCircle = CircleMembers(crystal, frame.primary, x);
    const auto onCircle = [&](Miller y) { return std::find(xCircle.begin(), xCircle.end(), y) != xCircle.end(); };
    for (int m = 3; m < beams; ++m) {
        const bool mirror = !onCircle(firstH[m]);
        const Miller y = mirror ? MirrorInBeamPlane(lattice, frame, psi, firstH[m]).value_or(x) : firstH[m];
        const PartnerRelation relation = y == x ? PartnerRelation{1.0, 0.0} : RelationOf(lattice, frame.primary, x, y);
        c.members.push_back({firstH[m], relation.ratio, relation.shift, mirror});
    }
    c.twoCrystals = beam.monochromator != Monochromator::kSingle;
    c.secondMeetsX = beam.monochromator == Monochromator::kChannelCut;
    // The second crystal's inward normal is the first's outward one.
    c.second = Case(*scattering, chiScale, secondBeams, secondH, c.secondMeetsX ? beams : 2, -1.0 * inward);

    c.kappa = Dot(xv, xv) / Dot(g, g);
    const double alongG = 2.0 * lambda * Dot(tiltAlong, g);
    c.alongRate = 2.0 * lambda * Dot(tiltAlong, xv) - c.kappa * alongG;
    c.acrossRate = 2.0 * lambda * Dot(sigma, xv);
    const double sigmaShare = beam.polarisation == Polarisation::kSigma ? 1.0 : beam.polarisation == Polarisation::kPi ? 0.0 : 0.5;
    const BeamSet& f = c.first;
    const double darwin = DarwinWidthOf(lattice, *scattering, frame.primary, keV, sigmaShare, f.gamma[0], f.gamma[1]).angle;
    c.along = beam.along > 0.0 ? beam.along : (std::isfinite(darwin) ? darwin : 0.0);
    c.across = beam.across;
    if (beam.polarisation == Polarisation::kPi) c.polarisations[0] = 1;
    c.polarisationCount = beam.polarisation == Polarisation::kUnpolarised ? 2 : 1;

    // The scales of the sampling: the linear two-beam theory's band of G (sigma) and X's widths.
    const double gamma0 = std::fmax(f.gamma[0], 1e-3);
    const double ratioG = f.gamma[1] / gamma0;
    c.centreG = f.chi[0][0].real() * (1.0 - ratioG);
    c.halfG = 2.0 * std::sqrt(std::fabs(ratioG) * std::abs(f.chi[1][0] * f.chi[0][1]));
    c.primaryForbidden = std::sqrt(std::abs(f.chi[1][0] * f.chi[0][1])) < 1e-6 * std::abs(f.chi[0][0]);
    // X's widths; of a circle, the widest of its reflections' (each in X's deviation).
    for (int m = 2; m < beams; ++m) {
        const double gammaX = std::fabs(f.gamma[static_cast<std::size_t>(m)]);
        const double scale = m >= 3 ? std::fabs(c.members[static_cast<std::size_t>(m - 3)].ratio) : 1.0;
        c.halfX = std::fmax(c.halfX, 2.0 * std::sqrt(gammaX / gamma0 * std::abs(f.chi[m][0] * f.chi[0][m])) / scale);
        c.halfXG = std::fmax(c.halfXG, 2.0 * std::sqrt(gammaX / std::fmax(std::fabs(f.gamma[1]), 1e-3) * std::abs(f.chi[m][1] * f.chi[1][m])) / scale);
    }
    return c;
}

RaySolver::RaySolver(const PassbandCase& passband)
    : case_(passband), first_(passband.first), firstTwo_([&] {
          BeamSet two = passband.first;
          two.count = 2;
          return two;
      }())
{
    if (!passband.twoCrystals) return;
    BeamSet two = passband.second;
    two.count = 2;
    secondTwo_.emplace(two);
    if (passband.secondMeetsX) second_.emplace(passband.second);
}

namespace {

// The G beam's power after both crystals for the incident polarisation p: the first crystal's G
// amplitudes fed to the second as its incident wave.
double Through(const Reflection& first, const Reflection& second, int p)
{
    double power = 0.0;
    for (int s = 0; s < 2; ++s) {
        const std::complex<double> out = second.amplitude[0][1][s] * first.amplitude[p][1][0] +
                                         second.amplitude[1][1][s] * first.amplitude[p][1][1];
        power += std::norm(out);
    }
    return power * first.flux[1] * second.flux[1];
}

}  // namespace

void RaySolver::ReflectWithX(double alphaG, double alphaX, double out[2])
{
    double alphas[kMostBeams] = {0.0, alphaG, alphaX};
    const int beams = case_.first.count;
    for (int m = 3; m < beams; ++m) {
        const PassbandCase::Member& y = case_.members[static_cast<std::size_t>(m - 3)];
        alphas[m] = y.ratio * alphaX + y.shift * alphaG;
    }
    // A ray no solution is found for (none has been met since roots are polished) is given G's
    // two-beam reflection: X takes nothing there, where an empty solution would take it all.
    const int failures = first_.Failures() + (second_ ? second_->Failures() : 0);
    const Reflection with = first_.Reflect(alphas);
    if (!case_.twoCrystals) {
        if (first_.Failures() > failures) return ReflectTwoBeam(alphaG, out);
        for (int p = 0; p < 2; ++p) out[p] = with.Power(p, 1);
        return;
    }
    const BeamSet& f = case_.first;
    const double x = ExitAccommodation(f.gamma[1], alphaG);
    double alphas2[kMostBeams] = {0.0, 2.0 * x * f.gamma[0] + x * x};
    for (int m = 2; m < beams; ++m) alphas2[m] = alphas[m] + 2.0 * x * f.gamma[static_cast<std::size_t>(m)] + x * x;
    const Reflection second = second_ ? second_->Reflect(alphas2) : SecondTwoBeam(alphas2[1]);
    if (first_.Failures() + (second_ ? second_->Failures() : 0) > failures) return ReflectTwoBeam(alphaG, out);
    for (int p = 0; p < 2; ++p) out[p] = Through(with, second, p);
}

const Reflection& RaySolver::SecondTwoBeam(double alphaG2)
{
    // The rays of one alpha_G share the second crystal's two-beam reflection.
    if (!(lastAlphaG2_ == alphaG2)) lastSecond_ = secondTwo_->Reflect(alphaG2, 0.0), lastAlphaG2_ = alphaG2;
    return lastSecond_;
}

void RaySolver::ReflectTwoBeam(double alphaG, double out[2])
{
    const Reflection without = firstTwo_.Reflect(alphaG, 0.0);
    if (!case_.twoCrystals) {
        for (int p = 0; p < 2; ++p) out[p] = without.Power(p, 1);
        return;
    }
    const BeamSet& f = case_.first;
    const double x = ExitAccommodation(f.gamma[1], alphaG);
    const Reflection& second = SecondTwoBeam(2.0 * x * f.gamma[0] + x * x);
    for (int p = 0; p < 2; ++p) out[p] = Through(without, second, p);
}
