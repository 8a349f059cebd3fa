#include "output/umweg_pattern.h"

#include <limits>

#include "output/band_crossing.h"
#include "output/curve_table.h"
#include "output/macro_preamble.h"
#include "io/text_format.h"

using text_format::TextWriter;

namespace {

void WriteHeaders(TextWriter& dat, TextWriter& mac)
{
    dat.Print<"  Psi1    Psi2  Intensity      H   K   L \n">();
    WriteMacroGridLines(mac);
    mac.Print<"b1='Intensity (approx!)'\n">();
    WriteMacroRangeLines(mac);
    mac.Print<"a3= fltarr(parms.npts);data array \n">();
    mac.Print<"b3= 0;first intersection point \n">();
    mac.Print<"b4= 0;last intersection point \n">();
    mac.Print<"Plot,a2,a3,XTitle=b0,YTitle=b1,XRange=[a5,a6],YRange=[parms.ymin,parms.ymax],Title=parms.title,/XStyle,/YStyle \n">();
    mac.Print<"; \n">();
}

// One crossing of the band: psiA at the lower edge, psiB at the upper edge.
void WritePair(TextWriter& dat, TextWriter& mac, double psiA, double psiB, const CurveRow& row)
{
    const double h = row.h;
    const double k = row.k;
    const double l = row.l;
    const double intensity = row.intensity;
    dat.Print<"%7.3f %7.3f %12.3f %3.0f %3.0f %3.0f\n">(psiA, psiB, intensity, h, k, l);
    mac.Print<";%7.3f %7.3f %12.3f %3.0f %3.0f %3.0f\n">(psiA, psiB, intensity, h, k, l);
    mac.Print<"\n">();
    mac.Print<"b3=(%7.3f-parms.xmin)/(parms.xmax-parms.xmin)*parms.npts\n">(psiA);
    mac.Print<"b4=(%7.3f-parms.xmin)/(parms.xmax-parms.xmin)*parms.npts\n">(psiB);
    mac.Print<"b5=10000\n">();
    mac.Print<"b6=abs(b4-b3)\n">();
    mac.Print<"b7=(b4+b3)/2\n">();
    mac.Print<"b3=b7-3*b6\n">();
    mac.Print<"b4=b7+3*b6\n">();
    mac.Print<"b3=(b3>0) < (parms.npts-1)\n">();
    mac.Print<"b4=(b4>0) < (parms.npts-1)\n">();
    mac.Print<"for k=b3,b4 do a3(k)=a3(k)+b5/b6*exp(-(k-b7)^2/b6^2)\n">();
    mac.Print<"xyouts,CharS=0.95,a2(b7),0,orientation=90,'%.0f %.0f %.0f'\n">(h, k, l);
    mac.Print<"\n\n">();
}

}  // namespace

void CalcIntersections(const InputStruct* record, SurveyRun* run, std::FILE* datFile, std::FILE* macFile)
{
    TextWriter unwegDat(datFile);
    TextWriter unwegMac(macFile);
    TextWriter echo(stdout);
    WriteHeaders(unwegDat, unwegMac);

    const BandEdges band = BandOf(record);
    const double psiMin = record->psiMin;
    const double psiMax = record->psiMax;
    const auto inWindow = [psiMin, psiMax](double psi) { return psiMin < psi && psi < psiMax; };
    const bool echoed = run->echo;
    run->crossings = 0;
    for (std::int64_t i = 0; i < run->nbCurves; ++i) {
        const CurveRow& row = run->calispe_param[i];
        const double k2 = row.k2;
        const double p2 = row.p2;
        const double psi0 = row.psi0;
        const BandCrossing crossing = CrossBand(k2, p2, psi0, band.aSquared, band.lower, band.upper);
        // A curve that does not reach both band edges has no crossing to show.
        double angle1 = std::numeric_limits<double>::quiet_NaN();
        if (crossing.reached) {
            for (const auto& pair : crossing.pairs) {
                if (inWindow(pair[0]) && inWindow(pair[1])) {
                    WritePair(unwegDat, unwegMac, pair[0], pair[1], row);
                    ++run->crossings;
                }
            }
            angle1 = crossing.pairs[3][0];
        }
        run->progress.Report("intersections", i + 1, run->nbCurves);
        if (!echoed) continue;
        echo.Print<"Curve %d, lambda= %6.2f angle1 %6.3f k2 %6.3f psi0 %6.3f p2 %6.3f intensity %8.1f HKL %3.0f  %3.0f %3.0f\n">(
            i, record->lambda, angle1, k2, psi0, p2, row.intensity, row.h, row.k, row.l);
    }
    unwegMac.Print<"OPlot,a2,a3\n">();
}
