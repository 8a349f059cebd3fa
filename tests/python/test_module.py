"""The Python module kelto against the program: every function gives the rows of the program's CSV
table for the same run, to the last printed digit; bad arguments raise ValueError or OSError with the
program's messages; a calculation lets other Python threads run.

    python3 test_module.py --kelto BUILD/kelto      (with the module on PYTHONPATH)
"""
import argparse
import csv
import io
import math
import os
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import warnings

import kelto

KELTO = None
BUILD = None
CMAKE = None
SILICON = ["--structure", "diamond", "--lattice", "5.431", "--symbol", "Si"]


def run_kelto(*arguments):
    """The program's table of a run: its rows as lists of the printed fields, and its stdout."""
    with tempfile.TemporaryDirectory() as folder:
        done = subprocess.run([KELTO, *arguments], cwd=folder, capture_output=True, text=True)
        if done.returncode != 0:
            raise AssertionError(f"kelto {' '.join(arguments)}: {done.returncode} {done.stderr}")
        tables = {}
        for name in os.listdir(folder):
            if name.endswith(".csv"):
                with open(os.path.join(folder, name)) as f:
                    lines = [line for line in f if not line.startswith("#")]
                tables[name] = [row for row in csv.reader(io.StringIO("".join(lines)))]
        return tables, done.stdout


def printed(array, conversions):
    """The rows of a structured array as the program prints them: '%.6f', '%.4f', '%d' or '%s'."""
    rows = [list(array.dtype.names)]
    for record in array:
        rows.append([conversion % value for conversion, value in zip(conversions, record.tolist())])
    return rows


EVENTS = ["%.6f"] * 3 + ["%d"] * 6 + ["%.4f"] * 3 + ["%.6f", "%s", "%.6f", "%.6f"]
GLITCHES = ["%.6f"] * 2 + ["%d"] * 6 + ["%.4f"] * 3 + ["%.6f", "%s", "%.6f", "%.6f", "%d", "%.6f"] + ["%d"] * 4
MAP = ["%.6f"] * 3 + ["%d"] * 6 + ["%.4f"] * 3 + ["%.6f"] * 3 + ["%s", "%.6f", "%d"]
WINDOWS = ["%s", "%.6f", "%.6f", "%.6f", "%d", "%.6f", "%d", "%d", "%d"]
SPECTRUM = ["%.9f", "%.6f"]


