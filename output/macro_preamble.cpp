#include "output/macro_preamble.h"

// Lines shared by the preambles of both macros: azimuth grid, abscissa unit and axis titles.
void WriteMacroGridLines(text_format::TextWriter& mac)
{
    mac.Print<"; \n">();
    mac.Print<"; ZAQ/IDL macro created by KELTO \n">();
    mac.Print<"; (Do not change this macro. Use Edit Parameters for user customization.) \n">();
    mac.Print<"; \n">();
    mac.Print<"a0=FindGen(parms.npts)/Float(parms.npts-1)*(parms.xmax-parms.xmin)/!radeg \n">();
    mac.Print<"a0=(a0+parms.xmin/!radeg) ; in rads \n">();
    mac.Print<"a1=a0*!radeg ; in degrees \n">();
    mac.Print<"IF Fix(parms.units[0]) EQ 0 THEN b0='Azimutal Angle [rad]' ELSE b0='Azimutal Angle [deg]'  \n">();
}

void WriteMacroRangeLines(text_format::TextWriter& mac)
{
    mac.Print<"IF Fix(parms.units[0]) EQ 0 THEN a5=parms.xmin/!radeg ELSE a5=parms.xmin  \n">();
    mac.Print<"IF Fix(parms.units[0]) EQ 0 THEN a6=parms.xmax/!radeg ELSE a6=parms.xmax \n">();
    mac.Print<"IF Fix(parms.units[0]) EQ 0 THEN a2=a0 ELSE a2=a1 \n">();
}
