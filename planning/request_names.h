// How a planning request's messages name what the user gave: the command line's options
// ("--energies") or the Python module's arguments ("energies"). The same checks word their
// refusals for either host.
#pragma once

struct RequestNames {
    const char* psi;
    const char* energies;
    const char* harmonics;
    const char* surface;
    // The command line's refusals are sentences that name the option in parentheses; Python's name
    // the argument first.
    bool options;
};
inline constexpr RequestNames kOptionNames{"--psi", "--energies", "--harmonics", "--surface", true};
inline constexpr RequestNames kArgumentNames{"psi", "energies", "harmonics", "surface", false};
