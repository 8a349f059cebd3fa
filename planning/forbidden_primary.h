// A primary reflection that scatters nothing at the scan's energy: its scan shows only what the
// multiple-beam events carry into it (the Umweg intensity of a Renninger scan).
#pragma once

#include <string>

#include "crystal/crystal.h"

// "the primary reflection 2 2 2 is forbidden (|F| = 0 at any energy): a scan of it shows only
// multiple-beam (Umweg) intensity, ..." where the structure forbids g at `keV`; "" where it does not.
std::string ForbiddenPrimaryNotice(const Crystal& crystal, const Miller& g, double keV);
