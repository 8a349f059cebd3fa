#include "dynamics/thick_crystal.h"

#include <Eigen/Eigenvalues>
#include <algorithm>
#include <cmath>
#include <limits>

#include "dynamics/unset_storage.h"

namespace {

using Complex = std::complex<double>;


// Aberth's iteration stops when every root moves by less than this, relative to max(1, |root|).
constexpr double kRootTolerance = 1e-10;
constexpr int kMostIterations = 80;
// Roots are polished against the matrix by at most kPolishSweeps sweeps of Aberth's steps (each
// root moved in turn, the others as they stand), until every step is below this tolerance.
constexpr int kPolishSweeps = 40;
constexpr double kPolishTolerance = 1e-12;
// A value within this many units of rounding of the terms' sizes is a root's.
constexpr double kRoundingLevel = 64.0 * std::numeric_limits<double>::epsilon();
// A root that the expanded determinant's rounding may move by more than this (relative to
// max(1, |root|)) is fixed too loosely to take: all roots are then polished against the matrix.
// Where four waves crowd together (the sigma and pi waves of two beams), roots fixed to 1e-4 were
// off by 1e-5 of the root, and by a few per cent in their imaginary parts: a ray's power by 1e-5,
// and a faint dip's depth by a per cent, as the path of the guesses went. Polishing at 1e-5 takes
// about one ray in forty and holds the depths and widths of the silicon glitch tables within 1.5e-4
// of those with every ray polished.
constexpr double kLooseRoot = 1e-5;

// Roots closer than this (relative to max(1, |root|)) are taken as one root met twice, whose
// waves span a plane of amplitudes: closer than that, a near-double root's waves cannot be told
// apart, nor (for the large roots of a beam near the surface) its imaginary part.
constexpr double kSameRoot = 1e-6;

// Quotient and squared modulus without the library's guards against overflow, which these
// well-scaled numbers (of order 1, or 1e5 for a second-order root) never need and which cost more
// than the rest of a ray.
Complex Over(Complex a, Complex b)
{
    const double d = b.real() * b.real() + b.imag() * b.imag();
    return {(a.real() * b.real() + a.imag() * b.imag()) / d, (a.imag() * b.real() - a.real() * b.imag()) / d};
}
double Size(Complex a) { return a.real() * a.real() + a.imag() * a.imag(); }
// 1 / a as Over forms it, without its products by 1 and 0 (the same bits, but for the sign of a
// zero part, which a sum of reciprocals loses).
Complex Reciprocal(Complex a)
{
    const double d = a.real() * a.real() + a.imag() * a.imag();
    return {a.real() / d, -a.imag() / d};
}
// The product as the library forms it, without its recovery of infinities from a NaN result,
// which costs a third of each product in the loops below and which finite operands never need.
Complex Times(Complex a, Complex b)
{
    return {a.real() * b.real() - a.imag() * b.imag(), a.real() * b.imag() + a.imag() * b.real()};
}

// Polynomials of low degree in delta: c[0] + c[1] delta + ...
struct Poly {
    std::array<Complex, 17> c{};
    int degree = 0;
};

// p = a b, of degrees da and db: p's first da + db + 1 coefficients are written, and its degree
// returned. (A ray forms its determinant from coefficient arrays in place: a Poly's copies and
// zeroed coefficients cost more than the products.)
int MultiplyInto(const Complex* a, int da, const Complex* b, int db, Complex* p)
{
    for (int k = 0; k <= da + db; ++k) p[k] = 0.0;
    for (int i = 0; i <= da; ++i) {
        for (int j = 0; j <= db; ++j) p[i + j] += Times(a[i], b[j]);
    }
    return da + db;
}

Poly Multiply(const Poly& a, const Poly& b)
{
    Poly p;
    p.degree = MultiplyInto(a.c.data(), a.degree, b.c.data(), b.degree, p.c.data());
    return p;
}

void AddScaled(Poly* sum, const Complex* p, int degree, Complex factor)
{
    sum->degree = std::max(sum->degree, degree);
    for (int i = 0; i <= degree; ++i) sum->c[static_cast<std::size_t>(i)] += Times(factor, p[i]);
}
void AddScaled(Poly* sum, const Poly& p, Complex factor) { AddScaled(sum, p.c.data(), p.degree, factor); }

double Square(double a) { return a * a; }

// The value and the derivative of the polynomial at z (Horner), and the sum of the sizes of its
// terms there (`sizes`: the coefficients' moduli), the scale of the rounding in its value.
void EvaluateBounded(const Complex* c, const double* sizes, int degree, Complex z, Complex* value, Complex* slope, double* bound)
{
    const double r = std::sqrt(z.real() * z.real() + z.imag() * z.imag());
    Complex v = c[degree], d = 0.0;
    double b = sizes[degree];
    for (int i = degree - 1; i >= 0; --i) {
        d = Times(d, z) + v;
        v = Times(v, z) + c[i];
        b = b * r + sizes[i];
    }
    *value = v, *slope = d, *bound = b;
}

// Whether the polynomial fixes any of the roots only loosely: the rounding of its value there
// (kRoundingLevel of its terms' sizes) over its slope, the distance a root may stand off and still
// look like one, is more than kLooseRoot of the root. Where the waves of X and its mirror partner
// (or X's and G's) nearly meet, the expanded determinant's roots are that loose, and the guesses a
// ray inherits from its neighbour settle wherever the value drowns in rounding: the solution then
// follows the path the rays took, not the ray.
bool LooselyFixed(const Complex* c, int degree, const Complex* roots)
{
    double sizes[4 * kMostBeams + 1];
    for (int i = 0; i <= degree; ++i) sizes[i] = std::sqrt(Size(c[i]));
    for (int k = 0; k < degree; ++k) {
        Complex value, slope;
        double bound;
        EvaluateBounded(c, sizes, degree, roots[k], &value, &slope, &bound);
        const double loose = kRoundingLevel * bound;
        if (!(loose <= kLooseRoot * std::sqrt(Size(slope)) * std::max(1.0, std::abs(roots[k])))) return true;
    }
    return false;
}

// Gaussian elimination with complete pivoting of the n x n matrix a (row-major), in place; the
// column order is returned in `column`, the pivots' moduli on the diagonal of a.
void CompletePivoting(Complex* a, int n, int* column)
{
    for (int i = 0; i < n; ++i) column[i] = i;
    // The largest entry (the first in row order) of the block from row and column k on: searched
    // for over the whole block, or noted as the step before updates it.
    int pr = 0, pc = 0;
    double best = -1.0;
    const auto search = [&](int k) {
        pr = k, pc = k, best = -1.0;
        for (int i = k; i < n; ++i) {
            for (int j = k; j < n; ++j) {
                const double size = Size(a[i * n + j]);
                if (size > best) best = size, pr = i, pc = j;
            }
        }
    };
    search(0);
    for (int k = 0; k < n; ++k) {
        if (pr != k) {
            for (int j = 0; j < n; ++j) std::swap(a[k * n + j], a[pr * n + j]);
        }
        if (pc != k) {
            for (int i = 0; i < n; ++i) std::swap(a[i * n + k], a[i * n + pc]);
            std::swap(column[k], column[pc]);
        }
        if (!(best > 0.0)) {
            search(k + 1);
            continue;
        }
        const int pivotRow = k * n;
        pr = k + 1, pc = k + 1, best = -1.0;
        for (int i = k + 1; i < n; ++i) {
            const Complex f = Over(a[i * n + k], a[pivotRow + k]);
            a[i * n + k] = f;
            for (int j = k + 1; j < n; ++j) {
                a[i * n + j] -= Times(f, a[pivotRow + j]);
                const double size = Size(a[i * n + j]);
                if (size > best) best = size, pr = i, pc = j;
            }
        }
    }
}

// At most as many right-hand sides as waves: an inverse's columns.
constexpr int kMostRightHandSides = 2 * kMostBeams;

// The elimination of a x = b (n x n, row-major, `count` right-hand sides in b's columns of width
// `count`) by partial pivoting, which leaves a upper triangular; a pivot of 0 is taken as the
// smallest number, so that the answer stays finite.
void Eliminate(Complex* a, int n, Complex* b, int count)
{
    for (int k = 0; k < n; ++k) {
        int pr = k;
        for (int i = k + 1; i < n; ++i) {
            if (Size(a[i * n + k]) > Size(a[pr * n + k])) pr = i;
        }
        for (int j = 0; j < n; ++j) std::swap(a[k * n + j], a[pr * n + j]);
        for (int j = 0; j < count; ++j) std::swap(b[k * count + j], b[pr * count + j]);
        if (a[k * n + k] == 0.0) a[k * n + k] = std::numeric_limits<double>::min();
        // The right-hand sides whose entry in the pivot's row is 0 are left as they are (most of
        // an identity's, whose inverse is sought).
        int live[kMostRightHandSides], lives = 0;
        for (int j = 0; j < count; ++j) {
            if (b[k * count + j] != 0.0) live[lives++] = j;
        }
        for (int i = k + 1; i < n; ++i) {
            const Complex f = Over(a[i * n + k], a[k * n + k]);
            for (int j = k + 1; j < n; ++j) a[i * n + j] -= Times(f, a[k * n + j]);
            for (int t = 0; t < lives; ++t) b[i * count + live[t]] -= Times(f, b[k * count + live[t]]);
        }
    }
}

// Solves a x = b as Eliminate takes them (a and b destroyed, x in b).
void SolveLinear(Complex* a, int n, Complex* b, int count)
{
    Eliminate(a, n, b, count);
    for (int k = n - 1; k >= 0; --k) {
        for (int j = 0; j < count; ++j) {
            Complex s = b[k * count + j];
            for (int i = k + 1; i < n; ++i) s -= Times(a[k * n + i], b[i * count + j]);
            b[k * count + j] = Over(s, a[k * n + k]);
        }
    }
}

// The diagonal of the inverse of the n x n matrix a (row-major, destroyed): each column of the
// inverse is solved back from its last row only as far as its diagonal entry, which needs no row
// above it (the entries it takes are those SolveLinear gives, to the bit).
void InverseDiagonal(Complex* a, int n, Complex* diagonal)
{
    UnsetComplex<kMostRightHandSides * kMostRightHandSides> b;
    std::fill(b.data(), b.data() + n * n, Complex(0.0));
    for (int r = 0; r < n; ++r) b[r * n + r] = 1.0;
    Eliminate(a, n, b.data(), n);
    for (int j = 0; j < n; ++j) {
        for (int k = n - 1; k >= j; --k) {
            Complex s = b[k * n + j];
            for (int i = k + 1; i < n; ++i) s -= Times(a[k * n + i], b[i * n + j]);
            b[k * n + j] = Over(s, a[k * n + k]);
        }
        diagonal[j] = b[j * n + j];
    }
}

// The null vectors of the n x n matrix a (row-major, destroyed), singular to rounding at a root
// met `cluster` times, into wave[0] on: one step of inverse iteration from fixed vectors (the
// solution grows along the null space by the inverse of the rounding), the second of a plane made
// orthogonal to the first; each scaled to a largest entry of 1. Partial pivoting costs half the
// complete pivoting that the expanded determinant's few waves are parted by.
void InverseIteration(Complex* a, int n, int cluster, Complex (*wave)[2 * kMostBeams])
{
    UnsetComplex<4 * kMostBeams * kMostBeams> b;  // n rows of `cluster`, at most n, right-hand sides
    for (int i = 0; i < n; ++i) {
        for (int k = 0; k < cluster; ++k) b[i * cluster + k] = Complex(1.0 + 0.1 * ((3 * i + 5 * k) % 7), 0.1 * ((2 * i + 3 * k) % 5));
    }
    SolveLinear(a, n, b.data(), cluster);
    for (int k = 0; k < cluster; ++k) {
        Complex* x = wave[k];
        for (int i = 0; i < n; ++i) x[i] = b[i * cluster + k];
        OrthogonalToEarlier(x, n, wave[0], k, 2 * kMostBeams);
    }
}

// The determinant of the n x n matrix a (row-major, destroyed).
Complex Determinant(Complex* a, int n)
{
    Complex det = 1.0;
    for (int k = 0; k < n; ++k) {
        int pr = k;
        for (int i = k + 1; i < n; ++i) {
            if (std::abs(a[i * n + k]) > std::abs(a[pr * n + k])) pr = i;
        }
        if (a[pr * n + k] == 0.0) return 0.0;
        if (pr != k) {
            for (int j = 0; j < n; ++j) std::swap(a[k * n + j], a[pr * n + j]);
            det = -det;
        }
        det *= a[k * n + k];
        for (int i = k + 1; i < n; ++i) {
            const Complex f = a[i * n + k] / a[k * n + k];
            for (int j = k + 1; j < n; ++j) a[i * n + j] -= f * a[k * n + j];
        }
    }
    return det;
}

}  // namespace

