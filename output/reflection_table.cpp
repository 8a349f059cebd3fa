#include "output/reflection_table.h"

#include "output/curve_table.h"
#include "io/text_format.h"

using text_format::TextWriter;

void WriteReflectionTableHeader(std::FILE* fileDat, const InputStruct* record)
{
    TextWriter out(fileDat);
    out.Print<"  Chosen Primary Reflection  %d %d %d\t Crystal:%s\n">(
        record->primaryH, record->primaryK, record->primaryL, static_cast<const char*>(record->symbol));
    out.Print<"  Hmax=%d Kmax=%d Lmax=%d\n">(record->hMax, record->kMax, record->lMax);
    out.Print<"  Wavelentgh(A) =%2.3f\t Lattice Parameter(A) =%2.4f\n">(record->lambda, record->latticeA);
    out.Print<"  Chosen Psi Calibration (degres)= %2.3f\n">(record->psiCalibration);
    out.Print<"  H   K   L   Theta   F(hkl)   Intensity     Beta     Psi0    Psi     calib\n">();
}

void PrintResult(std::FILE* fileDat, SurveyRun* run, int h, int k, int l, float theta, float F, float intensity,
                 float beta, float psi0, float psi, float calib)
{
    TextWriter out(fileDat);
    out.Print<"%3d %3d %3d  %6.2f %6.2f   %11.2f   %6.2f  %7.2f  %6.2f\t%6.4f\n">(
        h, k, l, theta, F, intensity, beta, psi0, psi, calib);
    CurveRow& row = run->CurrentCurveRow();
    row.psi0 = psi0;
    row.intensity = intensity;
}
