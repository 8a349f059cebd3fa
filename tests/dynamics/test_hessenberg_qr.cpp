// The eigenvalues of the plain QR steps against Eigen's solver: random complex matrices of the
// sizes five to twelve beams make, entries spread over six orders as a ray far from its Bragg
// conditions makes them, and a matrix of nearly equal eigenvalues (a beam's sigma and pi waves).
#include <gtest/gtest.h>

#include <Eigen/Eigenvalues>
#include <algorithm>
#include <complex>
#include <random>
#include <vector>

#include "dynamics/hessenberg_qr.h"

namespace {

using Complex = std::complex<double>;

// Each of a's eigenvalues matched to the nearest of b's, none twice.
double WorstMismatch(std::vector<Complex> a, std::vector<Complex> b)
{
    double worst = 0.0;
    for (const Complex z : a) {
        auto nearest = std::min_element(b.begin(), b.end(), [&](Complex p, Complex q) { return std::abs(p - z) < std::abs(q - z); });
        worst = std::max(worst, std::abs(*nearest - z) / std::max(1.0, std::abs(z)));
        b.erase(nearest);
    }
    return worst;
}

}  // namespace

TEST(HessenbergQr, EigenvaluesAsEigenFindsThem)
{
    std::mt19937 random(7);
    std::normal_distribution<double> normal;
    const struct { int n; double diagonal, split; } cases[] = {
        {10, 1.0, 0.0}, {12, 1.0, 0.0}, {16, 1e5, 0.0}, {24, 1e3, 0.0}, {48, 1.0, 0.0},
        {12, 1.0, 1e-7},  // pairs of diagonal entries 1e-7 apart, weakly coupled
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.n << " " << c.diagonal << " " << c.split);
        Eigen::MatrixXcd m(c.n, c.n);
        for (int i = 0; i < c.n; ++i) {
            for (int j = 0; j < c.n; ++j) m(i, j) = Complex(normal(random), normal(random)) * (c.split > 0.0 ? 1e-4 : 1.0);
            const double along = c.split > 0.0 ? (i / 2) + (i % 2) * c.split : normal(random) * c.diagonal;
            m(i, i) += Complex(along, -0.1 * std::fabs(normal(random)));
        }
        std::vector<Complex> row(static_cast<std::size_t>(c.n * c.n)), found(static_cast<std::size_t>(c.n));
        for (int i = 0; i < c.n; ++i) {
            for (int j = 0; j < c.n; ++j) row[static_cast<std::size_t>(i * c.n + j)] = m(i, j);
        }
        ASSERT_TRUE(HessenbergEigenvalues(row.data(), c.n, found.data()));
        const Eigen::ComplexEigenSolver<Eigen::MatrixXcd> solved(m, false);
        const std::vector<Complex> expected(solved.eigenvalues().data(), solved.eigenvalues().data() + c.n);
        EXPECT_LT(WorstMismatch(found, expected), 1e-9);
    }
}