ThickCrystal::ThickCrystal(const BeamSet& beams) : beams_(beams)
{
    const int n = 2 * beams_.count;
    scale_ = std::abs(beams_.chi[0][0]);
    if (!(scale_ > 0.0)) scale_ = 1e-6;
    const Complex chi0 = Absorbing(beams_.chi[0][0], scale_);
    chi0_ = chi0 / scale_;
    for (int m = 0; m < beams_.count; ++m) {
        second_[m] = std::fabs(beams_.gamma[static_cast<std::size_t>(m)]) < kGrazing * std::sqrt(scale_);
    }
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            const int m = i / 2, q = j / 2;
            coupling_[i][j] = m == q ? Complex(0.0) : beams_.chi[m][q] * beams_.projection[m][i % 2][q][j % 2] / scale_;
        }
    }
    if (beams_.count > kExpandedBeams) return;  // solved as an eigenvalue problem
    // det(D - C) over the principal minors of C: sum over subsets S of (-1)^|S| det(C_S) times the
    // product of the diagonal entries outside S, grouped by how many of each beam's two lie outside.
    for (unsigned subset = 0; subset < (1u << n); ++subset) {
        int index[2 * kExpandedBeams], size = 0, outside[kExpandedBeams] = {};
        for (int m = 0; m < beams_.count; ++m) outside[m] = 2;
        for (int i = 0; i < n; ++i) {
            if (subset & (1u << i)) index[size++] = i, --outside[i / 2];
        }
        Complex minor[4 * kExpandedBeams * kExpandedBeams];
        for (int r = 0; r < size; ++r) {
            for (int c = 0; c < size; ++c) minor[r * size + c] = coupling_[index[r]][index[c]];
        }
        const Complex det = size == 0 ? Complex(1.0) : Determinant(minor, size);
        weight_[outside[0]][outside[1]][outside[2]][outside[3]] += (size % 2 == 0 ? 1.0 : -1.0) * det;
    }
    // O's diagonal term is the same for every ray (alpha_0 = 0): its sums are kept.
    Poly eps0;
    eps0.c[0] = -chi0_, eps0.c[1] = 2.0 * beams_.gamma[0], eps0.degree = 1;
    if (second_[0]) eps0.c[2] = scale_, eps0.degree = 2;
    const Poly one = [] {
        Poly p;
        p.c[0] = 1.0;
        return p;
    }();
    const Poly powers[3] = {one, eps0, Multiply(eps0, eps0)};
    for (int b = 0; b < 3; ++b) {
        for (int c = 0; c < 3; ++c) {
            for (int d = 0; d < 3; ++d) {
                Poly sum;
                for (int a = 0; a < 3; ++a) AddScaled(&sum, powers[a], weight_[a][b][c][d]);
                withO_[b][c][d] = sum.c;
                withODegree_[b][c][d] = sum.degree;
            }
        }
    }
}

