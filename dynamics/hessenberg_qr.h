// The eigenvalues of a small complex matrix (a multiple-beam case of more than four beams made
// linear in the accommodation): reduced to Hessenberg form by Householder reflections, then shifted
// QR steps by Givens rotations with Wilkinson's shift, each eigenvalue deflated as its subdiagonal
// entry falls to rounding. Plain complex arithmetic, without the library's guards against overflow
// and NaN, which these well-scaled entries (of order 1 to 1e6) never need.
#pragma once

#include <complex>

// The eigenvalues of the n x n matrix a (row-major, destroyed) into values; false where the steps
// do not converge (the caller then takes another method).
bool HessenbergEigenvalues(std::complex<double>* a, int n, std::complex<double>* values);
