// Room on the stack for complex numbers that the code writes before it reads them. An array of
// std::complex is zeroed by its constructor, and the largest matrices a ray may need (36 kB for
// twelve beams) cost more to clear than a ray of three or four beams costs to solve; most rays use
// a corner of them.
#pragma once

#include <complex>
#include <cstddef>
#include <new>

template <std::size_t N>
class UnsetComplex {
public:
    // std::complex<double> is an implicit-lifetime type (trivially copyable and destructible):
    // the array's storage holds its elements as soon as it exists.
    std::complex<double>* data() { return std::launder(reinterpret_cast<std::complex<double>*>(bytes_)); }
    std::complex<double>& operator[](std::size_t i) { return data()[i]; }

private:
    alignas(std::complex<double>) unsigned char bytes_[N * sizeof(std::complex<double>)];
};
