#include "dynamics/hessenberg_qr.h"

#include <cmath>
#include <limits>

namespace {

using Complex = std::complex<double>;

Complex Times(Complex a, Complex b) { return {a.real() * b.real() - a.imag() * b.imag(), a.real() * b.imag() + a.imag() * b.real()}; }
double Size(Complex a) { return a.real() * a.real() + a.imag() * a.imag(); }
double Modulus(Complex a) { return std::sqrt(Size(a)); }
double Rough(Complex a) { return std::fabs(a.real()) + std::fabs(a.imag()); }

// Each eigenvalue is given at most this many QR steps.
constexpr int kMostSteps = 60;

void ToHessenberg(Complex* a, int n)
{
    Complex v[64];
    for (int k = 0; k + 2 < n; ++k) {
        double norm = 0.0;
        for (int i = k + 1; i < n; ++i) norm += Size(a[i * n + k]);
        norm = std::sqrt(norm);
        if (norm == 0.0) continue;
        const Complex first = a[(k + 1) * n + k];
        const double firstSize = Modulus(first);
        const Complex phase = firstSize > 0.0 ? first / firstSize : Complex(1.0);
        double vv = 0.0;
        for (int i = k + 1; i < n; ++i) v[i] = a[i * n + k];
        v[k + 1] += phase * norm;
        for (int i = k + 1; i < n; ++i) vv += Size(v[i]);
        const double twice = 2.0 / vv;
        // From the left: rows k+1 on, columns k on.
        for (int j = k; j < n; ++j) {
            Complex s = 0.0;
            for (int i = k + 1; i < n; ++i) s += Times(std::conj(v[i]), a[i * n + j]);
            s *= twice;
            for (int i = k + 1; i < n; ++i) a[i * n + j] -= Times(s, v[i]);
        }
        // From the right: every row, columns k+1 on.
        for (int i = 0; i < n; ++i) {
            Complex s = 0.0;
            for (int j = k + 1; j < n; ++j) s += Times(a[i * n + j], v[j]);
            s *= twice;
            for (int j = k + 1; j < n; ++j) a[i * n + j] -= Times(s, std::conj(v[j]));
        }
        for (int i = k + 2; i < n; ++i) a[i * n + k] = 0.0;
    }
}

}  // namespace

bool HessenbergEigenvalues(Complex* a, int n, Complex* values)
{
    if (n > 64) return false;
    ToHessenberg(a, n);
    const double epsilon = std::numeric_limits<double>::epsilon();
    double c[64];
    Complex s[64];
    int hi = n - 1, steps = 0;
    while (hi >= 0) {
        if (hi == 0) {
            values[0] = a[0];
            break;
        }
        int lo = hi;
        while (lo > 0) {
            const double beside = Rough(a[lo * n + lo]) + Rough(a[(lo - 1) * n + lo - 1]);
            if (Rough(a[lo * n + lo - 1]) <= epsilon * beside) {
                a[lo * n + lo - 1] = 0.0;
                break;
            }
            --lo;
        }
        const Complex p = a[(hi - 1) * n + hi - 1], q = a[(hi - 1) * n + hi], r = a[hi * n + hi - 1], t = a[hi * n + hi];
        const Complex mean = 0.5 * (p + t), root = std::sqrt(0.25 * Times(p - t, p - t) + Times(q, r));
        if (lo == hi) {
            values[hi--] = t;
            steps = 0;
            continue;
        }
        if (lo == hi - 1) {
            values[hi - 1] = mean + root, values[hi] = mean - root;
            hi -= 2;
            steps = 0;
            continue;
        }
        if (++steps > kMostSteps) return false;
        // Wilkinson's shift: the trailing 2 x 2 block's eigenvalue nearer its last entry; now and
        // then one off it, which breaks a cycle.
        Complex shift = Size(mean + root - t) < Size(mean - root - t) ? mean + root : mean - root;
        if (steps % 11 == 0) shift = t + 0.75 * Modulus(r);
        for (int k = lo; k <= hi; ++k) a[k * n + k] -= shift;
        for (int k = lo; k < hi; ++k) {
            const Complex x = a[k * n + k], y = a[(k + 1) * n + k];
            const double xs = Modulus(x), norm = std::sqrt(xs * xs + Size(y));
            if (norm == 0.0) {
                c[k] = 1.0, s[k] = 0.0;
                continue;
            }
            c[k] = xs / norm;
            s[k] = Times(xs > 0.0 ? x / xs : Complex(1.0), std::conj(y)) / norm;
            for (int j = k; j <= hi; ++j) {
                const Complex u = a[k * n + j], w = a[(k + 1) * n + j];
                a[k * n + j] = c[k] * u + Times(s[k], w);
                a[(k + 1) * n + j] = c[k] * w - Times(std::conj(s[k]), u);
            }
        }
        for (int k = lo; k < hi; ++k) {
            const int last = k + 2 < hi ? k + 2 : hi;
            for (int i = lo; i <= last; ++i) {
                const Complex u = a[i * n + k], w = a[i * n + k + 1];
                a[i * n + k] = c[k] * u + Times(w, std::conj(s[k]));
                a[i * n + k + 1] = c[k] * w - Times(u, s[k]);
            }
        }
        for (int k = lo; k <= hi; ++k) a[k * n + k] += shift;
    }
    for (int k = 0; k < n; ++k) {
        if (!(std::isfinite(values[k].real()) && std::isfinite(values[k].imag()))) return false;
    }
    return true;
}
