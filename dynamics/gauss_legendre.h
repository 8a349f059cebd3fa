// Gauss-Legendre quadrature on [-1, 1]: the nodes and weights of n points (n >= 1), from Newton's
// iteration on the Legendre polynomial from Tricomi's first guesses.
#pragma once

#include <cmath>
#include <numbers>
#include <vector>

struct Quadrature {
    std::vector<double> nodes, weights;
};

inline Quadrature GaussLegendre(int n)
{
    Quadrature q;
    q.nodes.resize(static_cast<std::size_t>(n));
    q.weights.resize(static_cast<std::size_t>(n));
    for (int i = 0; i < (n + 1) / 2; ++i) {
        double x = std::cos(std::numbers::pi * (i + 0.75) / (n + 0.5)), derivative = 1.0;
        for (int iteration = 0; iteration < 100; ++iteration) {
            double p0 = 1.0, p1 = x;
            for (int k = 2; k <= n; ++k) {
                const double p2 = ((2.0 * k - 1.0) * x * p1 - (k - 1.0) * p0) / k;
                p0 = p1, p1 = p2;
            }
            if (n == 1) p0 = 1.0, p1 = x;
            derivative = n * (x * p1 - p0) / (x * x - 1.0);
            const double step = p1 / derivative;
            x -= step;
            if (std::fabs(step) < 1e-15) break;
        }
        const double weight = 2.0 / ((1.0 - x * x) * derivative * derivative);
        q.nodes[static_cast<std::size_t>(i)] = -x, q.nodes[static_cast<std::size_t>(n - 1 - i)] = x;
        q.weights[static_cast<std::size_t>(i)] = q.weights[static_cast<std::size_t>(n - 1 - i)] = weight;
    }
    return q;
}
