#include "dynamics/hessenberg_qr.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "dynamics/unset_storage.h"

namespace {

using Complex = std::complex<double>;

Complex Times(Complex a, Complex b) { return {a.real() * b.real() - a.imag() * b.imag(), a.real() * b.imag() + a.imag() * b.real()}; }
double Size(Complex a) { return a.real() * a.real() + a.imag() * a.imag(); }
double Modulus(Complex a) { return std::sqrt(Size(a)); }
double Rough(Complex a) { return std::fabs(a.real()) + std::fabs(a.imag()); }

// Each eigenvalue is given at most this many QR steps.
constexpr int kMostSteps = 60;

void ToHessenberg(Complex* a, int n, Hessenberg* kept)
{
    Complex v[kMostHessenberg];
    for (int k = 0; k + 2 < n; ++k) {
        double norm = 0.0;
        for (int i = k + 1; i < n; ++i) norm += Size(a[i * n + k]);
        norm = std::sqrt(norm);
        if (kept != nullptr) kept->twice[static_cast<std::size_t>(k)] = 0.0;
        if (norm == 0.0) continue;
        const Complex first = a[(k + 1) * n + k];
        const double firstSize = Modulus(first);
        const Complex phase = firstSize > 0.0 ? first / firstSize : Complex(1.0);
        double vv = 0.0;
        for (int i = k + 1; i < n; ++i) v[i] = a[i * n + k];
        v[k + 1] += phase * norm;
        for (int i = k + 1; i < n; ++i) vv += Size(v[i]);
        const double twice = 2.0 / vv;
        if (kept != nullptr) {
            kept->twice[static_cast<std::size_t>(k)] = twice;
            for (int i = k + 1; i < n; ++i) kept->reflection[static_cast<std::size_t>(k * n + i)] = v[i];
        }
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

bool HessenbergEigenvalues(Complex* a, int n, Complex* values, Hessenberg* kept)
{
    if (n > kMostHessenberg) return false;
    ToHessenberg(a, n, kept);
    if (kept != nullptr) {
        kept->n = n;
        std::copy(a, a + n * n, kept->h.begin());
    }
    const double epsilon = std::numeric_limits<double>::epsilon();
    double c[kMostHessenberg];
    Complex s[kMostHessenberg];
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

void HessenbergEigenvectors(const Hessenberg& form, Complex lambda, int count, Complex* vectors)
{
    const int n = form.n;
    UnsetComplex<kMostHessenberg * kMostHessenberg> m;
    Complex y[kMostHessenberg][2];
    std::copy(form.h.begin(), form.h.begin() + n * n, m.data());
    for (int i = 0; i < n; ++i) {
        m[i * n + i] -= lambda;
        for (int k = 0; k < count; ++k) y[i][k] = Complex(1.0 + 0.1 * ((3 * i + 5 * k) % 7), 0.1 * ((2 * i + 3 * k) % 5));
    }
    // (H - lambda) y = b, eliminating each column's one subdiagonal entry, the larger of the two
    // rows as the pivot; a pivot below the rounding of H's entries (at an eigenvalue, the last one
    // may be 0) taken as that rounding, so that y grows along the eigenvector and stays finite.
    double largest = 0.0;
    for (int i = 0; i < n * n; ++i) largest = std::max(largest, Rough(m[i]));
    const double floor = std::max(std::numeric_limits<double>::epsilon() * largest, std::numeric_limits<double>::min());
    const auto lifted = [&](Complex& pivot) {
        if (Rough(pivot) < floor) pivot = floor;
    };
    for (int k = 0; k + 1 < n; ++k) {
        if (Size(m[(k + 1) * n + k]) > Size(m[k * n + k])) {
            for (int j = k; j < n; ++j) std::swap(m[k * n + j], m[(k + 1) * n + j]);
            std::swap(y[k], y[k + 1]);
        }
        lifted(m[k * n + k]);
        const Complex f = m[(k + 1) * n + k] / m[k * n + k];
        for (int j = k + 1; j < n; ++j) m[(k + 1) * n + j] -= Times(f, m[k * n + j]);
        for (int c = 0; c < count; ++c) y[k + 1][c] -= Times(f, y[k][c]);
    }
    lifted(m[(n - 1) * n + n - 1]);
    for (int k = n - 1; k >= 0; --k) {
        for (int c = 0; c < count; ++c) {
            Complex sum = y[k][c];
            for (int j = k + 1; j < n; ++j) sum -= Times(m[k * n + j], y[j][c]);
            y[k][c] = sum / m[k * n + k];
        }
    }
    for (int c = 0; c < count; ++c) {
        Complex* x = vectors + c * n;
        for (int i = 0; i < n; ++i) x[i] = y[i][c];
        // Taken back: x = Q y, the reflections applied last to first.
        for (int k = n - 3; k >= 0; --k) {
            const double twice = form.twice[static_cast<std::size_t>(k)];
            if (twice == 0.0) continue;
            const Complex* v = &form.reflection[static_cast<std::size_t>(k * n)];
            Complex along = 0.0;
            for (int i = k + 1; i < n; ++i) along += Times(std::conj(v[i]), x[i]);
            along *= twice;
            for (int i = k + 1; i < n; ++i) x[i] -= Times(along, v[i]);
        }
        OrthogonalToEarlier(x, n, vectors, c, n);
    }
}

void OrthogonalToEarlier(Complex* x, int n, const Complex* earlier, int count, int stride)
{
    for (int previous = 0; previous < count; ++previous) {
        const Complex* p = earlier + previous * stride;
        Complex overlap = 0.0;
        double size = 0.0;
        for (int i = 0; i < n; ++i) overlap += Times(std::conj(p[i]), x[i]), size += Size(p[i]);
        for (int i = 0; i < n; ++i) x[i] -= Times(overlap / size, p[i]);
    }
    double most = 0.0;
    for (int i = 0; i < n; ++i) most = std::max(most, Modulus(x[i]));
    for (int i = 0; i < n; ++i) x[i] /= most;
}
