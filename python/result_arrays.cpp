#include "result_arrays.h"

#include "fit/second_crystal_fit.h"

#include <cmath>
#include <string>

#include "numpy_tables.h"

namespace kelto_python {

namespace py = pybind11;

namespace {

// The columns every event, glitch and glitch line has: the reflection on the sphere, its coupling
// reflection and their strengths.
struct PairColumns {
    std::vector<int> h, k, l, ch, ck, cl;
    std::vector<double> F, couplingF, strength, relative;

    template <typename Pair>
    void Add(const Pair& p)
    {
        h.push_back(p.x.h), k.push_back(p.x.k), l.push_back(p.x.l);
        ch.push_back(p.coupling.h), ck.push_back(p.coupling.k), cl.push_back(p.coupling.l);
        F.push_back(p.F), couplingF.push_back(p.couplingF), strength.push_back(p.strength), relative.push_back(p.relativeStrength);
    }
    // The leading columns, these, then the trailing ones.
    std::vector<Column> Around(std::vector<Column> leading, std::vector<Column> trailing) const
    {
        leading.insert(leading.end(), {{"h", h}, {"k", k}, {"l", l}, {"coupling_h", ch}, {"coupling_k", ck}, {"coupling_l", cl},
                                       {"F", F}, {"F_coupling", couplingF}, {"strength", strength}, {"relative_strength", relative}});
        leading.insert(leading.end(), trailing.begin(), trailing.end());
        return leading;
    }
};

}  // namespace

py::object EventsArray(const std::vector<Event>& events)
{
    std::vector<double> psi, low, high, width, depth;
    std::vector<std::string> direction;
    PairColumns pairs;
    for (const Event& e : events) {
        psi.push_back(e.psi), low.push_back(e.psiMin), high.push_back(e.psiMax);
        pairs.Add(e);
        direction.push_back(PassageWord(e.passage));
        width.push_back(std::isfinite(e.widthDeg) ? e.widthDeg : 360.0);
        depth.push_back(e.depth);
    }
    return StructuredArray(pairs.Around({{"psi", psi}, {"psi_min", low}, {"psi_max", high}},
                                        {{"direction", direction}, {"width_deg", width}, {"depth", depth}}));
}

py::object GlitchArray(const std::vector<Glitch>& glitches)
{
    std::vector<double> energy, wavelength, width, depth, rise;
    std::vector<int> order, sharesH, sharesK, sharesL, crystal;
    std::vector<std::string> kind;
    PairColumns pairs;
    for (const Glitch& g : glitches) {
        crystal.push_back(g.crystal);
        const Miller shares = g.sharesDip ? g.partner : Miller{0, 0, 0};
        sharesH.push_back(shares.h), sharesK.push_back(shares.k), sharesL.push_back(shares.l);
        energy.push_back(g.energy), wavelength.push_back(g.wavelength);
        pairs.Add(g);
        kind.push_back(g.always ? "always" : "glitch");
        width.push_back(g.widthEV), depth.push_back(g.depth), order.push_back(g.order), rise.push_back(g.rise);
    }
    return StructuredArray(pairs.Around({{"energy_keV", energy}, {"wavelength", wavelength}},
                                        {{"kind", kind}, {"width_eV", width}, {"depth", depth}, {"order", order}, {"rise", rise},
                                         {"shares_h", sharesH}, {"shares_k", sharesK}, {"shares_l", sharesL},
                                         {"crystal", crystal}}));
}

py::object MapArray(const std::vector<GlitchLine>& lines)
{
    std::vector<double> centre, from, to, top, cutoff, depth;
    std::vector<std::string> kind;
    std::vector<int> crystal;
    PairColumns pairs;
    for (const GlitchLine& g : lines) {
        centre.push_back(g.centre), from.push_back(g.from), to.push_back(g.to);
        pairs.Add(g);
        top.push_back(g.topEnergy), cutoff.push_back(g.cutoffEnergy), kind.push_back(LineKindWord(g));
        depth.push_back(g.depth), crystal.push_back(g.crystal);
    }
    return StructuredArray(pairs.Around({{"psi_centre", centre}, {"psi_from", from}, {"psi_to", to}},
                                        {{"energy_top_keV", top}, {"energy_cutoff_keV", cutoff}, {"kind", kind}, {"depth", depth},
                                         {"crystal", crystal}}));
}

py::object WindowArray(const CleanWindows& found, const char* search)
{
    std::vector<double> start, end, width, largest;
    std::vector<int> clean, h, k, l;
    std::vector<std::string> searches;
    const auto add = [&](const AzimuthInterval& w, bool isClean, double worst, Miller x) {
        start.push_back(w.start), end.push_back(w.end), width.push_back(w.Width()), searches.push_back(search);
        clean.push_back(isClean ? 1 : 0), largest.push_back(worst), h.push_back(x.h), k.push_back(x.k), l.push_back(x.l);
    };
    for (const AzimuthInterval& w : found.windows) add(w, true, 0.0, Miller{0, 0, 0});
    for (const LeastBadStretch& s : found.leastBad) add(s.stretch, false, s.largest, s.x);
    return StructuredArray({{"search", searches}, {"psi_start", start}, {"psi_end", end}, {"width", width}, {"clean", clean},
                            {"largest", largest}, {"h", h}, {"k", k}, {"l", l}});
}

py::object DipRows(const GlitchFit& fit, const GlitchFit* second)
{
    std::vector<double> dipEnergy, depth, width, predicted, residual, lineDepth;
    std::vector<int> matched, h, k, l, order, scan, crystal;
    for (const PairedDip& row : DipsOfBothCrystals(fit, second)) {
        const DipMatch& d = row.match;
        dipEnergy.push_back(row.dip.energy), depth.push_back(row.dip.depth), width.push_back(row.dip.widthEV);
        matched.push_back(d.matched ? 1 : 0), h.push_back(d.x.h), k.push_back(d.x.k), l.push_back(d.x.l), order.push_back(d.order);
        predicted.push_back(d.matched ? d.predictedKeV : std::nan(""));
        residual.push_back(d.matched ? d.residualEV : std::nan(""));
        lineDepth.push_back(d.matched ? d.lineDepth : std::nan(""));
        scan.push_back(row.scan), crystal.push_back(row.crystal);
    }
    return StructuredArray({{"energy_keV", dipEnergy}, {"depth", depth}, {"width_eV", width}, {"matched", matched}, {"h", h},
                            {"k", k}, {"l", l}, {"order", order}, {"predicted_keV", predicted}, {"residual_eV", residual},
                            {"line_depth", lineDepth}, {"scan", scan}, {"crystal", crystal}});
}

}  // namespace kelto_python
