#include "output/macro_preamble.h"

// Lines shared by the preambles of both macros: azimuth grid, abscissa unit and axis titles.
void WriteMacroGridLines(std::FILE* mac)
{
    std::fprintf(mac, "; \n");
    std::fprintf(mac, "; ZAQ/IDL macro created by KELTO \n");
    std::fprintf(mac, "; (Do not change this macro. Use Edit Parameters for user customization.) \n");
    std::fprintf(mac, "; \n");
    std::fprintf(mac, "a0=FindGen(parms.npts)/Float(parms.npts-1)*(parms.xmax-parms.xmin)/!radeg \n");
    std::fprintf(mac, "a0=(a0+parms.xmin/!radeg) ; in rads \n");
    std::fprintf(mac, "a1=a0*!radeg ; in degrees \n");
    std::fprintf(mac, "IF Fix(parms.units[0]) EQ 0 THEN b0='Azimutal Angle [rad]' ELSE b0='Azimutal Angle [deg]'  \n");
}

void WriteMacroRangeLines(std::FILE* mac)
{
    std::fprintf(mac, "IF Fix(parms.units[0]) EQ 0 THEN a5=parms.xmin/!radeg ELSE a5=parms.xmin  \n");
    std::fprintf(mac, "IF Fix(parms.units[0]) EQ 0 THEN a6=parms.xmax/!radeg ELSE a6=parms.xmax \n");
    std::fprintf(mac, "IF Fix(parms.units[0]) EQ 0 THEN a2=a0 ELSE a2=a1 \n");
}
