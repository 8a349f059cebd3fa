#include "output/reflection_table.h"

#include "output/curve_table.h"

void WriteReflectionTableHeader(std::FILE* fileDat, const InputStruct* record)
{
    std::fprintf(fileDat, "  Chosen Primary Reflection  %d %d %d\t Crystal:%s\n", record->primaryH,
                 record->primaryK, record->primaryL, record->symbol);
    std::fprintf(fileDat, "  Hmax=%d Kmax=%d Lmax=%d\n", record->hMax, record->kMax, record->lMax);
    std::fprintf(fileDat, "  Wavelentgh(A) =%2.3f\t Lattice Parameter(A) =%2.4f\n",
                 static_cast<double>(record->lambda), static_cast<double>(record->latticeA));
    std::fprintf(fileDat, "  Chosen Psi Calibration (degres)= %2.3f\n",
                 static_cast<double>(record->psiCalibration));
    std::fprintf(fileDat,
                 "  H   K   L   Theta   F(hkl)   Intensity     Beta     Psi0    Psi     calib\n");
}

void PrintResult(std::FILE* fileDat, int h, int k, int l, float theta, float F, float intensity,
                 float beta, float psi0, float psi, float calib)
{
    std::fprintf(fileDat, "%3d %3d %3d  %6.2f %6.2f   %11.2f   %6.2f  %7.2f  %6.2f\t%6.4f\n", h, k,
                 l, static_cast<double>(theta), static_cast<double>(F),
                 static_cast<double>(intensity), static_cast<double>(beta),
                 static_cast<double>(psi0), static_cast<double>(psi), static_cast<double>(calib));
    CurveRow& row = CurrentCurveRow();
    row.psi0 = static_cast<double>(psi0);
    row.intensity = static_cast<double>(intensity);
}
