// A measured energy scan as users keep it: two columns, energy and intensity, separated by
// commas, semicolons, blanks or tabs, with '#' comments and perhaps a header line of words; lines
// end in LF, CR LF or CR. Where semicolons or tabs separate the columns, or blanks do and every
// number holds a comma, the commas are decimal commas (11648,690;6743,644).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct ScanPoint {
    double energy;     // keV
    double intensity;  // any scale
};

struct ScanFile {
    std::vector<ScanPoint> points;  // in the file's order
    bool header = false;            // the first line with text is words: the columns' names
    std::size_t skipped = 0;        // further lines with text that is not two numbers
    std::size_t firstSkipped = 0;   // the first such line's number, 0 when none
};

// Reads the scan from `text`; energies are multiplied by `toKeV` (1 for keV, 0.001 for eV). A line
// whose first two fields are numbers is a point (further fields are ignored); a point whose
// energy is not positive or whose numbers are not finite is skipped like a line of words, but for
// a first line of words, the header. Throws std::invalid_argument, naming the line, when some
// points write decimal commas and others separate their numbers by commas.
ScanFile ParseScan(const std::string& text, double toKeV);

// The same from the file at `path`; throws RunError (a refusal naming the file) when it cannot be
// read or holds no point.
ScanFile ReadScanFile(const std::string& path, double toKeV);
