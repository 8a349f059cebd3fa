// The eigenvalues and eigenvectors of a small complex matrix (a multiple-beam case of more than
// four beams made linear in the accommodation): reduced to Hessenberg form H = Q* A Q by
// Householder reflections, then shifted QR steps by Givens rotations with Wilkinson's shift, each
// eigenvalue deflated as its subdiagonal entry falls to rounding; an eigenvector by one step of
// inverse iteration on H (elimination along its one subdiagonal) taken back by Q. Plain complex
// arithmetic, without the library's guards against overflow and NaN, which these well-scaled
// entries (of order 1 to 1e6) never need.
#pragma once

#include <array>
#include <complex>

inline constexpr int kMostHessenberg = 48;

// A matrix in Hessenberg form and the reflections that took it there.
struct Hessenberg {
    int n = 0;
    std::array<std::complex<double>, kMostHessenberg * kMostHessenberg> h{};  // H, row-major
    // Reflection k (I - twice[k] v v*, v = reflection[k * n + i] for i > k; twice 0: none).
    std::array<std::complex<double>, kMostHessenberg * kMostHessenberg> reflection{};
    std::array<double, kMostHessenberg> twice{};
};

// The eigenvalues of the n x n matrix a (row-major, destroyed; n at most kMostHessenberg) into
// values, and its Hessenberg form into `kept` where given; false where the steps do not converge
// (the caller then takes another method; `kept` is whole either way).
bool HessenbergEigenvalues(std::complex<double>* a, int n, std::complex<double>* values, Hessenberg* kept = nullptr);

// `count` vectors (n entries each, count at most 2) of the eigenspace of the eigenvalue lambda (met
// count times): inverse iteration from fixed vectors, the second made orthogonal to the first, each
// scaled to a largest entry of 1.
void HessenbergEigenvectors(const Hessenberg& form, std::complex<double> lambda, int count, std::complex<double>* vectors);

// x (n entries) made orthogonal to the `count` vectors before it (n entries each, the first at
// `earlier`, `stride` apart) and scaled to a largest entry of 1: the vectors of a root met more
// than once, which span a plane of them.
void OrthogonalToEarlier(std::complex<double>* x, int n, const std::complex<double>* earlier, int count, int stride);
