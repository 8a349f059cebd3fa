#!/usr/bin/env python3
"""Tests of kelto-plot and of the installation, run by ctest one group at a time:

    test_kelto_plot.py GROUP --kelto KELTO --source SOURCE_DIR --build BUILD_DIR --cmake CMAKE

Pictures are checked by their pixels against the run's answers and kelto_unweg.dat.  Groups
needing GDL exit with 77 (skipped) without it.  Standard library only.
"""

import argparse
import math
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import zlib

WHITE, BLACK = (255, 255, 255), (0, 0, 0)
RED, BLUE, SHADE = (175, 0, 0), (0, 110, 214), (200, 235, 200)  # events going in, going out; clean windows
RUN_FILES = ('kelto_spaghetti.dat', 'kelto_spaghetti.mac', 'kelto_unweg.dat', 'kelto_unweg.mac')
GDL_GROUPS, OTHER_GROUPS = ('silicon', 'small_run', 'broken_macro', 'sticks'), ('command_line', 'install')
EVENTS = 'psi,psi_lower,psi_upper,h,k,l,coupling_h,coupling_k,coupling_l,F,F_coupling,strength,relative_strength,direction'
GLITCHES = 'energy_keV,wavelength,h,k,l,coupling_h,coupling_k,coupling_l,F,F_coupling,strength,relative_strength'
ARGS = None  # the command line, set in main()

# Answers to kelto's questions (run_kelto adds the coefficient file).
SILICON = dict(structure=4, a=5.431, hmax=7, wavelength=1.5406, symbol='si', psi=(-180, 180),
               primary=(0, 0, 2), dlambda=0.02)
COPPER_3A = dict(structure=3, a=3.615, hmax=3, wavelength=3.0, symbol='Cu', psi=(-180, 180),
                 primary=(1, 1, 1), dlambda=0.05)  # 16 curves, 48 band crossings


def picture(path):
    """kelto-plot's PNG (8-bit RGB, not interlaced) as (width, height, rows[y][x] = (r, g, b))."""
    data, pos, idat = open(path, 'rb').read(), 8, b''
    while pos < len(data):
        length, kind = struct.unpack('>I4s', data[pos:pos + 8])
        if kind == b'IHDR':
            width, height, *form = struct.unpack('>IIBBBBB', data[pos + 8:pos + 21])
        idat += data[pos + 8:pos + 8 + length] if kind == b'IDAT' else b''
        pos += 12 + length
    assert data[:8] == b'\x89PNG\r\n\x1a\n' and form == [8, 2, 0, 0, 0], f'{path}: not 8-bit RGB'
    raw, stride, up, rows = zlib.decompress(idat), 3 * width + 1, bytes(3 * width + 3), []
    for y in range(height):  # three zero bytes in front of each line: "left" of the first pixel
        kind, line = raw[y * stride], bytearray(3) + raw[y * stride + 1:(y + 1) * stride]
        if kind == 2:
            line[3:] = bytes((d + u) & 255 for d, u in zip(line[3:], up[3:]))
        elif kind:
            for i in range(3, stride + 2):
                a, b, c = line[i - 3], up[i], up[i - 3]
                pa, pb, pc = abs(b - c), abs(a - c), abs(a + b - 2 * c)
                paeth = a if pa <= pb and pa <= pc else b if pb <= pc else c
                line[i] = (line[i] + (a, b, (a + b) >> 1, paeth)[kind - 1]) & 255
        rows.append(list(zip(line[3::3], line[4::3], line[5::3])))
        up = line
    return width, height, rows


