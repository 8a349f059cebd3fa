#include "output/spaghetti_macro.h"

#include "io/console.h"
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

void WriteFirstBlock(TextWriter& mac, const InputStruct* record, float k2, float p2, float h,
                     float k, float l)
{
    mac.Print<"; \n">();
    mac.Print<"; (%.0f,%.0f,%.0f) \n">(h, k, l);
    mac.Print<"; psi01  \n">();
    mac.Print<"a3 =  %1.4f/sqrt(%1.3f/(cos(%2.3f-a0)^2)+%2.2f) \n">(
        record->latticeA, k2, record->psi01 / kMacroDegreesPerRadian, p2);
    WriteColourLines(mac);
    WriteLabelLines(mac, h, k, l);
}

void WriteSecondBlock(TextWriter& mac, const InputStruct* record, float k2, float p2, float h,
                      float k, float l)
{
    mac.Print<"; \n">();
    mac.Print<"; (%.0f,%.0f,%.0f) \n">(h, k, l);
    mac.Print<"; psi02  \n">();
    mac.Print<"; psi02-psi01=%2.3f  \n">(record->psi02 - record->psi01);
    mac.Print<"a3 = %1.4f/sqrt(%1.3f/(cos(%2.3f-a0)^2)+%2.2f) \n">(
        record->latticeA, k2, record->psi02 / kMacroDegreesPerRadian, p2);
    WriteColourLines(mac);
    mac.Print<"OPlot, a2,a3, Color=b3 \n">();
    WriteLabelLines(mac, h, k, l);
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

void GetUserGraphics(std::FILE* macFile, const InputStruct* record, float h, float k, float l,
                     const CurveCoefficients& curve)
{
    TextWriter echo(stdout);
    TextWriter fileMac(macFile);
    const float x0 = curve.x0;
    const float k2 = curve.k2;
    const float p2 = curve.p2;

    const bool echoed = ConsoleEcho();
    if (echoed) {
        echo.Print<"curve [%d]:\tp2 (%6.2f),k2 (%6.2f) ,comph0 (%f) for %2.0f %2.0f %2.0f\n">(
            cpi, p2, k2, x0, h, k, l);
    }

    CurveRow& row = CurrentCurveRow();
    row.p2 = p2;
    row.k2 = k2;
    row.h = h;
    row.k = k;
    row.l = l;
    if (echoed) {
        echo.Print<"calispe_param[%d]: %6.4f %6.4f %6.4f %6.4f %2.0f %2.0f %2.0f\n">(
            cpi, row.k2, row.psi0, row.p2, row.intensity, h, k, l);
    }
    ++cpi;

    if (WithinMacroBounds(record->psi01, record->psi1)) {
        WriteFirstBlock(fileMac, record, k2, p2, h, k, l);
    }
    if (WithinMacroBounds(record->psi02, record->psi1)) {
        WriteSecondBlock(fileMac, record, k2, p2, h, k, l);
    }
}
