#!/bin/sh
# The silicon example (diamond, a = 5.431 angstrom, Cu K-alpha 1, primary reflection 0 0 2) as
# command-line options; it writes the same four files as `kelto < silicon.txt`. Further options
# are passed on, for example -q or -o FOLDER. KELTO names the program (default: the kelto built in
# the source tree's build/ beside this folder, else kelto on the PATH).
built="$(dirname "$0")/../build/kelto"
[ -x "$built" ] || built=kelto
exec "${KELTO:-$built}" --structure diamond --lattice 5.431 --symbol Si --primary 0,0,2 \
  --wavelength 1.5406 --band 0.02 --hmax 7 "$@"
