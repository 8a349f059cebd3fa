// The linear dynamical theory of a thick crystal solved as an eigenvalue problem (Eigen): the
// reference the thick-crystal solution and its first order are held to.
#pragma once

#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <complex>
#include <vector>

#include "dynamics/thick_crystal.h"

// The share of a unit incident wave of polarisation p that leaves in each beam of a thick crystal,
// from the fundamental equations without the delta^2 term (no beam near the surface):
// delta D = (2 Gamma)^-1 (C - diag(alpha - chi_0)) D; the waves that decay into the crystal
// (Im delta < 0) carry the field, matched at the surface to the incident wave in O and to none in
// the other beams that run into the crystal.
inline std::vector<double> LinearTheory(const BeamSet& set, const double* alpha, int p)
{
    const int n = 2 * set.count;
    // Absorption of at least 1 % of |chi_0|, as the thick crystal is given.
    using Complex = std::complex<double>;
    const Complex chi0(set.chi[0][0].real(), std::min(set.chi[0][0].imag(), -0.01 * std::abs(set.chi[0][0])));
    Eigen::MatrixXcd m = Eigen::MatrixXcd::Zero(n, n);
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            const int a = i / 2, b = j / 2;
            if (a == b) {
                m(i, j) = i == j ? -(alpha[a] - chi0) : Complex(0.0);
            } else {
                m(i, j) = set.chi[a][b] * set.projection[a][i % 2][b][j % 2];
            }
        }
        m.row(i) /= 2.0 * set.gamma[static_cast<std::size_t>(i / 2)];
    }
    const Eigen::ComplexEigenSolver<Eigen::MatrixXcd> solved(m);
    std::vector<int> decaying;
    for (int j = 0; j < n; ++j) {
        if (solved.eigenvalues()(j).imag() < 0.0) decaying.push_back(j);
    }
    std::vector<int> entering;  // the rows of the beams that run into the crystal
    for (int i = 0; i < n; ++i) {
        if (set.gamma[static_cast<std::size_t>(i / 2)] > 0.0) entering.push_back(i);
    }
    EXPECT_EQ(decaying.size(), entering.size());
    const int k = static_cast<int>(entering.size());
    Eigen::MatrixXcd boundary(k, k);
    Eigen::VectorXcd incident = Eigen::VectorXcd::Zero(k);
    for (int r = 0; r < k; ++r) {
        for (int c = 0; c < k; ++c) boundary(r, c) = solved.eigenvectors()(entering[static_cast<std::size_t>(r)], decaying[static_cast<std::size_t>(c)]);
        if (entering[static_cast<std::size_t>(r)] == p) incident(r) = 1.0;
    }
    const Eigen::VectorXcd weights = boundary.fullPivLu().solve(incident);
    std::vector<double> power(static_cast<std::size_t>(set.count), 0.0);
    for (int b = 1; b < set.count; ++b) {
        if (set.gamma[static_cast<std::size_t>(b)] > 0.0) continue;  // absorbed in a thick crystal
        for (int s = 0; s < 2; ++s) {
            Complex amplitude = 0.0;
            for (int c = 0; c < k; ++c) amplitude += weights(c) * solved.eigenvectors()(2 * b + s, decaying[static_cast<std::size_t>(c)]);
            power[static_cast<std::size_t>(b)] += std::norm(amplitude) * std::fabs(set.gamma[static_cast<std::size_t>(b)]) / set.gamma[0];
        }
    }
    return power;
}

