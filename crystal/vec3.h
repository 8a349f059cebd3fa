// Three-vectors and Miller indices of the planning engine, in double precision.
#pragma once

#include <cmath>
#include <cstdint>

struct Vec3 {
    double x = 0.0, y = 0.0, z = 0.0;
};

inline Vec3 operator+(Vec3 a, Vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline Vec3 operator-(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Vec3 operator*(double s, Vec3 a) { return {s * a.x, s * a.y, s * a.z}; }
inline double Dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline Vec3 Cross(Vec3 a, Vec3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
inline double Length(Vec3 a) { return std::sqrt(Dot(a, a)); }

// Indices of a reflection (or of a reciprocal-lattice vector).
struct Miller {
    int h = 0, k = 0, l = 0;
    friend bool operator==(const Miller&, const Miller&) = default;
};

// True when the two index triples are parallel (or one is zero): their cross product vanishes.
// Exact, in 64-bit integers, whatever the lattice.
inline bool Parallel(Miller a, Miller b)
{
    const auto product = [](int p, int q) { return std::int64_t{p} * std::int64_t{q}; };
    return product(a.k, b.l) == product(a.l, b.k) && product(a.l, b.h) == product(a.h, b.l) &&
           product(a.h, b.k) == product(a.k, b.h);
}

inline bool IsZero(Miller m) { return m.h == 0 && m.k == 0 && m.l == 0; }