class Frame:
    """The plot frame, the outermost black lines across most of the picture (curves break them
    here and there), and the exact axis ranges mapped onto it."""

    def __init__(self, rows, xrange, yrange):
        (self.xmin, self.xmax), (self.ymin, self.ymax), height, width = xrange, yrange, len(rows), len(rows[0])
        lines = [y for y in range(height) if rows[y].count(BLACK) >= 0.5 * width] or [0]
        self.top, self.bottom = min(lines), max(lines)
        columns = [x for x in range(width) if sum(rows[y][x] == BLACK for y in range(self.top, self.bottom + 1))
                   >= 0.6 * (self.bottom - self.top + 1)] or [0]
        self.left, self.right = min(columns), max(columns)
        if self.right - self.left < 0.3 * width or self.bottom - self.top < 0.3 * height:
            raise AssertionError(f'no plot frame in the picture: {vars(self)}')

    def column(self, x):
        return round(self.left + (x - self.xmin) / (self.xmax - self.xmin) * (self.right - self.left))

    def row(self, y):
        return round(self.bottom - (y - self.ymin) / (self.ymax - self.ymin) * (self.bottom - self.top))


def text(*path):
    with open(os.path.join(*path)) as f:
        return f.read()


def write(path, header, rows):
    with open(path, 'w') as f:
        f.write('\n'.join([header] + [','.join(map(str, row)) for row in rows]) + '\n')


def run(command, env=None, **options):
    env = {**os.environ, **(env or {})}
    return subprocess.run(command, capture_output=True, text=True, timeout=300, env=env, **options)


def run_kelto(folder, answers):
    answers = [answers['structure'], os.path.join(ARGS.source, 'data', 'f0_it1992.txt'), answers['a'],
               *[answers['hmax']] * 3, answers['wavelength'], answers['symbol'], *answers['psi'], *answers['primary'],
               answers['dlambda']]
    done = run([ARGS.kelto], input=''.join(f'{a}\n' for a in answers), cwd=folder)
    assert done.returncode == 0, f'kelto failed in {folder}: {done.stdout[-500:]}'


def kelto_plot(args, cwd, env=None, program=None):
    return run([program or os.path.join(ARGS.source, 'plot', 'kelto-plot'), *args], env, cwd=cwd)


def crossings(folder):
    """(psi1, psi2) of every row of kelto_unweg.dat."""
    return [tuple(map(float, r.split()[:2])) for r in text(folder, 'kelto_unweg.dat').split('\n')[1:] if r.strip()]


def umweg_pattern(folder, azimuth, npts):
    """The Umweg pattern on the azimuth grid: each crossing a Gaussian 10000/b6 high, 1/e
    half-width b6 = |psi2 - psi1| in grid points, sampled one point apart from b7 - 3 b6 to
    b7 + 3 b6 (b7 its centre); overlapping peaks add up."""
    span, pattern = azimuth[1] - azimuth[0], [0.0] * npts
    for psi1, psi2 in crossings(folder):
        b3, b4 = ((psi - azimuth[0]) / span * npts for psi in (psi1, psi2))
        b6, b7 = abs(b4 - b3), (b4 + b3) / 2
        k, end = (min(max(b7 + side * 3 * b6, 0), npts - 1) for side in (-1, 1))
        while b6 and k <= end:
            pattern[int(k)] += 10000 / b6 * math.exp(-(k - b7) ** 2 / b6 ** 2)
            k += 1
    return pattern


def curve_blocks(folder):
    return sum(line.strip() == 'b2=b2+1' for line in text(folder, 'kelto_spaghetti.mac').split('\n'))


