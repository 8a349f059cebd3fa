// An Ewald-sphere model written for the tests from the definitions alone: the incident wave vector
// k0 with the primary reflection G in its Bragg position (k0 . G = -|G|^2 / 2, |k0| = 1 / lambda)
// turned by psi about G, and whether a reflection X lies on, inside or outside the sphere,
// |k0 + X|^2 - |k0|^2. It shares no code with the planning engine.
#pragma once

#include <array>
#include <cmath>
#include <numbers>

#include "setup/user_matrix.h"

namespace ewald {

using V = std::array<double, 3>;

inline double Dot(V a, V b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
inline V Scaled(V a, double s) { return {a[0] * s, a[1] * s, a[2] * s}; }
inline V Plus(V a, V b) { return {a[0] + b[0], a[1] + b[1], a[2] + b[2]}; }
inline V Cross(V a, V b) { return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]}; }
inline V Unit(V a) { return Scaled(a, 1.0 / std::sqrt(Dot(a, a))); }

// A cubic crystal of lattice parameter a scanned about G.
struct Scan {
    double a;
    V g;         // 1/angstrom
    V e2, e3;    // psi = 0 and psi = 90 across G
    int beam;    // +1: psi is the azimuth of the beam's component across G; -1: of its reverse

    // psi counted right-handed about G from the reference R to the beam.
    static Scan WithReference(double a, V hkl, V reference)
    {
        Scan s{a, Scaled(hkl, 1.0 / a), {}, {}, 1};
        const V along = Unit(s.g);
        s.e2 = Unit(Plus(reference, Scaled(along, -Dot(reference, along))));
        s.e3 = Cross(along, s.e2);
        return s;
    }
    // The frame of the reflection table: the orientation matrix's second and third columns, psi
    // the azimuth of the beam reversed.
    static Scan OfMatrix(double a, int h, int k, int l)
    {
        InputStruct record{};
        record.primaryH = h, record.primaryK = k, record.primaryL = l;
        GetUserMatrix(&record);
        const float* m = record.userMatrix;
        return Scan{a, Scaled(V{double(h), double(k), double(l)}, 1.0 / a), Unit({m[1], m[4], m[7]}), Unit({m[2], m[5], m[8]}), -1};
    }

    V K0(double psi, double lambda) const
    {
        const double length = std::sqrt(Dot(g, g));
        const double across = std::sqrt(1.0 / (lambda * lambda) - length * length / 4.0);
        const double r = psi * std::numbers::pi / 180.0;
        const V perp = Plus(Scaled(e2, std::cos(r)), Scaled(e3, std::sin(r)));
        return Plus(Scaled(Unit(g), -length / 2.0), Scaled(perp, beam * across));
    }
    // |k0 + X|^2 - |k0|^2 over |X|^2: 0 on the sphere, above 0 outside, below 0 inside.
    double Excess(V hkl, double psi, double lambda) const
    {
        const V x = Scaled(hkl, 1.0 / a);
        const V k = K0(psi, lambda);
        return (Dot(Plus(k, x), Plus(k, x)) - Dot(k, k)) / Dot(x, x);
    }
};

}  // namespace ewald
