"""The example scans are what the present model makes: tools/make-example-scans and
tools/make-calibration-scan, run again into a folder of their own, give the shipped files' energies
and, to half a count, their intensities (a build of other flags may round the last digit otherwise)."""
import os
import subprocess
import sys
import tempfile

source, kelto = sys.argv[1], sys.argv[2]
makers = {"make-example-scans": ["si220_i0_scan.dat"] + ["si220_i0_part%d.dat" % n for n in (1, 2, 3)],
          "make-calibration-scan": ["si111_readback_scan.dat"]}
for tool, names in makers.items():
    with tempfile.TemporaryDirectory() as folder:
        subprocess.run([os.path.join(source, "tools", tool), kelto, folder], check=True)
        for name in names:
            with open(os.path.join(source, "examples", name)) as shipped, open(os.path.join(folder, name)) as made:
                old, new = shipped.read().splitlines(), made.read().splitlines()
            if len(old) != len(new):
                sys.exit("%s: %d lines shipped, %d made: run tools/%s" % (name, len(old), len(new), tool))
            for number, (a, b) in enumerate(zip(old, new), start=1):
                if a == b:
                    continue
                x, y = a.split("\t"), b.split("\t")
                if len(x) != 2 or len(y) != 2 or x[0] != y[0] or abs(float(x[1]) - float(y[1])) > 0.5:
                    sys.exit("%s:%d: shipped '%s', made '%s': run tools/%s" % (name, number, a, b, tool))
print("the example scans are the present model's")