class KeltoPlot(unittest.TestCase):
    """One test method for each group; the methods before them check pictures."""

    def load(self, path, size, white, xrange, yrange):
        width, height, rows = picture(path)
        self.assertEqual((width, height), size)
        self.assertGreater(sum(r.count(WHITE) for r in rows), white * width * height, 'background not white')
        return rows, Frame(rows, xrange, yrange)

    def check_spaghetti(self, path, size, azimuth, wavelength, answers, folder):
        rows, frame = self.load(path, size, 0.3, azimuth, wavelength)
        # The band lines lambda - dlambda/2, lambda, lambda + dlambda/2: dashed, black, apart.
        lam, half = answers['wavelength'], answers['dlambda'] / 2
        band = [frame.row(lam - half), frame.row(lam), frame.row(lam + half)]
        span = range(frame.left + 3, frame.right - 2)
        for y in band:
            covered = sum(BLACK in (rows[y - 1][x], rows[y][x], rows[y + 1][x]) for x in span)
            self.assertGreater(covered, 0.2 * len(span), f'no band line at row {y} ({vars(frame)})')
        for y0, y1 in zip(band[1:], band[:-1]):
            if y1 - y0 >= 6:
                self.assertLess(sum(rows[(y0 + y1) // 2][x] == BLACK for x in span), 0.05 * len(span),
                                f'black line at row {(y0 + y1) // 2}, between the band lines')
        # Every band crossing lies on a curve: psi1 on the lower band edge, psi2 on the upper.
        checked = 0
        for psi1, psi2 in crossings(folder):
            for psi, edge in ((psi1, lam - half), (psi2, lam + half)):
                if azimuth[0] < psi < azimuth[1] and wavelength[0] < edge < wavelength[1]:
                    x, y = frame.column(psi), frame.row(edge)
                    near = {rgb for r in rows[y - 2:y + 3] for rgb in r[x - 2:x + 3]} - {WHITE, BLACK}
                    self.assertTrue(near, f'no curve at psi {psi}, lambda {edge}: pixel {x},{y} in {vars(frame)}')
                    checked += 1
        self.assertGreater(checked, 0, 'no band crossing inside the picture')
        # At most 31 curve colours, all 31 with more curves than that, each dark on white.
        colours = {rgb for r in rows[frame.top + 1:frame.bottom] for rgb in r[frame.left + 1:frame.right]}
        colours -= {WHITE, BLACK}
        self.assertLessEqual(len(colours), 31)
        self.assertGreaterEqual(len(colours), 31 if curve_blocks(folder) > 31 else 2)
        for rgb in colours:
            luminance = sum(w * (c / 255) ** 2.2 for w, c in zip((0.2126, 0.7152, 0.0722), rgb))
            self.assertLess(luminance, 0.45, f'curve colour {rgb} too light on white')

    def check_unweg(self, path, size, azimuth, npts, folder, intensity=None):
        """INTENSITY: the axis range given, None for the default 0 to 1.1 times the highest peak."""
        pattern = umweg_pattern(folder, azimuth, npts)
        rows, frame = self.load(path, size, 0.5, azimuth, intensity or (0, 1.1 * max(pattern)))
        width, height = frame.right - frame.left, frame.bottom - frame.top
        # Each crossing shows at its azimuth: its peak and its label stand on the base line.
        for centre in ((p1 + p2) / 2 for p1, p2 in crossings(folder)):
            x = frame.column(centre)
            self.assertTrue(any(r[i] != WHITE for r in rows[frame.bottom - int(0.3 * height):frame.bottom - 1]
                                for i in range(x - 2, x + 3)), f'nothing at psi {centre} (column {x})')
        # Above the labels the top of each column follows the pattern: never above the highest
        # grid point of the column and its neighbours and, where the pattern stays inside the
        # axis, reaching it (a pixel of rounding either way).  The margins avoid the ticks.
        labels, mx, my = frame.bottom - int(0.35 * height), int(0.03 * width), frame.top + int(0.04 * height)
        highest = {}
        for k, value in enumerate(pattern):
            x = round(frame.left + k / (npts - 1) * width)
            highest[x] = max(highest.get(x, 0.0), value)
        xs = range(frame.left + mx - 1, frame.right - mx + 1)
        expected = {x: max(frame.row(min(max(highest.get(x, 0.0), frame.ymin), frame.ymax)), my) for x in xs}
        drawn = {x: next((y for y in range(my, frame.bottom) if rows[y][x] != WHITE), frame.bottom) for x in xs}
        checked = 0
        for x in xs[1:-1]:
            peak = min(expected[x - 1], expected[x], expected[x + 1])
            if peak > my:
                self.assertGreaterEqual(drawn[x], min(peak, labels) - 2, f'column {x} drawn up to row {drawn[x]}, '
                                        f'above the pattern (row {peak}; {vars(frame)})')
            if expected[x] < labels and highest.get(x, 0.0) < frame.ymax:
                reached = min(drawn[x - 1], drawn[x], drawn[x + 1])
                self.assertLessEqual(reached, expected[x] + 2, f'column {x} drawn up to row {reached}, '
                                     f'below the pattern (row {expected[x]}; {vars(frame)})')
                checked += 1
        self.assertGreater(checked, 10, 'too few peaks above the labels')
        return rows, frame

    def check_stick(self, rows, frame, at, height, colour):
        """A stick of COLOUR at AT rising from the axis to HEIGHT (a pixel of rounding either way)."""
        x, y = frame.column(at), frame.row(height)
        run = max(([r[c] == colour for r in rows[y - 3:frame.bottom]] for c in (x - 1, x, x + 1)), key=sum)
        self.assertTrue(any(run), f'no stick at {at} (column {x})')
        self.assertLessEqual(abs(run.index(True) - 3), 1, f'stick at {at} not {height} high')  # run starts at y - 3
        self.assertGreater(sum(run), 0.8 * len(run), f'stick at {at} broken')

    def sticks(self):
        """Hand-made tables alone in a folder: only their pictures, sticks at their azimuth or energy as
        tall as their relative strength, the clean windows shaded and listed, the labels not colliding."""
        events = [(-100, -101, -99, 1.0, 'in'), (-90, -90.5, -89.5, 0.5, 'out'),  # (psi, lower, upper, strength)
                  (0, 50, -50, 0.6, 'in'), (25, 24, 26, 0.55, 'out'), (-178, -178.2, -177.8, 0.9, 'in'),
                  (120, 119, 121, 0.01, 'out'),  # not above the fraction: it spoils no window
                  (190, 200, 150, 0.3, 'in')]  # outside the azimuths, but occupies 150 to 180
        windows = [(-177.8, -101), (50, 150)]  # the clean stretches at least 40 degrees wide
        with tempfile.TemporaryDirectory() as folder:
            write(os.path.join(folder, 'kelto_events.csv'), EVENTS,
                  [(*e[:3], 1, 1, 1, -1, -1, 1, 9, 9, 99, *e[3:]) for e in events])
            write(os.path.join(folder, 'kelto_glitches.csv'), GLITCHES,
                  [(8, 1.55, 2, 2, 0, -1, 1, 1, 9, 9, 9, 1), (11, 1.127, 3, 1, 1, 0, 0, 2, 9, 9, 9, 0.25)])
            done = kelto_plot(['--clean', '40', '--size', '600x400'], folder)
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertEqual(done.stdout.split('\n'), ['kelto-plot: wrote kelto_events.png'] + [
                f'kelto-plot: clean azimuths {a:.3f} to {b:.3f} degrees ({b - a:.3f} wide)' for a, b in windows] +
                ['kelto-plot: wrote kelto_glitches.png', ''])
            self.assertEqual(sorted(os.listdir(folder)), sorted(f'kelto_{p}.{e}' for p in ('events', 'glitches')
                                                                 for e in ('csv', 'png')))
            rows, frame = self.load(os.path.join(folder, 'kelto_events.png'), (600, 400), 0.05, (-180, 180), (0, 1.15))
            for psi, _, _, height, direction in events[:5]:
                self.check_stick(rows, frame, psi, height, RED if direction == 'in' else BLUE)
            self.assertFalse({RED, BLUE} & {p for r in rows[frame.top:frame.bottom] for p in r[frame.right + 1:]})
            inside = range(frame.left + 1, frame.right)
            shaded = {x for x in inside if any(r[x] == SHADE for r in rows[frame.top + 1:frame.bottom])}
            ends = {frame.column(end) + d for window in windows for end in window for d in (-1, 0, 1)}
            expected = {x for a, b in windows for x in range(frame.column(a), frame.column(b) + 1)} & set(inside)
            self.assertEqual(shaded - ends, expected - ends)
            # Labels above the sticks, strongest first, none crossing a stick or a label or leaving the frame.
            for psi, height, labelled in ((-100, 1, True), (0, 0.6, True), (-90, 0.5, False), (25, 0.55, False),
                                          (-178, 0.9, False)):
                x, y = frame.column(psi), frame.row(height)
                label = {p for r in rows[y - 25:y - 3] for p in r[x - 2:x + 3]} - {WHITE, SHADE, BLACK}
                self.assertEqual(bool(label), labelled, f'label of the event at {psi}: {label}')
            # The energies widened by 5 % of their span on either side.
            rows, frame = self.load(os.path.join(folder, 'kelto_glitches.png'), (600, 400), 0.5, (7.85, 11.15),
                                    (0, 1.15))
            for energy, height in (8, 1), (11, 0.25):
                self.check_stick(rows, frame, energy, height, BLACK)
            again = kelto_plot(['--clean=40', '--size=600x400', '--events-png', 'again.png'], folder)
            self.assertEqual(*(open(os.path.join(folder, n), 'rb').read() for n in ('again.png', 'kelto_events.png')),
                             again.stderr)

    def silicon(self):
        """The silicon example (446 curve blocks, more than the 31 colours) with every default."""
        with tempfile.TemporaryDirectory() as folder:
            run_kelto(folder, SILICON)
            self.assertGreater(curve_blocks(folder), 31)
            done = kelto_plot([], folder)
            self.assertEqual((done.returncode, done.stderr), (0, ''))
            # Default axes: lambda -/+ the larger of 5 band widths and 5 % of lambda; a point every 0.02 degree.
            lam, half = SILICON['wavelength'], max(5 * SILICON['dlambda'], 0.05 * SILICON['wavelength'])
            self.check_spaghetti(os.path.join(folder, 'kelto_spaghetti.png'), (1200, 800), (-180, 180),
                                 (lam - half, lam + half), SILICON, folder)
            self.check_unweg(os.path.join(folder, 'kelto_unweg.png'), (1200, 800), (-180, 180), round(360 / 0.02) + 1,
                             folder)

    def small_run(self):
        """16 curves: every option changed, from another folder; the seed and the default title."""
        with tempfile.TemporaryDirectory() as top:
            folder = os.path.join(top, 'copper run')
            os.mkdir(folder)
            answers = dict(COPPER_3A, psi=(-170, 175))  # inside the azimuth range, as the labels need
            run_kelto(folder, answers)
            s_png, u_png = os.path.join(top, 's.png'), os.path.join(top, 'u.png')
            common = ['--azimuth', '-170,175', '--points=7001', '--wavelength', '2.8,3.3', '--intensity', '0,1000',
                      '--size', '700x500', '--title', 'copper at 3 A', '--spaghetti-png', s_png, '--unweg-png=' + u_png]
            shots = []
            # GDL_IS_FUSSY would reject the macros' parenthesised subscripts.
            for units, env in (('--degrees', {}), ('--radians', {'GDL_IS_FUSSY': '1'})):
                done = kelto_plot(common + [units, 'copper run'], top, env)
                self.assertEqual(done.returncode, 0, done.stderr)
                self.assertEqual(done.stdout, f'kelto-plot: wrote {s_png}\nkelto-plot: wrote {u_png}\n')
                self.check_spaghetti(s_png, (700, 500), (-170, 175), (2.8, 3.3), answers, folder)
                shots.append(self.check_unweg(u_png, (700, 500), (-170, 175), 7001, folder, (0, 1000)))
            # The units change the annotation of the azimuth axis, nothing inside the frame.
            (degrees, f), (radians, _) = shots
            inside = [slice(f.top + 20, f.bottom - 20), slice(f.left + 21, f.right - 21)]  # clear of the ticks
            self.assertEqual([r[inside[1]] for r in degrees[inside[0]]], [r[inside[1]] for r in radians[inside[0]]])
            self.assertNotEqual(degrees[f.bottom + 3:], radians[f.bottom + 3:], 'units not annotated')
            self.assertFalse(os.path.exists(os.path.join(folder, 'kelto_spaghetti.png')))
            # Same files, seed and title: the same pictures; the default title is the table's.
            pictures = []
            for args in ['--seed', '1'], ['--seed', '2'], ['--title', 'CU, primary reflection 1 1 1, lambda = 3.000 A']:
                done = kelto_plot(args + ['--points', '3601', 'copper run'], top)
                self.assertEqual(done.returncode, 0, done.stderr)
                pictures.append([open(os.path.join(folder, f'kelto_{p}.png'), 'rb').read() for p in ('spaghetti', 'unweg')])
            default, other_seed, titled = pictures
            self.assertTrue(default == titled, 'pictures differ: not reproducible, or not the default title')
            self.assertTrue(default[0] != other_seed[0], 'the seed does not move the curve labels')
            self.assertTrue(default[1] == other_seed[1], 'the seed changes the Umweg pattern')

    def broken_macro(self):
        """A line GDL cannot compile, or cannot run, is named; the status is 1; that picture is not
        written, the other one is."""
        with tempfile.TemporaryDirectory() as top:
            os.mkdir(os.path.join(top, 'run'))
            run_kelto(os.path.join(top, 'run'), COPPER_3A)
            for case, (macro, other, start, broken) in enumerate([
                    ('kelto_spaghetti.mac', 'kelto_unweg.png', 'a3 =', 'a3 = 3.6150/sqrt(0.125/(cos(0.785-a0)^2)+1.00'),
                    ('kelto_unweg.mac', 'kelto_spaghetti.png', 'b6=', 'b6=absolute(b4-b3)')]):
                with self.subTest(broken=broken):
                    folder = os.path.join(top, f'case{case}')
                    shutil.copytree(os.path.join(top, 'run'), folder)
                    lines = text(folder, macro).split('\n')
                    where = [i for i, t in enumerate(lines) if t.strip().startswith(start)][1]
                    with open(os.path.join(folder, macro), 'w') as f:
                        f.write('\n'.join(lines[:where] + [broken] + lines[where + 1:]))
                    done = kelto_plot([f'case{case}', '--points', '3601'], top)
                    self.assertEqual(done.returncode, 1, done.stderr)
                    self.assertIn(f'kelto-plot: case{case}/{macro}:{where + 1}: {broken} (GDL: ', done.stderr)
                    self.assertIn(f'kelto-plot: 1 line of case{case}/{macro} failed in GDL', done.stderr)
                    self.assertEqual([os.path.exists(os.path.join(folder, png)) for png in (macro[:-3] + 'png', other)],
                                     [False, True])

    def command_line(self):
        """Refusals that come before GDL runs (no GDL needed), and --help."""
        with tempfile.TemporaryDirectory() as folder:
            run_kelto(folder, COPPER_3A)
            no_gdl = {'KELTO_PLOT_GDL': os.path.join(folder, 'no-gdl')}  # what gets past the checks fails
            os.mkdir(os.path.join(folder, 'empty'))
            write(os.path.join(folder, 'events.csv'), EVENTS.replace('psi_upper', 'psi_higher'), [])
            write(os.path.join(folder, 'glitches.csv'), GLITCHES, [(10, 1.2, 1, 1, 1, 0, 0, 2, 9, 9, 9, 1.5)])
            for args, status, message in [
                    (['--azimuth', '10,-10'], 2, '--azimuth wants MIN below MAX'),
                    (['--wavelength=1,x'], 2, '--wavelength wants MIN,MAX'),
                    (['--intensity', '5,5'], 2, '--intensity wants MIN below MAX'),
                    (['--points', '1'], 2, '--points wants a whole number'),
                    (['--size', '100x100'], 2, '--size wants at least 300x200'),
                    (['--radians=1'], 2, '--radians takes no value'),
                    (['--title'], 2, '--title needs a value'),
                    (['--colour'], 2, "unknown option '--colour'"),
                    (['.', 'other'], 2, 'one folder only'),
                    (['no such folder'], 1, 'no such folder is not a folder\n'),
                    (['empty'], 1, 'nothing to draw in empty: no run of kelto'),
                    (['--events', 'events.csv'], 1, 'events.csv is not a kelto events table: its first line must be psi,'),
                    (['--glitches=glitches.csv'], 1, 'glitches.csv:2: relative_strength is 1.5, outside 0 to 1'),
                    (['--clean', '0'], 2, '--clean wants WIDTH[,FRACTION]'),
                    ([], 1, 'GDL is not installed (no command ' + repr(no_gdl['KELTO_PLOT_GDL']) +
                     '): install the Debian package gnudatalanguage')]:
                with self.subTest(args=args):
                    done = kelto_plot(args, folder, no_gdl)
                    self.assertEqual(done.returncode, status)
                    self.assertIn(f'kelto-plot: {message}', done.stderr)
            for name in RUN_FILES:
                with self.subTest(missing=name):
                    os.rename(os.path.join(folder, name), os.path.join(folder, 'aside'))
                    done = kelto_plot([], folder, no_gdl)
                    os.rename(os.path.join(folder, 'aside'), os.path.join(folder, name))
                    self.assertEqual(done.returncode, 1)
                    self.assertIn(f'kelto-plot: {name} is missing', done.stderr)
            done = kelto_plot(['--help'], folder)
            self.assertEqual(done.returncode, 0)
            self.assertTrue(done.stdout.startswith('Usage: kelto-plot [OPTION]... [FOLDER]\n'))
            self.assertFalse(any(n.endswith('.png') for n in os.listdir(folder)))

    def install(self):
        """cmake --install into a temporary prefix: the installed programs, examples and pages."""
        with tempfile.TemporaryDirectory() as top:
            # A relative prefix: the examples name the table by its absolute path all the same.
            done = run([ARGS.cmake, '--install', ARGS.build, '--prefix', 'prefix'], cwd=top)
            self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
            prefix, work = os.path.join(top, 'prefix'), os.path.join(top, 'work')
            share = os.path.join(prefix, 'share', 'kelto')
            table = os.path.join(share, 'f0_it1992.txt')
            self.assertEqual(text(table), text(ARGS.source, 'data', 'f0_it1992.txt'))
            # The installed examples name the installed table instead of the repository's.
            examples = sorted(os.listdir(os.path.join(ARGS.source, 'examples')))
            self.assertEqual(sorted(os.listdir(os.path.join(share, 'examples'))), examples)
            for name in examples:
                expected = text(ARGS.source, 'examples', name).replace('\ndata/f0_it1992.txt\n', f'\n{table}\n')
                self.assertEqual(text(share, 'examples', name).split('\n'), expected.split('\n'), name)
            # The installed kelto runs the installed silicon example elsewhere: the reference output.
            os.mkdir(work)
            with open(os.path.join(share, 'examples', 'silicon.txt')) as answers:
                done = run([os.path.join(prefix, 'bin', 'kelto')], stdin=answers, cwd=work)
            self.assertEqual(done.returncode, 0, done.stdout[-500:])
            for name in RUN_FILES:
                self.assertEqual(text(work, name), text(ARGS.source, 'tests', 'golden', 'silicon', name), name)
            for page in ('kelto.1', 'kelto-plot.1'):  # rendered with all of groff's warnings on: none
                shown = run(['man', '--warnings=w', '-l', os.path.join(prefix, 'share/man/man1', page)], {'MANWIDTH': '80'})
                self.assertEqual((shown.returncode, shown.stderr, 'EXIT STATUS' in shown.stdout), (0, '', True), page)
            gdl = shutil.which('gdl')  # the installed kelto-plot finds its routines; without GDL, its help
            done = kelto_plot(['--points', '3601', '--size', '400x300'] if gdl else ['--help'], work,
                              program=os.path.join(prefix, 'bin', 'kelto-plot'))
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertTrue(not gdl or picture(os.path.join(work, 'kelto_unweg.png'))[:2] == (400, 300))


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument('group', choices=GDL_GROUPS + OTHER_GROUPS)
    for option in ('--kelto', '--source', '--build', '--cmake'):
        parser.add_argument(option, required=True)
    ARGS = parser.parse_args()
    if ARGS.group in GDL_GROUPS and not shutil.which('gdl'):
        print('SKIPPED: gdl is not installed (Debian package gnudatalanguage)')
        return 77
    return 0 if unittest.TextTestRunner(stream=sys.stdout, verbosity=2).run(KeltoPlot(ARGS.group)).wasSuccessful() else 1


if __name__ == '__main__':
    sys.exit(main())