class SameAsTheProgram(unittest.TestCase):
    def test_every_function(self):
        silicon = kelto.Crystal.cubic("diamond", 5.431, "Si")
        gaas = kelto.Crystal.shipped("GaAs")
        cif = os.path.join(os.path.dirname(KELTO), "..", "data", "crystals", "GaAs.cif")
        cases = [
            (silicon.events((0, 0, 2), wavelength=1.5406, band=0.02), EVENTS, "e.csv",
             SILICON + ["--primary", "0,0,2", "--wavelength", "1.5406", "--band", "0.02", "--events", "e.csv"]),
            (silicon.events((1, 1, 1), energy=12, band=0.001, psi=(-30, 200), reference=(1, -1, 0)), EVENTS, "e.csv",
             SILICON + ["--primary", "1,1,1", "--energy", "12", "--band", "0.001", "--psi", "-30,200", "--reference",
                        "1,-1,0", "--events", "e.csv"]),
            (silicon.events((0, 0, 4), energy=8.048, relative_band=0.003), EVENTS, "e.csv",
             SILICON + ["--primary", "0,0,4", "--energy", "8.048", "--relative-band", "0.003", "--events", "e.csv"]),
            (silicon.glitches((1, 1, 1), 10, energies=(5, 8)), GLITCHES, "g.csv",
             SILICON + ["--primary", "1,1,1", "--glitches", "g.csv", "--at-psi", "10", "--energies", "5,8"]),
            # A double monochromator: its second crystal apart, and at a channel-cut's second wall.
            (silicon.glitches((1, 1, 1), 10, energies=(8, 10), reference=(1, -1, 0), monochromator="double", second_psi=40),
             GLITCHES, "g.csv", SILICON + ["--primary", "1,1,1", "--reference", "1,-1,0", "--glitches", "g.csv", "--at-psi", "10",
                                           "--energies", "8,10", "--monochromator", "double", "--second-psi", "40"]),
            (silicon.glitches((1, 1, 1), 10, energies=(8, 10), reference=(1, -1, 0), monochromator="double",
                              second_psi=silicon.channel_cut_second_psi((1, 1, 1), psi=10, reference=(1, -1, 0))),
             GLITCHES, "g.csv", SILICON + ["--primary", "1,1,1", "--reference", "1,-1,0", "--glitches", "g.csv", "--at-psi", "10",
                                           "--energies", "8,10", "--monochromator", "channel-cut"]),
            (gaas.glitches((2, 2, 0), at_psi=15, energies=(6, 6.2), polarization="pi", divergence=(0.001, 0.0002), surface=(1, 1, 1),
                           harmonics=3), GLITCHES, "g.csv",
             ["--crystal", "GaAs", "--primary", "2,2,0", "--glitches", "g.csv", "--at-psi", "15", "--energies", "6,6.2",
              "--polarisation", "pi", "--divergence", "0.001,0.0002", "--surface", "1,1,1", "--harmonics", "3"]),
            (silicon.spectrum((2, 2, 0), 15, energies=(6, 6.4), divergence=(0.0006, 0), harmonics=2, harmonic_content=[0.05],
                              monochromator="channel-cut"),
             SPECTRUM, "s.csv", SILICON + ["--primary", "2,2,0", "--spectrum", "s.csv", "--at-psi", "15", "--energies", "6,6.4",
                                           "--divergence", "0.0006", "--harmonics", "2", "--harmonic-content", "0.05",
                                           "--monochromator", "channel-cut"]),
            # Silicon 1 1 1 forbids 2 2 2: one share for the one harmonic that passes, 3 3 3, from rows of a
            # setting and its share, as the shipped table gives them.
            (silicon.spectrum((1, 1, 1), at_psi=10, energies=(8, 8.5), harmonics=3,
                              harmonic_content=[[5, 0.02], [8, 0.05], [10, 0.03], [12, 0.004], [15, 0]]), SPECTRUM, "s.csv",
             SILICON + ["--primary", "1,1,1", "--spectrum", "s.csv", "--at-psi", "10", "--energies", "8,8.5", "--harmonics", "3",
                        "--harmonic-content", os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples",
                                                           "harmonic_content.dat")]),
            (gaas.glitch_map((0, 0, 2), energies=(8, 9), psi=(0, 45)), MAP, "m.csv",
             ["--crystal", "GaAs", "--primary", "0,0,2", "--glitch-map", "m.csv", "--energies", "8,9", "--psi", "0,45"]),
            # The second crystal held at its azimuth as the first turns: its glitches as levels.
            (silicon.glitch_map((1, 1, 1), energies=(8, 10), psi=(0, 60), monochromator="double", second_psi=40), MAP, "m.csv",
             SILICON + ["--primary", "1,1,1", "--glitch-map", "m.csv", "--energies", "8,10", "--psi", "0,60",
                        "--monochromator", "double", "--second-psi", "40"]),
            (silicon.clean_energies((1, 1, 1), energies=(8, 8.1), fraction=0.05, divergence=0.1), WINDOWS, "w.csv",
             SILICON + ["--primary", "1,1,1", "--clean-energies", "8,8.1,0.05", "--divergence", "0.1", "--windows", "w.csv"]),
            (kelto.clean_windows(silicon.events((0, 0, 2), wavelength=1.5406, band=0.02), 2, fraction=0.02), WINDOWS,
             "w.csv", SILICON + ["--primary", "0,0,2", "--wavelength", "1.5406", "--band", "0.02", "--clean", "2,0.02",
                                 "--windows", "w.csv"]),
            # By depth, for a beam whose widths count; and nothing clean: the least bad stretches.
            (kelto.clean_windows(silicon.events((0, 0, 2), wavelength=1.5406, band=0.02, divergence=(0.003, 0),
                                                polarisation="pi"), 4, max_depth=0.2, divergence=0.003), WINDOWS, "w.csv",
             SILICON + ["--primary", "0,0,2", "--wavelength", "1.5406", "--band", "0.02", "--clean", "4", "--max-depth",
                        "0.2", "--divergence", "0.003", "--polarisation", "pi", "--windows", "w.csv"]),
            (kelto.clean_windows(silicon.events((0, 0, 2), wavelength=1.5406, band=0.02, psi=(-390, 420)), 8, psi=(-30, 60)),
             WINDOWS, "w.csv", SILICON + ["--primary", "0,0,2", "--wavelength", "1.5406", "--band", "0.02", "--clean", "8",
                                          "--psi", "-30,60", "--windows", "w.csv"]),
            # Two ranges at once: the windows clean in both.
            (silicon.clean_energies((1, 1, 1), energies=[(8, 8.1), (8.9, 9.3)], divergence=(0.001, 0.0005), polarisation="unpolarised"),
             WINDOWS, "w.csv", SILICON + ["--primary", "1,1,1", "--clean-energies", "8,8.1", "--clean-energies", "8.9,9.3",
                                          "--divergence", "0.001,0.0005", "--polarisation", "unpolarised", "--windows", "w.csv"]),
            (silicon.clean_energies((1, 1, 1), energies=(8, 8.1), max_depth=0.5, min_width=1.5, surface=(1, 1, 0)), WINDOWS,
             "w.csv", SILICON + ["--primary", "1,1,1", "--clean-energies", "8,8.1", "--max-depth", "0.5", "--min-width",
                                 "1.5", "--surface", "1,1,0", "--windows", "w.csv"]),
            (kelto.Crystal.from_cif(cif).events((0, 0, 2), energy=8.048, band=0.02), EVENTS, "e.csv",
             ["--cif", cif, "--primary", "0,0,2", "--energy", "8.048", "--band", "0.02", "--events", "e.csv"]),
            # A liquid-nitrogen-cooled silicon crystal: the cell at 120 K.
            (kelto.Crystal.shipped("Si", temperature=120).glitches((1, 1, 1), 10, energies=(8, 10)), GLITCHES, "g.csv",
             ["--crystal", "Si", "--temperature", "120", "--primary", "1,1,1", "--glitches", "g.csv", "--at-psi", "10",
              "--energies", "8,10"]),
        ]
        for array, conversions, table, arguments in cases:
            with self.subTest(" ".join(arguments)):
                tables, _ = run_kelto(*arguments)
                self.assertGreater(len(array), 0)
                self.assertEqual(printed(array, conversions), tables[table])

    def test_fit(self):
        """A scan made from the module's spectrum at psi 15.2, its energies 3 eV high: the module and
        the program find the same azimuth, offset, significance and dips, and the azimuth it was
        made at; three short pieces of it fitted as one with one offset find it too."""
        import numpy
        silicon = kelto.Crystal.cubic("diamond", 5.431, "Si")
        made = silicon.spectrum((2, 2, 0), 15.2, energies=(6, 12), divergence=(0.0012, 0.0006))
        energy = numpy.arange(6.0, 12.0, 0.0005)
        intensity = 500.0 * (1 + 0.05 * (energy - 6)) * numpy.interp(energy - 0.003, made["energy_keV"], made["i0"])
        fit = silicon.fit_glitches((2, 2, 0), energy[::-1], intensity[::-1], energies=(6, 12), divergence=(0.0012, 0.0006),
                                   at_psi=15)
        self.assertTrue(fit["found"], fit["why"])
        self.assertEqual((fit["p"], fit["trials"], fit["as_good"], fit["threshold"]), (0.01, 99, 0, 0.01))
        self.assertAlmostEqual(fit["psi"], 15.2, delta=3 * fit["psi_error"])
        self.assertAlmostEqual(fit["offset_eV"], 3.0, delta=3 * fit["offset_error_eV"])
        self.assertEqual(sorted(round(abs(psi), 1) for psi in fit["equivalents"]), [15.2, 15.2, 164.8, 164.8])
        with tempfile.TemporaryDirectory() as folder:
            scan = os.path.join(folder, "scan.txt")
            numpy.savetxt(scan, numpy.column_stack([energy, intensity]), header="energy_keV I0")
            tables, stdout = run_kelto(*SILICON, "--primary", "2,2,0", "--fit-glitches", scan,
                                       "--energies", "6,12", "--divergence", "0.0012,0.0006", "--at-psi", "15",
                                       "--fit-table", "f.csv")
        self.assertIn("fitted psi %.4f +/- %.4f degrees" % (fit["psi"], fit["psi_error"]), stdout)
        self.assertIn("p = 0.01 (none of 99 trials", stdout)
        low, high = fit["divergence_range"]
        if math.isnan(fit["divergence_across"]):
            self.assertIn("any up to %.6f degrees" % high, stdout)
        else:
            self.assertIn("predict with --at-psi %.4f --divergence %.6f,0.000600" % (fit["psi"], fit["divergence_across"]), stdout)
            self.assertLessEqual(low, fit["divergence_across"])
        rows = [row for row in tables["f.csv"][1:]]
        self.assertEqual(len(rows), len(fit["dips"]))
        for row, dip in zip(rows, fit["dips"].tolist()):
            self.assertEqual(row[:4], ["%.6f" % dip[0], "%.6f" % dip[1], "%.3f" % dip[2], "%d" % dip[3]])
            if dip[3]:
                self.assertEqual(row[4:], ["%d" % v for v in dip[4:8]] + ["%.6f" % dip[8], "%.4f" % dip[9], "%.6f" % dip[10], "1", "1"])

        pieces = [(energy >= a) & (energy <= a + 0.8) for a in (7.0, 9.4, 10.8)]
        joint = silicon.fit_glitches((2, 2, 0), [energy[p] for p in pieces], [intensity[p] for p in pieces], energies=(6, 12),
                                     divergence=(0.0012, 0.0006), at_psi=15, offsets="one")
        self.assertTrue(joint["found"], joint["why"])
        self.assertAlmostEqual(joint["psi"], 15.2, delta=3 * joint["psi_error"])
        self.assertEqual([scan["offset_eV"] for scan in joint["scans"]], [joint["offset_eV"]] * 3)
        self.assertEqual(sorted(set(joint["dips"]["scan"].tolist())), [1, 2, 3])

        # Silicon 1 1 1's psi and -psi, no images of each other, fit a short range alike: both are
        # named, and at_psi clearly nearer one takes it, as the program does.
        made = silicon.spectrum((1, 1, 1), 12.857, energies=(8.45, 9.55))
        energy111 = numpy.arange(8.5, 9.5, 0.001)
        intensity111 = numpy.interp(energy111 - 0.005, made["energy_keV"], made["i0"]) * \
            (1 + numpy.random.default_rng(7).normal(0, 0.003, energy111.size))
        tied = silicon.fit_glitches((1, 1, 1), energy111, intensity111, energies=(8.5, 9.5))
        self.assertFalse(tied["found"])
        self.assertIn("cannot tell them apart", tied["why"])
        self.assertEqual(len(tied["ties"]), 1)
        self.assertAlmostEqual(tied["ties"][0]["psi"], -tied["psi"], delta=0.01)
        self.assertEqual(tied["ties"][0]["matched"], tied["matched"])
        taken = silicon.fit_glitches((1, 1, 1), energy111, intensity111, energies=(8.5, 9.5), at_psi=13)
        self.assertTrue(taken["found"] and taken["taken_by_at_psi"], taken["why"])
        self.assertAlmostEqual(taken["psi"], 12.857, delta=3 * taken["psi_error"])
        self.assertTrue(math.isnan(taken["step_limited_eV"]))

        flat = silicon.fit_glitches((2, 2, 0), energy, 100 + energy, energies=(6, 12))
        self.assertFalse(flat["found"])
        self.assertIn("no dip is deeper than the detection threshold", flat["why"])
        self.assertTrue(numpy.isnan(flat["psi"]))

    def test_calibrate(self):
        """The example read back with an angle offset of 0.003 degree and d_ref / d = 1 + 5e-5
        (tools/make-calibration-scan): the module finds both within their errors, and the same
        calibration as the program."""
        import numpy
        example = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))),
                               "examples", "si111_readback_scan.dat")
        scan = numpy.loadtxt(example, skiprows=4)  # eV, read as the program reads --scan-unit eV
        silicon = kelto.Crystal.shipped("Si")
        fit = silicon.fit_glitches((1, 1, 1), scan[:, 0] * 0.001, scan[:, 1], energies=(5, 20), at_psi=20, calibrate=True)
        self.assertTrue(fit["found"], fit["why"])
        self.assertAlmostEqual(fit["angle_offset_deg"], 0.003, delta=3 * fit["angle_offset_error_deg"])
        self.assertAlmostEqual(fit["d_ratio"], 1 + 5e-5, delta=3 * fit["d_ratio_error"])
        self.assertLess(abs(fit["calibration_correlation"]), 0.99)
        self.assertGreater(fit["matched"], fit["matched_before"])
        _, stdout = run_kelto("--crystal", "Si", "--primary", "1,1,1", "--fit-glitches", example, "--scan-unit", "eV",
                              "--energies", "5,20", "--at-psi", "20", "--calibrate")
        self.assertIn("angle offset %+.5f +/- %.5f degrees, d-spacing ratio %.6f +/- %.6f" % (
            fit["angle_offset_deg"], fit["angle_offset_error_deg"], fit["d_ratio"], fit["d_ratio_error"]), stdout)
        plain = silicon.fit_glitches((1, 1, 1), scan[:, 0] * 0.001, scan[:, 1], energies=(5, 9), at_psi=20)
        self.assertNotIn("angle_offset_deg", plain)

    def test_structure_factor(self):
        # Diamond 1 1 1: 4 sqrt(2) f0 exp(-0.117 s^2), as the reflection table prints it (59.42).
        self.assertAlmostEqual(abs(kelto.Crystal.cubic(4, 5.431, "si").structure_factor(1, 1, 1, 8.0)), 59.42, places=2)
        gaas = kelto.Crystal.shipped("gaas")
        f002 = gaas.structure_factor(0, 0, 2, 8.048)
        self.assertIsInstance(f002, complex)
        self.assertLess(abs(f002), 0.1 * abs(gaas.structure_factor(0, 0, 4, 8.048)))  # quasi-forbidden
        self.assertIn("GaAs", kelto.shipped_crystals())
        # Silicon at 273.2 K as Okada & Tokumaru state it (J. Appl. Phys. 56, 314 (1984)): 0.5430741 nm,
        # their measurements within 1e-5 nm of it.
        self.assertAlmostEqual(kelto.Crystal.shipped("si", temperature=273.2).cell[0], 5.430741, delta=1e-4)


