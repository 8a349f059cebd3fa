// The reflections whose dispersion curve reaches the Ewald sphere together with the primary
// reflection, each once, with what planning a scan needs of them: the curve as the curve table
// records it and the structure factors of the reflection and of its coupling reflection.
#pragma once

#include <vector>

#include "setup/input_struct.h"

struct SphereReflection {
    int h, k, l;        // X
    int ch, ck, cl;     // the coupling reflection G - X (G the primary reflection)
    float psi01;        // psi0 of the curve, and its second representative, as recorded
    float psi02;
    float k2;           // curve coefficients, as recorded
    float p2;
    double F;           // |F(X)|
    double couplingF;   // |F(G - X)|, 0 when the structure forbids G - X
};

// Surveys the families of the record's limiting sphere (lambda and hMax as for the run) and keeps
// every equivalent that obtains a beta, as the survey does. Builds the orientation matrix; the
// coefficients must be loaded.
std::vector<SphereReflection> CollectSphereReflections(InputStruct* record);

// |F| of any reflection at s = sqrt(h^2 + k^2 + l^2) / 2a, independent of the wavelength; 0 when
// the structure forbids it.
double StructureFactorModulus(const InputStruct* record, long long h, long long k, long long l);
