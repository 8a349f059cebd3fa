#include "output/spaghetti_macro.h"

#include "output/curve_table.h"
#include "output/macro_preamble.h"
#include "io/text_format.h"

using text_format::TextWriter;

namespace {

// Degrees per radian used by the macro's cos terms.
constexpr double kMacroDegreesPerRadian = 57.2958;

void WriteLabelLines(TextWriter& mac, float h, float k, float l)
{
    mac.Print<"idx=where((a2 gt a5) and  (a2 lt a6) and (a3 gt parms.ymin) and (a3 lt parms.ymax),ct)\n">();
    mac.Print<"if ct ge 1 then b4=idx(randomu(seed)*ct)\n">();
    mac.Print<"if ct ge 1 then OPlot, a2,a3, Color=b3 \n">();
    mac.Print<"if ct ge 1 then XYouts,CharS=0.95,a2[b4],a3[b4]+.02,'%.0f,%.0f,%.0f',Color=b3\n">(h, k, l);
}

void WriteColourLines(TextWriter& mac)
{
    mac.Print<"b2=b2+1 \n">();
    mac.Print<"b3=b2-(b2/32)*32 > 1 \n">();
    mac.Print<"b4=Long(b3/32.0*parms.npts) \n">();
}

void WriteFirstBlock(TextWriter& mac, const CurveRecord& c)
{
    mac.Print<"; \n">();
    mac.Print<"; (%.0f,%.0f,%.0f) \n">(c.h, c.k, c.l);
    mac.Print<"; psi01  \n">();
    mac.Print<"a3 =  %1.4f/sqrt(%1.3f/(cos(%2.3f-a0)^2)+%2.2f) \n">(
        c.latticeA, c.k2, c.psi01 / kMacroDegreesPerRadian, c.p2);
    WriteColourLines(mac);
    WriteLabelLines(mac, c.h, c.k, c.l);
}

void WriteSecondBlock(TextWriter& mac, const CurveRecord& c)
{
    mac.Print<"; \n">();
    mac.Print<"; (%.0f,%.0f,%.0f) \n">(c.h, c.k, c.l);
    mac.Print<"; psi02  \n">();
    mac.Print<"; psi02-psi01=%2.3f  \n">(c.psi02 - c.psi01);
    mac.Print<"a3 = %1.4f/sqrt(%1.3f/(cos(%2.3f-a0)^2)+%2.2f) \n">(
        c.latticeA, c.k2, c.psi02 / kMacroDegreesPerRadian, c.p2);
    WriteColourLines(mac);
    mac.Print<"OPlot, a2,a3, Color=b3 \n">();
    WriteLabelLines(mac, c.h, c.k, c.l);
}

bool WithinMacroBounds(double psi0, double psi1)
{
    return -270.0 < psi0 && psi0 < 270.0 && -180.0 <= psi1 && psi1 <= 180.0;
}

}  // namespace

void WriteSpaghettiPreamble(std::FILE* macFile, const InputStruct* record)
{
    TextWriter fileMac(macFile);
    WriteMacroGridLines(fileMac);
    fileMac.Print<"b1='Wavelength [A]'\n">();
    WriteMacroRangeLines(fileMac);
    fileMac.Print<"Plot,[0,0],[0,0],XTitle=b0,YTitle=b1,XRange=[a5,a6],YRange=[parms.ymin,parms.ymax],Title=parms.title,/XStyle,/YStyle \n">();
    fileMac.Print<"b2=0 ; for colors \n">();
    fileMac.Print<"; \n">();
    fileMac.Print<"; Plot the band for Unweg pattern \n">();
    const float lowerEdge = record->lambda - record->deltaLambda / 2.0f;
    const float upperEdge = record->deltaLambda / 2.0f + record->lambda;
    fileMac.Print<"OPlot,a2,a2*0.0+%f,LineStyle=3 \n">(record->lambda);
    fileMac.Print<"OPlot,a2,a2*0.0+%f,LineStyle=4 \n">(lowerEdge);
    fileMac.Print<"OPlot,a2,a2*0.0+%f,LineStyle=4 \n">(upperEdge);
    fileMac.Print<"; \n">();
}

void GetUserGraphics(std::FILE* macFile, SurveyRun* run, const CurveRecord& c)
{
    TextWriter echo(stdout);
    TextWriter fileMac(macFile);
    const bool echoed = run->echo;
    if (echoed) {
        echo.Print<"curve [%d]:\tp2 (%6.2f),k2 (%6.2f) ,comph0 (%f) for %2.0f %2.0f %2.0f\n">(
            run->cpi, c.p2, c.k2, c.x0, c.h, c.k, c.l);
    }

    CurveRow& row = run->CurrentCurveRow();
    row.p2 = c.p2;
    row.k2 = c.k2;
    row.h = c.h;
    row.k = c.k;
    row.l = c.l;
    if (echoed) {
        echo.Print<"calispe_param[%d]: %6.4f %6.4f %6.4f %6.4f %2.0f %2.0f %2.0f\n">(
            run->cpi, row.k2, row.psi0, row.p2, row.intensity, c.h, c.k, c.l);
    }
    ++run->cpi;

    if (WithinMacroBounds(c.psi01, c.psi1)) WriteFirstBlock(fileMac, c);
    if (WithinMacroBounds(c.psi02, c.psi1)) WriteSecondBlock(fileMac, c);
}