class Refusals(unittest.TestCase):
    def test_bad_arguments(self):
        silicon = kelto.Crystal.cubic("diamond", 5.431, "Si")
        gaas = os.path.join(os.path.dirname(KELTO), "..", "data", "crystals", "GaAs.cif")
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        huge = os.path.join(folder.name, "huge.cif")  # GaAs in a cell of 1e300 angstrom
        with open(gaas) as source, open(huge, "w") as cif:
            cif.write(source.read().replace("5.65325", "1e300"))
        cases = [
            # Text holding a NUL, which C would cut there, and integers beyond C's.
            (lambda: kelto.Crystal.cubic("diamond", 5.431, "S\0i"), ValueError, "symbol must not hold a NUL character"),
            (lambda: kelto.Crystal.cubic("diamond", 5.431, "Si", table=kelto.data_folder() + "/f0_it1992.txt\0"), ValueError,
             "table must not hold a NUL character"),
            (lambda: kelto.Crystal.from_cif(gaas + "\0.txt"), ValueError, "path must not hold a NUL character"),
            (lambda: kelto.Crystal.shipped("GaAs\0"), ValueError, "name must not hold a NUL character"),
            (lambda: kelto.Crystal.cubic(2**70, 5.431, "Si"), ValueError, "structure must be"),
            (lambda: kelto.Crystal.cubic(2**32 + 4, 5.431, "Si"), ValueError, "structure must be"),  # 4 in 32 bits
            (lambda: silicon.structure_factor(2**70, 0, 0, 8.0), TypeError, "structure_factor()"),
            # Numbers beyond the doubles are named, never inf or nan.
            (lambda: kelto.Crystal.from_cif(huge), ValueError, "its volume 1e+900 angstrom^3 is beyond what kelto can compute with"),
            (lambda: kelto.Crystal.cubic("diamond", 1e-300, "Si"), ValueError,
             "The lattice parameter a 1e-300 makes no cell: its volume 1e-900 angstrom^3 is beyond what kelto can compute with"),
            (lambda: silicon.events((0, 0, 0), energy=8, band=0.02), ValueError, "The primary reflection 0 0 0 has no reflection frame"),
            # The beam of a glitch spectrum's widths and depths.
            (lambda: silicon.glitches((1, 1, 1), 10, energies=(5, 6), polarisation="circular"), ValueError,
             "polarisation must be 'sigma', 'pi' or 'unpolarised'"),
            (lambda: silicon.glitches((1, 1, 1), 10, energies=(5, 6), monochromator="triple"), ValueError,
             "monochromator must be 'single', 'double' or 'channel-cut'"),
            (lambda: silicon.glitches((1, 1, 1), 10, energies=(5, 6), divergence=(0.1, float("nan"))), ValueError,
             "divergence must be (ACROSS, ALONG)"),
            (lambda: silicon.glitches((1, 1, 1), 10, energies=(5, 6), surface=(0, 0, 0)), ValueError, "surface must be a direction"),
            (lambda: silicon.spectrum((1, 1, 1), 10, energies=(5, 6), second_psi=40), ValueError,
             "second_psi is the azimuth of a double monochromator's second crystal: give monochromator='double'"),
            (lambda: silicon.channel_cut_second_psi((1, 1, 1), psi=float("inf")), ValueError, "psi must be a finite number of degrees"),
            (lambda: silicon.fit_glitches((2, 2, 0), [8.0, 8.1], [1.0, 1.0], energies=(8, 9), fit_second=True), ValueError,
             "fit_second fits a double monochromator's second crystal: give monochromator='double'"),
            (lambda: silicon.glitches((1, 1, 1), 10, energies=(5, 6), surface=(-1, -1, -1)), ValueError,
             "surface -1 -1 -1 is 180.0 degrees from the primary reflection 1 1 1: its incident beam would meet the surface from "
             "inside the crystal"),
            (lambda: kelto.Crystal.shipped("quartz").glitch_map((1, 0, 0), energies=(8, 9), surface=(-1, 2, 0)), ValueError,
             "surface -1 2 0 is 90.0 degrees from the primary reflection 1 0 0"),
            # Runs that count everything that scales, the harmonic orders too, and azimuths beyond ten turns.
            (lambda: silicon.spectrum((1, 1, 1), 10, energies=(5, 100), harmonics=9), ValueError,
             "glitches of 9 harmonic orders of SI from 5 to 100 keV): lower harmonics or narrow energies"),
            (lambda: silicon.glitches((1, 1, 1), 1e300, energies=(5, 30)), ValueError, "psi must be a number of degrees from -3600 to 3600"),
            (lambda: silicon.fit_glitches((2, 2, 0), [8], [1], energies=(6, 12), nominal=-1e308), ValueError, "nominal must be a number"),
            (lambda: silicon.glitch_map((1, 1, 1), energies=(5, 6), psi=(3590, 3610)), ValueError, "each from -3600 to 3600"),
            (lambda: silicon.events((0, 0, 2), band=0.02), ValueError, "give either energy"),
            (lambda: silicon.events((0, 0, 2), energy=8, wavelength=1.5, band=0.02), ValueError, "give either energy"),
            (lambda: silicon.events((0, 0, 2), energy=8, band=-1), ValueError, "band must be a positive number"),
            (lambda: silicon.events((0, 0, 2), energy=8, band=0.02, relative_band=0.002), ValueError,
             "give band (angstrom) or relative_band (a share of the wavelength), not both"),
            (lambda: silicon.events((0, 0, 2), energy=8), ValueError, "or relative_band, that width as a share"),
            (lambda: silicon.events((0, 0, 2), energy=8, relative_band=2), ValueError,
             "relative_band must be a share of the wavelength above 0 and below 2"),
            (lambda: silicon.events((0, 0, 2), energy=8, relative_band=float("nan")), ValueError, "relative_band must be"),
            (lambda: silicon.events((0, 0, 2), energy=8, band=0.02, psi=(10, 10)), ValueError, "psi must be (MIN, MAX)"),
            (lambda: silicon.events((0, 0, 2), energy=8, band=0.02, reference=(0, 0, 4)), ValueError, "reference: the reference"),
            (lambda: silicon.glitches((1, 1, 1), 10, energies=(30, 5)), ValueError, "energies must be (EMIN, EMAX)"),
            (lambda: silicon.glitch_map((1, 1, 1), energies=(0.5, 1)), ValueError, "No reflection can reach the Ewald sphere"),
            (lambda: silicon.clean_energies((1, 1, 1), energies=(8, 9), fraction=1.5), ValueError, "fraction"),
            (lambda: kelto.clean_windows([1, 2], 5), ValueError, "events must be an array of events"),
            # The fit of a measured scan.
            (lambda: silicon.fit_glitches((2, 2, 0), [8, 9], [1], energies=(6, 12)), ValueError, "energy and intensity"),
            (lambda: silicon.fit_glitches((2, 2, 0), [8], [1], energies=(6, 12), max_offset=501), ValueError, "max_offset"),
            (lambda: silicon.fit_glitches((2, 2, 0), [8], [1], energies=(6, 12), nominal=float("inf")), ValueError, "at_psi"),
            (lambda: silicon.fit_glitches((2, 2, 0), [8], [1], energies=(6, 12), offsets="both"), ValueError, "offsets"),
            (lambda: silicon.fit_glitches((2, 2, 0), [8], [1], energies=(6, 12), significance=0.9), ValueError, "significance"),
            (lambda: silicon.fit_glitches((2, 2, 0), [[8]], [[1], [2]], energies=(6, 12)), ValueError, "as many scans"),
            (lambda: silicon.fit_glitches((2, 2, 0), [8000, 9000], [1, 2], energies=(6, 12)), ValueError,
             "No point of the scan lies from 6 to 12 keV (energies): its energies run from 8000 to 9000 keV; are they in eV?"),
            (lambda: silicon.fit_glitches((2, 2, 0), [8, 9, 10], [1, -50, 20000], energies=(6, 12)), ValueError,
             "the scan cannot be read as an I0"),
            (lambda: silicon.fit_glitches((2, 2, 0), [8], [1], energies=(0.5, 1)), ValueError, "No reflection can reach"),
            (lambda: silicon.clean_energies((1, 1, 1), energies=(8, 9), fraction=0.05, max_depth=0.1), ValueError,
             "give fraction or max_depth, not both"),
            (lambda: silicon.clean_energies((1, 1, 1), energies=(8, 9), max_depth=1.0), ValueError,
             "max_depth must be a share of I0 above 0 and below 1"),
            (lambda: silicon.clean_energies((1, 1, 1), energies=(8, 9), min_width=-1), ValueError, "min_width must be"),
            (lambda: silicon.clean_energies((1, 1, 1), energies=(8, 9), divergence=(0.1, -1)), ValueError,
             "divergence must be (ACROSS, ALONG)"),
            (lambda: kelto.clean_windows(silicon.events((0, 0, 2), energy=8, band=0.02)[["psi", "psi_min", "psi_max", "strength"]],
                                         5, max_depth=0.1), ValueError, "max_depth needs the events' depth column"),
            (lambda: kelto.Crystal.cubic("hcp", 5.431, "Si"), ValueError, "structure must be"),
            (lambda: kelto.Crystal.cubic("diamond", 5.431, "Xx"), ValueError, "Symbol XX not found"),
            (lambda: kelto.Crystal.cubic("diamond", 5.431, "Si", table="/no/such/table"), FileNotFoundError, "does not exist"),
            (lambda: kelto.Crystal.from_cif("/no/such.cif"), FileNotFoundError, "does not exist"),
            (lambda: kelto.Crystal.from_cif(KELTO), ValueError, "(is it a CIF file?)"),  # the program, no CIF
            (lambda: kelto.Crystal.shipped("unobtainium"), ValueError, "no shipped crystal is called"),
            (lambda: kelto.Crystal.shipped("Si", temperature=76), ValueError,
             "temperature: the thermal expansion of Si is known from 77 to 1500 K"),
            (lambda: kelto.Crystal.shipped("GaAs", temperature=200), ValueError,
             "temperature: kelto knows the thermal expansion of Si, Ge, diamond only, not of 'GaAs'"),
            # Either spelling or keyword of one argument, not both.
            (lambda: silicon.glitch_map((1, 1, 1), energies=(8, 9), polarisation="pi", polarization="pi"), ValueError,
             "polarisation and polarization are one"),
            (lambda: silicon.glitches((1, 1, 1), 10, energies=(8, 9), at_psi=10), ValueError, "psi and at_psi are one"),
            (lambda: silicon.spectrum((1, 1, 1), energies=(8, 9)), ValueError, "psi, the azimuth of the scan in degrees"),
            (lambda: silicon.spectrum((1, 1, 1), 10, energies=(8, 9), harmonics=3, harmonic_content=[0.1, 0.2]), ValueError,
             "one for each order that passes (3 3 3)"),
            (lambda: silicon.spectrum((1, 1, 1), 10, energies=(8, 9), harmonics=3, harmonic_content=[[8.5, 0.1], [9, 0.2]]),
             ValueError, "cover the energies 8 to 9 keV"),
        ]
        for call, kind, message in cases:
            with self.subTest(message):
                with self.assertRaises(kind) as caught:
                    call()
                self.assertIn(message, str(caught.exception))


