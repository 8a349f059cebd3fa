#include "crystal/atom_phases.h"

#include <cmath>
#include <numbers>

namespace {

// exp(2 pi i n x), from its own angle wherever it is asked for: the tables and the sums beyond them
// hold the same number.
void Factor(int n, double x, double* re, double* im)
{
    const double angle = 2.0 * std::numbers::pi * n * x;
    *re = std::cos(angle);
    *im = std::sin(angle);
}

// For each run g, sum_j weight[j] (a_j b_j) c_j over its atoms in their order, the factors of atom j
// given by factors(j, axis, re, im).
template <typename Factors>
void SumsOver(const std::vector<std::size_t>& bounds, const double* weight, std::complex<double>* sums, Factors&& factors)
{
    for (std::size_t g = 0; g + 1 < bounds.size(); ++g) {
        double re = 0.0, im = 0.0;
        for (std::size_t j = bounds[g]; j < bounds[g + 1]; ++j) {
            double ar, ai, br, bi, cr, ci;
            factors(j, 0, &ar, &ai);
            factors(j, 1, &br, &bi);
            factors(j, 2, &cr, &ci);
            const double pr = ar * br - ai * bi, pi = ar * bi + ai * br;
            re += weight[j] * (pr * cr - pi * ci);
            im += weight[j] * (pr * ci + pi * cr);
        }
        sums[g] = {re, im};
    }
}

}  // namespace

AtomPhases::AtomPhases(const std::vector<AtomPosition>& atoms, const int reach[3])
    : reach_{reach[0], reach[1], reach[2]}, atoms_(atoms.size())
{
    for (int axis = 0; axis < 3; ++axis) {
        const std::size_t rows = static_cast<std::size_t>(2 * reach[axis] + 1);
        re_[axis].resize(rows * atoms_);
        im_[axis].resize(rows * atoms_);
        for (int n = -reach[axis]; n <= reach[axis]; ++n) {
            const std::size_t row = static_cast<std::size_t>(n + reach[axis]) * atoms_;
            for (std::size_t j = 0; j < atoms_; ++j) {
                const double along = axis == 0 ? atoms[j].x : axis == 1 ? atoms[j].y : atoms[j].z;
                Factor(n, along, &re_[axis][row + j], &im_[axis][row + j]);
            }
        }
    }
}

void AtomPhases::Sums(Miller m, const std::vector<std::size_t>& bounds, const double* weight, std::complex<double>* sums) const
{
    const int index[3] = {m.h, m.k, m.l};
    const double* re[3];
    const double* im[3];
    for (int axis = 0; axis < 3; ++axis) {
        const std::size_t row = static_cast<std::size_t>(index[axis] + reach_[axis]) * atoms_;
        re[axis] = re_[axis].data() + row;
        im[axis] = im_[axis].data() + row;
    }
    SumsOver(bounds, weight, sums, [&](std::size_t j, int axis, double* r, double* i) {
        *r = re[axis][j];
        *i = im[axis][j];
    });
}

double AtomPhases::Bytes(std::size_t atoms, const int reach[3])
{
    return static_cast<double>(atoms) * (2.0 * (reach[0] + reach[1] + reach[2]) + 3.0) * 2.0 * sizeof(double);
}

void PhaseSums(Miller m, const std::vector<AtomPosition>& atoms, const std::vector<std::size_t>& bounds, const double* weight,
               std::complex<double>* sums)
{
    const int index[3] = {m.h, m.k, m.l};
    SumsOver(bounds, weight, sums, [&](std::size_t j, int axis, double* r, double* i) {
        Factor(index[axis], axis == 0 ? atoms[j].x : axis == 1 ? atoms[j].y : atoms[j].z, r, i);
    });
}