void ThickCrystal::Roots(const Complex* c, int degree)
{
    // Aberth-Ehrlich: all roots at once, each step Newton's corrected by the others' pull. A root
    // that has settled is left alone (most barely move from one ray to the next).
    bool settled[kMostRoots] = {};
    double sizes[kMostRoots + 1];
    for (int i = 0; i <= degree; ++i) sizes[i] = std::sqrt(Size(c[i]));
    for (int iteration = 0; iteration < kMostIterations; ++iteration) {
        bool moving = false;
        for (int k = 0; k < degree; ++k) {
            if (settled[k]) continue;
            Complex value, slope;
            double bound;
            const Complex z = roots_[static_cast<std::size_t>(k)];
            EvaluateBounded(c, sizes, degree, z, &value, &slope, &bound);
            // At a root the value is rounding noise, bounded by the sum of the terms' sizes: no
            // step can then improve it (a double root, the sigma and pi waves of a beam that
            // scarcely couples, converges only linearly and would otherwise take tens of steps).
            if (Size(value) <= kRoundingLevel * kRoundingLevel * Square(bound)) {
                settled[k] = true;
                continue;
            }
            if (value == 0.0) {
                settled[k] = true;
                continue;
            }
            Complex pull = 0.0;
            for (int j = 0; j < degree; ++j) {
                const Complex d = z - roots_[static_cast<std::size_t>(j)];
                if (j != k && d != 0.0) pull += Reciprocal(d);
            }
            Complex step;
            if (slope == 0.0) {
                step = Complex(1e-3, 1e-3) * std::max(1.0, std::abs(z));  // off a stationary point
            } else {
                const Complex ratio = Over(value, slope);
                const Complex denominator = 1.0 - Times(ratio, pull);
                step = denominator == 0.0 ? ratio : Over(ratio, denominator);
            }
            if (!(std::isfinite(step.real()) && std::isfinite(step.imag()))) continue;
            roots_[static_cast<std::size_t>(k)] = z - step;
            settled[k] = Size(step) < kRootTolerance * kRootTolerance * std::max(1.0, Size(z));
            moving = moving || !settled[k];
        }
        if (!moving) break;
    }
}