class Notices(unittest.TestCase):
    def test_forbidden_reflections_warn_as_the_program_says_and_version_is_the_programs(self):
        silicon = kelto.Crystal.shipped("Si")
        cases = [
            (lambda: silicon.events((0, 0, 2), energy=8.048, band=0.02), ["--primary", "0,0,2", "--energy", "8.048", "--band",
                                                                         "0.02", "--events", "e.csv"]),
            (lambda: silicon.glitches((1, 1, 1), 10, energies=(8, 9), harmonics=2),
             ["--primary", "1,1,1", "--glitches", "g.csv", "--at-psi", "10", "--energies", "8,9", "--harmonics", "2"]),
        ]
        for call, arguments in cases:
            with self.subTest(arguments[1]):
                with warnings.catch_warnings(record=True) as caught:
                    warnings.simplefilter("always")
                    call()
                with tempfile.TemporaryDirectory() as folder:
                    said = subprocess.run([KELTO, "--crystal", "Si", *arguments], cwd=folder, capture_output=True, text=True).stderr
                self.assertEqual(["kelto: " + str(w.message) for w in caught], [line for line in said.splitlines() if "forbidden" in line])
                self.assertTrue(caught)
        number = subprocess.run([KELTO, "--version"], capture_output=True, text=True).stdout.split()[1]
        self.assertEqual(kelto.__version__, number)


