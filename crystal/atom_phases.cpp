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

// sum_j weight[j] (a_j b_j) c_j, the factors of atom j given by factors(j, axis, re, im). Two
// running sums, even and odd atoms, so that the additions of one need not wait for the other's.
template <typename Factors>
std::complex<double> SumOver(std::size_t begin, std::size_t end, const double* weight, Factors&& factors)
{
    double re[2] = {0.0, 0.0}, im[2] = {0.0, 0.0};
    for (std::size_t j = begin; j < end; ++j) {
        double ar, ai, br, bi, cr, ci;
        factors(j, 0, &ar, &ai);
        factors(j, 1, &br, &bi);
        factors(j, 2, &cr, &ci);
        const double pr = ar * br - ai * bi, pi = ar * bi + ai * br;
        const double er = pr * cr - pi * ci, ei = pr * ci + pi * cr;
        const std::size_t half = (j - begin) & 1;
        re[half] += weight[j] * er;
        im[half] += weight[j] * ei;
    }
    return {re[0] + re[1], im[0] + im[1]};
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

std::complex<double> AtomPhases::Sum(Miller m, std::size_t begin, std::size_t end, const double* weight) const
{
    const int index[3] = {m.h, m.k, m.l};
    const double* re[3];
    const double* im[3];
    for (int axis = 0; axis < 3; ++axis) {
        const std::size_t row = static_cast<std::size_t>(index[axis] + reach_[axis]) * atoms_;
        re[axis] = re_[axis].data() + row;
        im[axis] = im_[axis].data() + row;
    }
    return SumOver(begin, end, weight, [&](std::size_t j, int axis, double* r, double* i) {
        *r = re[axis][j];
        *i = im[axis][j];
    });
}

double AtomPhases::Bytes(std::size_t atoms, const int reach[3])
{
    return static_cast<double>(atoms) * (2.0 * (reach[0] + reach[1] + reach[2]) + 3.0) * 2.0 * sizeof(double);
}

std::complex<double> PhaseSum(Miller m, const std::vector<AtomPosition>& atoms, std::size_t begin, std::size_t end,
                              const double* weight)
{
    const int index[3] = {m.h, m.k, m.l};
    return SumOver(begin, end, weight, [&](std::size_t j, int axis, double* r, double* i) {
        Factor(index[axis], axis == 0 ? atoms[j].x : axis == 1 ? atoms[j].y : atoms[j].z, r, i);
    });
}