void ThickCrystal::PolishRoots(const std::array<Complex, 3>* diagonal, int degree)
{
    const int n = 2 * beams_.count;
    for (int sweep = 0; sweep < kPolishSweeps; ++sweep) {
        bool settled = true;
        for (int k = 0; k < degree; ++k) {
            Complex& z = roots_[static_cast<std::size_t>(k)];
            UnsetComplex<kWaves * kWaves> m;
            Complex inverse[kWaves];
            for (int r = 0; r < n; ++r) {
                for (int c = 0; c < n; ++c) m[r * n + c] = r == c ? Complex(0.0) : -coupling_[r][c];
                const std::array<Complex, 3>& e = diagonal[r / 2];
                m[r * n + r] = e[0] + Times(z, e[1] + Times(z, e[2]));
            }
            InverseDiagonal(m.data(), n, inverse);  // M' is diagonal: the trace takes only M^-1's diagonal
            Complex slope = 0.0;
            for (int r = 0; r < n; ++r) {
                const std::array<Complex, 3>& e = diagonal[r / 2];
                slope += Times(e[1] + Times(2.0 * z, e[2]), inverse[r]);
            }
            Complex pull = 0.0;
            for (int j = 0; j < degree; ++j) {
                const Complex other = roots_[static_cast<std::size_t>(j)];
                if (j != k && z != other) pull += Reciprocal(z - other);
            }
            const Complex denominator = slope - pull;
            if (!(std::isfinite(denominator.real()) && std::isfinite(denominator.imag())) || denominator == 0.0) continue;
            const Complex step = Over(1.0, denominator);
            z -= step;
            settled = settled && Size(step) < kPolishTolerance * kPolishTolerance * std::max(1.0, Size(z));
        }
        if (settled) return;
    }
}