class UnitHints(unittest.TestCase):
    def test_a_refusal_begins_with_the_unit_that_looks_mistaken(self):
        """A number in another unit (eV for keV, a lattice parameter or wavelength not in angstrom) is
        named first, in front of whichever refusal it led to; other refusals have no hint."""
        silicon = kelto.Crystal.cubic("diamond", 5.431, "Si")
        cases = [
            (lambda: silicon.events((0, 0, 2), energy=8000, relative_band=0.001),
             "energy takes keV: is 8000 in eV (8 keV)? The run would need about"),
            (lambda: silicon.events((0, 0, 2), energy=8048, band=0.02),  # the band is then wider than lambda
             "energy takes keV: is 8048 in eV (8.048 keV)? band must be a positive number of angstrom"),
            (lambda: silicon.events((0, 0, 2), wavelength=0.00015406, band=0.000002),
             "wavelength takes angstrom: is 0.00015406 in another unit? The run would need about"),
            (lambda: silicon.events((0, 0, 2), wavelength=1e-310, band=1e-311),
             "wavelength takes angstrom: is 1e-310 in another unit? The limiting sphere holds more than 1e+308 reflections, beyond what "
             "kelto can compute with"),
            (lambda: kelto.Crystal.cubic("diamond", 5431, "Si").events((0, 0, 2), energy=8.048, band=0.02),
             "a takes angstrom: is 5431 in another unit? The run would need about"),
            (lambda: kelto.Crystal.cubic("diamond", 5431, "Si").events((0, 0, 2), energy=8048, band=0.00002),
             "energy takes keV: is 8048 in eV (8.048 keV)? a takes angstrom: is 5431 in another unit? The run would"),
            (lambda: silicon.glitches((1, 1, 1), 10, energies=(5000, 30000)),
             "energies takes keV: is 30000 in eV (30 keV)? The run would need about"),
            (lambda: silicon.spectrum((2, 2, 0), 15, energies=(6000, 9000)), "energies takes keV: is 9000 in eV (9 keV)? "),
            (lambda: silicon.glitch_map((1, 1, 1), energies=(5000, 30000)), "energies takes keV: is 30000 in eV (30 keV)? "),
            (lambda: silicon.clean_energies((1, 1, 1), energies=(8000, 12000)), "energies takes keV: is 12000 in eV (12 keV)? "),
            (lambda: silicon.fit_glitches((2, 2, 0), [8000], [1], energies=(6000, 14000)),
             "energies takes keV: is 14000 in eV (14 keV)? "),
            # Nothing that looks like another unit: the refusal as it stands.
            (lambda: silicon.events((0, 0, 9), energy=8.04778, band=0.02),
             "The primary reflection 0 0 9 cannot diffract at the wavelength 1.540601 angstrom"),
            (lambda: silicon.glitches((1, 1, 1), 10, energies=(5, 999), harmonics=10), "harmonics must be a whole number"),
        ]
        for call, beginning in cases:
            with self.subTest(beginning):
                with self.assertRaises(ValueError) as caught:
                    call()
                self.assertTrue(str(caught.exception).startswith(beginning), str(caught.exception))


