#!/usr/bin/python3
"""Generate kelto's atomic scattering factor table data/f0_it1992.txt.

The four-Gaussian coefficients of International Tables for Crystallography
Vol. C (1992), Table 6.1.1.4 (every neutral atom and every ion listed there)
are taken from cctbx (cctbx.eltbx.xray_scattering.it1992_iterator) and written
as plain text:

    four free-text header lines, then one record per line:
    key a1 b1 a2 b2 a3 b3 a4 b4 c

with f0(s) = sum_i a_i exp(-b_i s^2) + c and s = sin(theta)/lambda in 1/A.

cctbx stores the coefficients in single precision, so every number is written
as the shortest decimal that reads back to the same single-precision value;
this recovers the decimal values printed in the table (no float noise).

The neutral atoms are cross-checked against gemmi's copy of the same table;
differences beyond 1e-6 are reported on stderr.

Needs the Debian packages python3-cctbx and python3-gemmi. Run with the
system python from the top of the repository:

    /usr/bin/python3 tools/gen_f0_table.py > data/f0_it1992.txt
"""

import struct
import subprocess
import sys
from decimal import Decimal

from cctbx.eltbx import xray_scattering
import gemmi

MAX_KEY_LEN = 7          # the reader scans keys with %7s
TOLERANCE = 1e-6         # allowed difference from gemmi's coefficients


def as_float32(x):
    """Round a Python float to the nearest single-precision value."""
    return struct.unpack("f", struct.pack("f", x))[0]


def shortest_decimal(x):
    """Shortest plain decimal string that reads back to the same float32."""
    target = as_float32(x)
    for digits in range(1, 10):
        text = "%.*g" % (digits, target)
        if as_float32(float(text)) == target:
            break
    # Plain notation (no exponent), no superfluous trailing zeros.
    text = format(Decimal(text).normalize(), "f")
    if digits > 7:
        print("warning: %r needs %d significant digits" % (text, digits),
              file=sys.stderr)
    return text


def package_version(name):
    try:
        return subprocess.run(
            ["dpkg-query", "-W", "-f=${Version}", name],
            capture_output=True, text=True, check=True).stdout.strip()
    except (OSError, subprocess.CalledProcessError):
        return "unknown"


def read_table():
    """Return [(key, [a1, b1, ..., a4, b4, c])] in the table's order."""
    records = []
    seen = set()
    for entry in xray_scattering.it1992_iterator():
        key = entry.label()
        assert key and len(key) <= MAX_KEY_LEN and key.isprintable() \
            and " " not in key, "bad key %r" % key
        if key in seen:
            print("duplicate key %s: keeping the first entry" % key,
                  file=sys.stderr)
            continue
        seen.add(key)
        gaussians = entry.fetch()
        a = list(gaussians.array_of_a())
        b = list(gaussians.array_of_b())
        assert len(a) == 4 and len(b) == 4, "%s is not four-Gaussian" % key
        values = []
        for ai, bi in zip(a, b):
            values += [ai, bi]
        values.append(gaussians.c())
        records.append((key, values))
    return records


def cross_check_with_gemmi(records):
    """Compare every neutral atom with gemmi.Element(z).it92."""
    by_key = dict(records)
    mismatches = 0
    checked = 0
    for z in range(1, 119):
        element = gemmi.Element(z)
        coefs = by_key.get(element.name)
        if coefs is None:
            continue
        it92 = element.it92
        theirs = []
        for ai, bi in zip(it92.a, it92.b):
            theirs += [ai, bi]
        theirs.append(it92.c)
        checked += 1
        for name, ours, other in zip(
                "a1 b1 a2 b2 a3 b3 a4 b4 c".split(),
                [float(shortest_decimal(v)) for v in coefs], theirs):
            if abs(ours - other) > TOLERANCE:
                mismatches += 1
                print("gemmi mismatch %s %s: cctbx %r, gemmi %r"
                      % (element.name, name, ours, other), file=sys.stderr)
    print("gemmi cross-check: %d neutral atoms, %d mismatches"
          % (checked, mismatches), file=sys.stderr)


def main():
    records = read_table()
    cross_check_with_gemmi(records)
    out = sys.stdout
    out.write("# Atomic scattering factor f0 four-Gaussian coefficients for "
              "kelto: f0(s) = sum a_i exp(-b_i s^2) + c, "
              "s = sin(theta)/lambda in 1/angstrom\n")
    out.write("# Source: International Tables for Crystallography Vol. C "
              "(1992), Table 6.1.1.4 (neutral atoms and ions)\n")
    out.write("# Extracted from cctbx.eltbx.xray_scattering.it1992, "
              "Debian package python3-cctbx %s\n"
              % package_version("python3-cctbx"))
    out.write("# Columns: key a1 b1 a2 b2 a3 b3 a4 b4 c\n")
    for key, values in records:
        out.write(" ".join([key] + [shortest_decimal(v) for v in values])
                  + "\n")
    print("%d records" % len(records), file=sys.stderr)


if __name__ == "__main__":
    main()