int ThickCrystal::OwnRoots(int m, double alpha, Complex* roots) const
{
    const Complex b = 2.0 * beams_.gamma[static_cast<std::size_t>(m)], c = alpha / scale_ - chi0_;
    if (!second_[m]) {
        roots[0] = -c / b;
        return 1;
    }
    // scale delta^2 + b delta + c = 0, each root taken where it does not cancel.
    const Complex root = std::sqrt(b * b - 4.0 * scale_ * c);
    const Complex q = -0.5 * (b + (std::real(std::conj(b) * root) >= 0.0 ? root : -root));
    roots[0] = c / q, roots[1] = q / scale_;
    return 2;
}

int ThickCrystal::ExpandedRoots(const Complex (*eps)[3], const int* epsDegree, const double* alphas, bool polish)
{
    const int count = beams_.count;
    // The powers of each beam's diagonal term (coefficients and degree).
    Complex squared[kExpandedBeams][5];
    int squaredDegree[kExpandedBeams] = {};
    for (int m = 0; m < count; ++m) squaredDegree[m] = MultiplyInto(eps[m], epsDegree[m], eps[m], epsDegree[m], squared[m]);
    static const Complex kOne[1] = {1.0};
    const auto power = [&](int m, int a) -> const Complex* { return a == 0 ? kOne : a == 1 ? eps[m] : squared[m]; };
    const auto powerDegree = [&](int m, int a) { return a == 0 ? 0 : a == 1 ? epsDegree[m] : squaredDegree[m]; };
    // The sums over O's and G's diagonal terms for each power of X's and X''s depend on alpha_G
    // alone: kept for the rays of one alpha_G, which a map takes one after another along alpha_X.
    const int xPowers = count >= 3 ? 3 : 1, partnerPowers = count >= 4 ? 3 : 1;
    Complex product[4 * kExpandedBeams + 1], twice[4 * kExpandedBeams + 1];
    const double alphaG = alphas[1];
    if (!(keptAlphaG_ == alphaG)) {
        for (int c = 0; c < xPowers; ++c) {
            for (int d = 0; d < partnerPowers; ++d) {
                Poly inner;
                for (int b = 0; b < 3; ++b) {
                    const int degree = MultiplyInto(withO_[b][c][d].data(), withODegree_[b][c][d], power(1, b), powerDegree(1, b), product);
                    AddScaled(&inner, product, degree, 1.0);
                }
                withOG_[c][d] = inner.c;
                withOGDegree_[c][d] = inner.degree;
            }
        }
        keptAlphaG_ = alphaG;
    }
    Poly det;
    for (int c = 0; c < xPowers; ++c) {
        for (int d = 0; d < partnerPowers; ++d) {
            const int once = MultiplyInto(withOG_[c][d].data(), withOGDegree_[c][d], power(2, c), powerDegree(2, c), product);
            AddScaled(&det, twice, MultiplyInto(product, once, power(3, d), powerDegree(3, d), twice), 1.0);
        }
    }
    return FindRoots(det.c.data(), det.degree, eps, alphas, polish);
}