class Threads(unittest.TestCase):
    def test_calculation_releases_the_interpreter(self):
        """While one thread computes a large glitch map, another runs Python all the time: its steps
        of 2 ms never wait a quarter of a second (some hundredths at most, under load), where a
        calculation that held the interpreter stopped them for a second (a count of steps alone
        does not tell: they run before the worker takes the interpreter, and after)."""
        gaas = kelto.Crystal.shipped("GaAs")
        done = threading.Event()
        worker = threading.Thread(target=lambda: (gaas.glitch_map((0, 0, 2), energies=(8, 10)), done.set()))
        start = last = time.monotonic()
        longest = 0.0
        worker.start()
        while not done.is_set():
            time.sleep(0.002)  # a busy loop would take a core from the calculation
            now = time.monotonic()
            longest, last = max(longest, now - last), now
        worker.join()
        took = time.monotonic() - start
        self.assertGreater(took, 0.5)  # long enough for a held interpreter to show
        self.assertLess(longest, 0.25)


    def test_interrupt_stops_a_long_call(self):
        """Ctrl-C (SIGINT) during a long calculation raises KeyboardInterrupt within a second, and the
        crystal computes as before afterwards: nothing half-made is kept."""
        gaas = kelto.Crystal.shipped("GaAs")
        cases = [
            lambda: gaas.glitch_map((0, 0, 2), energies=(5, 60)),
            lambda: gaas.glitches((0, 0, 2), 10, energies=(5, 120)),  # the survey of the sphere the crystal keeps
        ]
        for call in cases:
            sent = []
            timer = threading.Timer(0.3, lambda: (sent.append(time.monotonic()), os.kill(os.getpid(), signal.SIGINT)))
            timer.start()
            try:
                with self.assertRaises(KeyboardInterrupt):
                    call()  # some seconds uninterrupted
            finally:
                timer.cancel()
            self.assertLess(time.monotonic() - sent[0], 1.0)
        fresh = kelto.Crystal.shipped("GaAs")
        self.assertEqual(gaas.glitches((0, 0, 2), 10, energies=(5, 8)).tolist(), fresh.glitches((0, 0, 2), 10, energies=(5, 8)).tolist())


