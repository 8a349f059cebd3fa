#include "planning/forbidden_primary.h"

#include <cmath>
#include <memory>

#include "crystal/cif_crystal.h"
#include "io/run_error.h"

std::string ForbiddenPrimaryNotice(const Crystal& crystal, const Miller& g, double keV)
{
    const std::unique_ptr<Scattering> scattering = crystal.At(keV);
    if (scattering->Modulus(g) > 0.0) return "";
    const double modulus = std::abs(scattering->F(g));
    const std::string why = crystal.Extinct(g) || !std::isfinite(modulus)
                                ? std::string("|F| = 0 at any energy")
                                : Printed("|F| = %.3g electrons at %.3f keV, below %g of |F(0 0 0)|", modulus, keV, kForbiddenShare);
    return Printed("the primary reflection %d %d %d is forbidden (%s): a scan of it shows only multiple-beam (Umweg) intensity, "
                   "as strong as each event's strength |F(X)| |F(G - X)|", g.h, g.k, g.l, why.c_str());
}