int ThickCrystal::FindRoots(const Complex* c, int degree, const Complex (*eps)[3], const double* alphas, bool polish)
{
    const int count = beams_.count;
    // The first guesses: each beam's own roots (two polarisations apart), or the last ray's roots,
    // each moved as the beam's own root nearest it moves from the last ray's deviations to this
    // one's. A beam near the surface has a far root (about -2 gamma / |chi_0|) that moves by the
    // change of alpha over 2 gamma, many times the split between its sigma and pi waves: from
    // the last ray's place the pair would be met as one double root and parted slowly, step by
    // step.
    if (rootCount_ != degree) {
        int k = 0;
        for (int m = 0; m < count; ++m) {
            for (int s = 0; s < 2; ++s) {
                Complex own[2];
                const int owned = OwnRoots(m, alphas[m], own);
                for (int i = 0; i < owned; ++i) roots_[static_cast<std::size_t>(k++)] = own[i] + Complex(0.3 * (s + 1), 0.2 * (m + 1));
            }
        }
        rootCount_ = degree;
    } else {
        Complex before[2 * kMostBeams], after[2 * kMostBeams];
        int owned = 0;
        for (int m = 0; m < count; ++m) {
            OwnRoots(m, lastAlphas_[m], before + owned);
            owned += OwnRoots(m, alphas[m], after + owned);
        }
        for (int k = 0; k < degree; ++k) {
            Complex& z = roots_[static_cast<std::size_t>(k)];
            int nearest = 0;
            for (int i = 1; i < owned; ++i) {
                if (Size(z - before[i]) < Size(z - before[nearest])) nearest = i;
            }
            z += after[nearest] - before[nearest];
        }
    }
    std::copy(alphas, alphas + count, lastAlphas_);
    Roots(c, degree);
    // A ray whose roots the expanded determinant fixes loosely, or whose solution failed the
    // energy check from the last ray's guesses and from fresh ones (where a wave of X crosses one
    // of G, two guesses can be drawn to one root while another is missed), has every root polished
    // against the fundamental equations' matrix M itself, whose determinant's logarithmic
    // derivative is trace(M^-1 M'), by Aberth's steps, which part them.
    if (polish || LooselyFixed(c, degree, roots_.data())) {
        std::array<Complex, 3> diagonal[kMostBeams];
        for (int m = 0; m < count; ++m) diagonal[m] = {eps[m][0], eps[m][1], eps[m][2]};
        PolishRoots(diagonal, degree);
    }
    return degree;
}

int ThickCrystal::EigenRoots(const Complex (*eps)[3], bool polish)
{
    // The fundamental equations eps_m(delta) D_i = sum over j of C_ij D_j (i a wave of beam m) made
    // linear in delta: a beam without delta^2 gives delta D_i = (C D - eps_m(0) D)_i / 2 gamma_m; one
    // with it takes E_i = delta D_i beside D_i, and scale delta E_i = (C D - eps_m(0) D)_i - 2 gamma_m E_i.
    const int count = beams_.count, n = 2 * count;
    int extra[kWaves], size = n;
    for (int i = 0; i < n; ++i) extra[i] = second_[i / 2] ? size++ : -1;
    UnsetComplex<4 * kWaves * kWaves> a;
    std::fill(a.data(), a.data() + size * size, Complex(0.0));
    for (int i = 0; i < n; ++i) {
        const Complex* e = eps[i / 2];
        const int row = extra[i] < 0 ? i : extra[i];
        const Complex over = Reciprocal(extra[i] < 0 ? e[1] : e[2]);
        for (int j = 0; j < n; ++j) a[row * size + j] = Times(coupling_[i][j], over);
        a[row * size + i] = -Times(e[0], over);
        if (extra[i] >= 0) a[i * size + extra[i]] = 1.0, a[row * size + row] = -Times(e[1], over);
    }
    // Eigen's solver where the plain QR steps do not converge.
    UnsetComplex<4 * kWaves * kWaves> kept;
    std::copy(a.data(), a.data() + size * size, kept.data());
    if (!HessenbergEigenvalues(a.data(), size, roots_.data(), &form_)) {
        const Eigen::MatrixXcd matrix = Eigen::Map<const Eigen::Matrix<Complex, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>>(kept.data(), size, size);
        const Eigen::ComplexEigenSolver<Eigen::MatrixXcd> solved(matrix, false);
        for (int k = 0; k < size; ++k) roots_[static_cast<std::size_t>(k)] = solved.eigenvalues()(k);
    }
    rootCount_ = 0;  // the eigenvalues need no guesses
    if (polish) {
        std::array<Complex, 3> diagonal[kMostBeams];
        for (int m = 0; m < count; ++m) diagonal[m] = {eps[m][0], eps[m][1], eps[m][2]};
        PolishRoots(diagonal, size);
    }
    return size;
}

