// The eigenvalues of the plain QR steps against Eigen's solver: random complex matrices of the
// sizes five to twelve beams make, entries spread over six orders as a ray far from its Bragg
// conditions makes them, and a matrix of nearly equal eigenvalues (a beam's sigma and pi waves);
// the eigenvectors against the matrix itself, and at an eigenvalue that leaves a pivot of 0.
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

TEST(HessenbergQr, EigenvectorsSolveTheMatrix)
{
    std::mt19937 random(11);
    std::normal_distribution<double> normal;
    for (const bool triangular : {false, true}) {  // triangular: (A - lambda) has a pivot of exactly 0
        SCOPED_TRACE(triangular);
        const int n = 12;
        std::vector<Complex> a(n * n), work, values(n), vector(n);
        for (int i = 0; i < n; ++i) {
            for (int j = 0; j < n; ++j) a[static_cast<std::size_t>(i * n + j)] = triangular && j < i ? Complex(0.0) : Complex(normal(random), normal(random));
        }
        work = a;
        Hessenberg form;
        ASSERT_TRUE(HessenbergEigenvalues(work.data(), n, values.data(), &form));
        for (const Complex lambda : values) {
            HessenbergEigenvectors(form, lambda, 1, vector.data());
            double residual = 0.0, size = 0.0;
            for (int i = 0; i < n; ++i) {
                Complex row = -lambda * vector[static_cast<std::size_t>(i)];
                for (int j = 0; j < n; ++j) row += a[static_cast<std::size_t>(i * n + j)] * vector[static_cast<std::size_t>(j)];
                residual = std::max(residual, std::abs(row));
                size = std::max(size, std::abs(vector[static_cast<std::size_t>(i)]));
            }
            EXPECT_NEAR(size, 1.0, 1e-12);
            EXPECT_LT(residual, 1e-10) << lambda;
        }
    }
}