class Installation(unittest.TestCase):
    def test_installed_module_finds_the_installed_data(self):
        """cmake --install puts the module where the python3 of its prefix looks, and it takes the
        installed table and crystals."""
        with tempfile.TemporaryDirectory() as prefix:
            subprocess.run([CMAKE, "--install", BUILD, "--prefix", prefix], check=True, capture_output=True)
            site = os.path.join(prefix, "lib", f"python{sys.version_info[0]}.{sys.version_info[1]}", "dist-packages")
            script = "import kelto; print(kelto.data_folder()); print(kelto.Crystal.shipped('Si').name)"
            done = subprocess.run([sys.executable, "-c", script], env={**os.environ, "PYTHONPATH": site}, cwd=prefix,
                                  capture_output=True, text=True, check=True)
            self.assertEqual(done.stdout.split(), [os.path.join(prefix, "share", "kelto"), "Si"])


def main():
    global KELTO, BUILD, CMAKE
    parser = argparse.ArgumentParser()
    parser.add_argument("--kelto", required=True)
    parser.add_argument("--build", required=True)
    parser.add_argument("--cmake", default="cmake")
    args, rest = parser.parse_known_args()
    KELTO = os.path.abspath(args.kelto)
    BUILD, CMAKE = os.path.abspath(args.build), args.cmake
    unittest.main(argv=[sys.argv[0], *rest])


if __name__ == "__main__":
    main()