Reflection ThickCrystal::Solve(const double* alphas, bool polish)
{
    const int count = beams_.count, n = 2 * count;
    // Each beam's diagonal term eps_m(delta) = [scale delta^2] + 2 gamma_m delta + alpha_m - chi_0,
    // delta in units of scale.
    Complex eps[kMostBeams][3] = {};
    int epsDegree[kMostBeams] = {};
    for (int m = 0; m < count; ++m) {
        eps[m][0] = alphas[m] / scale_ - chi0_;
        eps[m][1] = 2.0 * beams_.gamma[static_cast<std::size_t>(m)];
        epsDegree[m] = 1;
        if (second_[m]) eps[m][2] = scale_, epsDegree[m] = 2;
    }
    const int degree = count <= kExpandedBeams ? ExpandedRoots(eps, epsDegree, alphas, polish) : EigenRoots(eps, polish);
    // The waves that decay into the crystal: as many as the beams that bring no wave of their own
    // out of the crystal, for each polarisation (a Laue beam's wave, and both waves of a beam that
    // keeps delta^2, of which one decays).
    int wanted = 0;
    for (int m = 0; m < count; ++m) wanted += second_[m] || beams_.gamma[static_cast<std::size_t>(m)] > 0.0 ? 2 : 0;
    // Roots that (nearly) coincide, the sigma and pi waves of a beam that scarcely couples, are one
    // root met twice, decaying or not as a whole.
    int groups = 0;
    Complex groupSum[kMostRoots];
    int groupSize[kMostRoots];
    const auto apart = [&](Complex z, int g) {
        const Complex mean = groupSum[g] / static_cast<double>(groupSize[g]);
        return Size(z - mean) >= kSameRoot * kSameRoot * std::max(1.0, Size(z));
    };
    for (int k = 0; k < degree; ++k) {
        const Complex z = roots_[static_cast<std::size_t>(k)];
        int g = 0;
        while (g < groups && apart(z, g)) ++g;
        if (g == groups) groupSum[groups] = 0.0, groupSize[groups] = 0, ++groups;
        groupSum[g] += z, ++groupSize[g];
    }
    // The groups by their mean imaginary part, the most strongly decaying first (an insertion sort
    // of at most sixteen), taken until the decaying waves are as many as wanted.
    int order[kMostRoots];
    double decay[kMostRoots];
    for (int g = 0; g < groups; ++g) order[g] = g, decay[g] = groupSum[g].imag() / static_cast<double>(groupSize[g]);
    for (int k = 1; k < groups; ++k) {
        for (int j = k; j > 0 && decay[order[j]] < decay[order[j - 1]]; --j) std::swap(order[j], order[j - 1]);
    }
    Complex delta[kWaves];
    int clusterOf[kWaves], taken = 0;
    for (int g = 0; g < groups && taken < wanted; ++g) {
        const Complex mean = groupSum[order[g]] / static_cast<double>(groupSize[order[g]]);
        for (int k = 0; k < groupSize[order[g]] && taken < wanted; ++k) delta[taken] = mean, clusterOf[taken++] = groupSize[order[g]];
    }
    // Each wave's amplitudes: the null vectors of the fundamental equations at its delta, a root
    // met twice giving a plane of them.
    UnsetComplex<kWaves * kWaves> waves;  // wave[j][i], i = 2 m + s
    Complex (*wave)[kWaves] = reinterpret_cast<Complex (*)[kWaves]>(waves.data());
    UnsetComplex<kWaves * kWaves> a;
    for (int j = 0; j < wanted;) {
        const int cluster = std::min(clusterOf[j], wanted - j);
        const Complex mean = delta[j];
        for (int r = 0; r < n; ++r) {
            for (int c = 0; c < n; ++c) a[r * n + c] = -coupling_[r][c];
            const Complex* e = eps[r / 2];
            a[r * n + r] = e[0] + Times(mean, e[1] + Times(mean, e[2]));
        }
        if (count > kExpandedBeams && cluster <= 2) {
            // The eigenvectors of the equations made linear: their first n entries are the waves'.
            UnsetComplex<2 * kMostHessenberg> vectors;
            HessenbergEigenvectors(form_, mean, cluster, vectors.data());
            for (int k = 0; k < cluster; ++k) {
                double norm = 0.0;
                for (int i = 0; i < n; ++i) norm = std::max(norm, std::sqrt(Size(vectors[k * form_.n + i])));
                for (int i = 0; i < n; ++i) wave[j + k][i] = vectors[k * form_.n + i] / norm;
            }
            j += cluster;
            continue;
        }
        if (count > kExpandedBeams) {
            InverseIteration(a.data(), n, cluster, &wave[j]);
            j += cluster;
            continue;
        }
        int column[kWaves];
        CompletePivoting(a.data(), n, column);
        const int rank = n - cluster;
        for (int k = 0; k < cluster; ++k) {
            Complex x[kWaves] = {};
            x[rank + k] = 1.0;
            for (int r = rank - 1; r >= 0; --r) {
                Complex s = 0.0;
                for (int c = r + 1; c < n; ++c) s += Times(a[r * n + c], x[c]);
                x[r] = a[r * n + r] == 0.0 ? Complex(0.0) : -Over(s, a[r * n + r]);
            }
            double norm = 0.0;
            for (int i = 0; i < n; ++i) norm = std::max(norm, std::sqrt(Size(x[i])));
            for (int i = 0; i < n; ++i) wave[j + k][column[i]] = x[i] / norm;
        }
        j += cluster;
    }

    // Physical units from here: the accommodation delta scale, the normal components q of the
    // vacuum waves of each beam, q+ going in, q- coming out (or, evanescent, decaying outwards).
    for (int j = 0; j < wanted; ++j) delta[j] *= scale_;
    Complex out[kMostBeams], in[kMostBeams];
    for (int m = 0; m < count; ++m) {
        const double g = beams_.gamma[static_cast<std::size_t>(m)];
        Complex root = std::sqrt(Complex(g * g - alphas[m], 0.0));
        if (root.imag() > 0.0) root = -root;
        in[m] = root;
        out[m] = -root;
    }
    // The boundary conditions, one row for each polarisation of each beam that has one, both
    // incident polarisations at once.
    UnsetComplex<kWaves * kWaves> system;
    Complex rhs[2 * kWaves] = {};
    int row = 0;
    for (int m = 0; m < count; ++m) {
        const double g = beams_.gamma[static_cast<std::size_t>(m)];
        if (!second_[m] && g < 0.0) continue;  // a Bragg beam leaves freely
        for (int s = 0; s < 2; ++s, ++row) {
            for (int j = 0; j < wanted; ++j) {
                system[row * wanted + j] = second_[m] ? wave[j][2 * m + s] * (g + delta[j] - out[m]) : wave[j][2 * m + s];
            }
            if (m == 0) rhs[row * 2 + s] = second_[0] ? in[0] - out[0] : Complex(1.0);
        }
    }
    SolveLinear(system.data(), wanted, rhs, 2);

    Reflection r;
    for (int m = 0; m < count; ++m) {
        const double g = beams_.gamma[static_cast<std::size_t>(m)];
        const bool leaves = second_[m] ? out[m].imag() == 0.0 : g < 0.0;
        r.flux[m] = !leaves ? 0.0 : (second_[m] ? std::fabs(out[m].real()) : std::fabs(g)) / beams_.gamma[0];
        for (int p = 0; p < 2; ++p) {
            for (int s = 0; s < 2; ++s) {
                Complex sum = 0.0;
                for (int j = 0; j < wanted; ++j) sum += Times(rhs[j * 2 + p], wave[j][2 * m + s]);
                if (m == 0 && s == p && second_[0]) sum -= 1.0;  // less the incident wave: the specular one
                if (m == 0 && !second_[0]) sum = 0.0;
                r.amplitude[p][m][s] = std::isfinite(sum.real()) && std::isfinite(sum.imag()) ? sum : Complex(0.0);
            }
        }
    }
    return r;
}

Reflection ThickCrystal::Reflect(const double* alphas)
{
    // A thick crystal sends out no more than it receives: a solution that does has met roots that
    // the last ray's guesses led astray, and is found again from each beam's own roots, and then
    // with every root polished against the matrix.
    for (int attempt = 0; attempt < 3; ++attempt) {
        Reflection r = Solve(alphas, attempt == 2);
        bool sound = true;
        for (int p = 0; p < 2; ++p) {
            double total = 0.0;
            for (int m = 0; m < beams_.count; ++m) total += r.Power(p, m);
            sound = sound && total <= 1.0 + 1e-6;
        }
        if (sound) return r;
        rootCount_ = 0;
    }
    ++failures_;
    return Reflection{};
}
