#!/usr/bin/env python3
"""Tests of kelto-plot and of the installation, run by ctest one group at a time:

    test_kelto_plot.py GROUP --kelto KELTO --source SOURCE_DIR --build BUILD_DIR --cmake CMAKE

Every test runs kelto itself in a temporary folder and checks the pictures by their pixels:
the plot frame is found in the picture, the axis ranges map azimuth and wavelength (or
intensity) onto it, and the band lines, the band crossings of the curves and the Umweg peaks
must be where kelto_unweg.dat and the run's answers put them.  Groups that need GDL exit with
status 77 (reported as skipped by ctest) when it is not installed.  Python 3 standard library
only.
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

SKIPPED = 77
WHITE = (255, 255, 255)
BLACK = (0, 0, 0)

ARGS = None  # the command line, set in main()

# Answers to kelto's fourteen questions; the coefficient file (answer 2) is filled in.
SILICON = dict(structure=4, a=5.431, hmax=7, wavelength=1.5406, symbol='si', psi=(-180, 180),
               primary=(0, 0, 2), dlambda=0.02)
# Copper at 3 angstrom: 16 curves, 48 band crossings, a run of a second.
COPPER_3A = dict(structure=3, a=3.615, hmax=3, wavelength=3.0, symbol='Cu', psi=(-180, 180),
                 primary=(1, 1, 1), dlambda=0.05)


# --- PNG -----------------------------------------------------------------------------------

class Picture:
    """A decoded 8- or 16-bit RGB(A) PNG: width, height, rows[y][x] = (r, g, b), y = 0 the top."""

    def __init__(self, path):
        data, pos, idat = open(path, 'rb').read(), 8, []
        while pos < len(data):
            length, kind = struct.unpack('>I4s', data[pos:pos + 8])
            if kind == b'IHDR':
                self.width, self.height, depth, ctype = struct.unpack('>IIBB', data[pos + 8:pos + 18])
            elif kind == b'IDAT':
                idat.append(data[pos + 8:pos + 8 + length])
            pos += 12 + length
        bpp = (3 if ctype == 2 else 4) * depth // 8
        stride, raw = self.width * bpp, zlib.decompress(b''.join(idat))
        up, self.rows = bytearray(stride), []
        for y in range(self.height):
            kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
            for i in range(stride) if kind else ():
                a, b, c = (line[i - bpp], up[i], up[i - bpp]) if i >= bpp else (0, up[i], 0)
                p = a + b - c
                paeth = a if abs(p - a) <= min(abs(p - b), abs(p - c)) else b if abs(p - b) <= abs(p - c) else c
                line[i] = (line[i] + (0, a, b, (a + b) // 2, paeth)[kind]) & 255
            self.rows.append([tuple(line[x * bpp + c * depth // 8] for c in range(3)) for x in range(self.width)])
            up = line

    def pixel(self, x, y):
        return self.rows[y][x]


def luminance(rgb):
    r, g, b = ((c / 255 / 12.92) if c <= 10 else ((c / 255 + 0.055) / 1.055) ** 2.4 for c in rgb)
    return 0.2126 * r + 0.7152 * g + 0.0722 * b


class Frame:
    """The plot frame, found as the outermost black lines that run across most of the picture
    (curves drawn later break them here and there), and the mapping of data onto it (both axes
    are drawn with exact ranges)."""

    def __init__(self, pic, xrange, yrange):
        self.pic, (self.xmin, self.xmax), (self.ymin, self.ymax) = pic, xrange, yrange
        rows = [y for y in range(pic.height) if pic.rows[y].count(BLACK) >= 0.5 * pic.width]
        if len(rows) < 2:
            raise AssertionError('no plot frame in the picture')
        self.top, self.bottom = min(rows), max(rows)
        columns = [x for x in range(pic.width)
                   if sum(pic.rows[y][x] == BLACK for y in range(self.top, self.bottom + 1))
                   >= 0.6 * (self.bottom - self.top + 1)]
        if len(columns) < 2:
            raise AssertionError('no left and right frame lines in the picture')
        self.left, self.right = min(columns), max(columns)
        if self.right - self.left < 0.3 * pic.width or self.bottom - self.top < 0.3 * pic.height:
            raise AssertionError(f'plot frame too small: {self}')

    def __repr__(self):
        return f'frame x {self.left}..{self.right}, y {self.top}..{self.bottom}'

    def column(self, x):
        return round(self.left + (x - self.xmin) / (self.xmax - self.xmin) * (self.right - self.left))

    def row(self, y):
        return round(self.bottom - (y - self.ymin) / (self.ymax - self.ymin) * (self.bottom - self.top))

    def window(self, x, y, reach):
        xs = range(max(x - reach, 0), min(x + reach, self.pic.width - 1) + 1)
        ys = range(max(y - reach, 0), min(y + reach, self.pic.height - 1) + 1)
        return [self.pic.pixel(i, j) for j in ys for i in xs]


# --- running kelto and kelto-plot ----------------------------------------------------------

def run_kelto(folder, run):
    """Runs the built kelto in FOLDER with the answers RUN."""
    answers = [run['structure'], os.path.join(ARGS.source, 'data', 'f0_it1992.txt'), run['a'], run['hmax'], run['hmax'], run['hmax'],
               run['wavelength'], run['symbol'], *run['psi'], *run['primary'], run['dlambda']]
    done = subprocess.run([ARGS.kelto], input=''.join(f'{a}\n' for a in answers), cwd=folder,
                          capture_output=True, text=True, timeout=120)
    if done.returncode != 0:
        raise AssertionError(f'kelto failed in {folder}: {done.stdout[-500:]}')


def kelto_plot(args, cwd, env=None, program=None):
    return subprocess.run([program or os.path.join(ARGS.source, 'plot', 'kelto-plot'), *args],
                          cwd=cwd, capture_output=True, text=True, timeout=300,
                          env={**os.environ, **(env or {})})


def crossings(folder):
    """(psi1, psi2) of every row of kelto_unweg.dat."""
    with open(os.path.join(folder, 'kelto_unweg.dat')) as f:
        next(f)
        return [(float(r.split()[0]), float(r.split()[1])) for r in f if r.strip()]


def umweg_pattern(folder, azimuth, npts):
    """The approximate Umweg pattern on the azimuth grid: each crossing of kelto_unweg.dat a
    Gaussian 10000/b6 high with 1/e half-width b6 = |psi2 - psi1| in grid points, sampled from
    b7 - 3 b6 to b7 + 3 b6 (b7 its centre) in steps of one grid point; overlapping peaks add up."""
    span, pattern = azimuth[1] - azimuth[0], [0.0] * npts
    for psi1, psi2 in crossings(folder):
        b3, b4 = ((psi - azimuth[0]) / span * npts for psi in (psi1, psi2))
        b6, b7 = abs(b4 - b3), (b4 + b3) / 2
        if b6 == 0:
            continue
        k, end = (min(max(b7 + side * 3 * b6, 0), npts - 1) for side in (-1, 1))
        while k <= end:
            pattern[int(k)] += 10000 / b6 * math.exp(-(k - b7) ** 2 / b6 ** 2)
            k += 1
    return pattern


def curve_blocks(folder):
    with open(os.path.join(folder, 'kelto_spaghetti.mac')) as f:
        return sum(line.strip() == 'b2=b2+1' for line in f)


class PictureChecks(unittest.TestCase):
    """Pixel checks shared by the groups that draw pictures."""

    def check_spaghetti(self, path, size, azimuth, wavelength, run, folder):
        pic = Picture(path)
        self.assertEqual((pic.width, pic.height), size)
        frame = Frame(pic, azimuth, wavelength)
        flat = [rgb for row in pic.rows for rgb in row]
        self.assertGreater(flat.count(WHITE), 0.3 * len(flat), 'the background is not white')

        # The band lines lambda - dlambda/2, lambda, lambda + dlambda/2, dashed, in black.
        lam, half = run['wavelength'], run['dlambda'] / 2
        band = [frame.row(lam - half), frame.row(lam), frame.row(lam + half)]
        span = range(frame.left + 3, frame.right - 2)
        for y in band:
            covered = sum(any(pic.pixel(x, y + d) == BLACK for d in (-1, 0, 1)) for x in span)
            self.assertGreater(covered, 0.2 * len(span), f'no band line at row {y} ({frame})')
        for y0, y1 in zip(band[1:], band[:-1]):
            if y1 - y0 >= 6:
                middle = (y0 + y1) // 2
                covered = sum(pic.pixel(x, middle) == BLACK for x in span)
                self.assertLess(covered, 0.05 * len(span), f'black line at row {middle}, between the band lines')

        # Every band crossing lies on a curve: psi1 on the lower edge, psi2 on the upper one.
        def curve_colour(rgb):
            return rgb not in (WHITE, BLACK)
        checked = 0
        for psi1, psi2 in crossings(folder):
            for psi, lam_edge in ((psi1, lam - half), (psi2, lam + half)):
                if azimuth[0] < psi < azimuth[1] and wavelength[0] < lam_edge < wavelength[1]:
                    x, y = frame.column(psi), frame.row(lam_edge)
                    self.assertTrue(any(map(curve_colour, frame.window(x, y, 2))),
                                    f'no curve at psi {psi}, lambda {lam_edge} (pixel {x},{y}; {frame})')
                    checked += 1
        self.assertGreater(checked, 0, 'no band crossing inside the picture')

        # The curves' colours: at most 31, all of them when there are more curves than that,
        # none of them hard to see on white.
        colours = {rgb for y in range(frame.top + 1, frame.bottom)
                   for rgb in pic.rows[y][frame.left + 1:frame.right] if curve_colour(rgb)}
        self.assertLessEqual(len(colours), 31)
        self.assertGreaterEqual(len(colours), 31 if curve_blocks(folder) > 31 else 2)
        for rgb in colours:
            self.assertLess(luminance(rgb), 0.45, f'curve colour {rgb} too light on white')
        return frame

    def check_unweg(self, path, size, azimuth, npts, folder, intensity=None):
        """INTENSITY is the explicit axis range, None for the default (0 to 1.1 times the highest
        point of the pattern)."""
        pic = Picture(path)
        self.assertEqual((pic.width, pic.height), size)
        pattern = umweg_pattern(folder, azimuth, npts)
        frame = Frame(pic, azimuth, intensity or (0, 1.1 * max(pattern)))
        flat = [rgb for row in pic.rows for rgb in row]
        self.assertGreater(flat.count(WHITE), 0.5 * len(flat), 'the background is not white')
        width, height = frame.right - frame.left, frame.bottom - frame.top

        # Each crossing shows at its azimuth: its peak and its label stand on the base line.
        centres = [(p1 + p2) / 2 for p1, p2 in crossings(folder)]
        for centre in (c for c in centres if azimuth[0] < c < azimuth[1]):
            x = frame.column(centre)
            marks = [pic.pixel(i, y) for i in range(x - 2, x + 3)
                     for y in range(frame.bottom - int(0.3 * height), frame.bottom - 1)]
            self.assertTrue(any(rgb != WHITE for rgb in marks), f'nothing at psi {centre} (column {x})')

        # Above the labels, the top of what is drawn in each column follows the pattern: no
        # higher than the highest grid point in that column and its neighbours, and, where the
        # pattern stays below the top of the axis, as high as the column's own highest point
        # in it or a neighbour (the drawing may round to the next pixel).  The margins keep
        # clear of the tick marks.
        labels = frame.bottom - int(0.35 * height)
        margin_x, margin_y = int(0.03 * width), int(0.04 * height)
        highest = {}
        for k, value in enumerate(pattern):
            x = round(frame.left + k / (npts - 1) * width)
            highest[x] = max(highest.get(x, 0.0), value)
        expected, drawn = {}, {}
        for x in range(frame.left + margin_x - 1, frame.right - margin_x + 1):
            value = min(max(highest.get(x, 0.0), frame.ymin), frame.ymax)
            expected[x] = max(frame.row(value), frame.top + margin_y)
            drawn[x] = next((y for y in range(frame.top + margin_y, frame.bottom)
                             if pic.pixel(x, y) != WHITE), frame.bottom)
        checked = 0
        for x in range(frame.left + margin_x, frame.right - margin_x):
            peak = min(expected[x + d] for d in (-1, 0, 1))
            if peak > frame.top + margin_y:
                self.assertGreaterEqual(drawn[x], min(peak, labels) - 2,
                                        f'column {x} drawn up to row {drawn[x]}, above the pattern (row {peak}; {frame})')
            if expected[x] < labels and highest.get(x, 0.0) < frame.ymax:
                reached = min(drawn[x + d] for d in (-1, 0, 1))
                self.assertLessEqual(reached, expected[x] + 2,
                                     f'column {x} drawn up to row {reached}, below the pattern (row {expected[x]}; {frame})')
                checked += 1
        self.assertGreater(checked, 10, 'too few peaks above the labels')
        return frame


# --- the groups ----------------------------------------------------------------------------

class Silicon(PictureChecks):
    """The silicon example (446 curve blocks, more than the 31 colours) with the defaults."""

    def test_silicon_pictures(self):
        with tempfile.TemporaryDirectory() as folder:
            run_kelto(folder, SILICON)
            done = kelto_plot([], folder)
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertEqual(done.stderr, '')
            self.assertGreater(curve_blocks(folder), 31)
            spaghetti = os.path.join(folder, 'kelto_spaghetti.png')
            unweg = os.path.join(folder, 'kelto_unweg.png')
            # Default wavelength axis: lambda -/+ the larger of five band widths and 5 % of lambda.
            self.check_spaghetti(spaghetti, (1200, 800), (-180, 180), (1.4406, 1.6406), SILICON, folder)
            self.check_unweg(unweg, (1200, 800), (-180, 180), 18001, folder)

            # The same files give the same pictures.
            first = [open(p, 'rb').read() for p in (spaghetti, unweg)]
            again = kelto_plot(['--spaghetti-png', 'again_s.png', '--unweg-png', 'again_u.png'], folder)
            self.assertEqual(again.returncode, 0, again.stderr)
            self.assertEqual(first, [open(os.path.join(folder, p), 'rb').read()
                                     for p in ('again_s.png', 'again_u.png')])


class SmallRun(PictureChecks):
    """A run of 16 curves drawn with every option changed, from another folder."""

    def test_options(self):
        with tempfile.TemporaryDirectory() as top:
            folder = os.path.join(top, 'copper run')
            os.mkdir(folder)
            # The Umweg macro labels every crossing, so the azimuth range holds kelto's psi window.
            run = dict(COPPER_3A, psi=(-170, 175))
            run_kelto(folder, run)
            spaghetti, unweg = os.path.join(top, 's.png'), os.path.join(top, 'u.png')
            common = ['--azimuth', '-170,175', '--points=7001', '--wavelength', '2.8,3.3',
                      '--intensity', '0,1000', '--size', '700x500', '--title', 'copper at 3 A']
            cases = [
                ('degrees', common + ['--degrees'], {}),
                # GDL_IS_FUSSY would reject the macros' parenthesised subscripts.
                ('radians, fussy GDL', common + ['--radians'], {'GDL_IS_FUSSY': '1'}),
            ]
            shots = {}
            for name, args, env in cases:
                with self.subTest(name):
                    done = kelto_plot(args + ['--spaghetti-png', spaghetti, '--unweg-png=' + unweg,
                                              'copper run'], top, env)
                    self.assertEqual(done.returncode, 0, done.stderr)
                    self.assertEqual(done.stdout.split('\n')[:2],
                                     [f'kelto-plot: wrote {spaghetti}', f'kelto-plot: wrote {unweg}'])
                    self.check_spaghetti(spaghetti, (700, 500), (-170, 175), (2.8, 3.3), run, folder)
                    self.check_unweg(unweg, (700, 500), (-170, 175), 7001, folder, intensity=(0, 1000))
                    shots[name] = [Picture(spaghetti), Picture(unweg)]
            # Degrees or radians changes the annotation of the azimuth axis, nothing in the plot.
            for degrees, radians in zip(*shots.values()) if len(shots) == 2 else ():
                frame = Frame(degrees, (0, 1), (0, 1))
                mx, my = int(0.03 * degrees.width), int(0.04 * degrees.height)

                def plot(pic):
                    return [row[frame.left + mx:frame.right - mx] for row in pic.rows[frame.top + my:frame.bottom - my]]
                self.assertEqual(plot(degrees), plot(radians))
                self.assertTrue(degrees.rows[frame.bottom + 3:] != radians.rows[frame.bottom + 3:],
                                'the azimuth axis is annotated alike in degrees and in radians')
            self.assertFalse(os.path.exists(os.path.join(folder, 'kelto_spaghetti.png')))

    def test_seed_and_default_title(self):
        with tempfile.TemporaryDirectory() as folder:
            run_kelto(folder, COPPER_3A)
            runs = [
                ['--seed', '1'],
                ['--seed', '2'],
                # The default title: crystal, primary reflection and wavelength of the table header.
                ['--title', 'CU, primary reflection 1 1 1, lambda = 3.000 A'],
            ]
            pictures = []
            for args in runs:
                done = kelto_plot(args + ['--points', '3601'], folder)
                self.assertEqual(done.returncode, 0, done.stderr)
                pictures.append([open(os.path.join(folder, f), 'rb').read()
                                 for f in ('kelto_spaghetti.png', 'kelto_unweg.png')])
            default, other_seed, titled = pictures
            self.assertTrue(default == titled, 'the default title is not the one of the table header')
            self.assertTrue(default[0] != other_seed[0], 'the seed does not move the curve labels')
            self.assertTrue(default[1] == other_seed[1], 'the seed changes the Umweg pattern')


class BrokenMacro(unittest.TestCase):
    """A macro line that GDL rejects is named, the status is 1 and that picture is not written."""

    CASES = [
        # (macro, line to break, broken text, other picture)
        ('kelto_spaghetti.mac', lambda t: t.startswith('a3 ='), 'a3 = 3.6150/sqrt(0.125/(cos(0.785-a0)^2)+1.00',
         'kelto_unweg.png'),
        ('kelto_unweg.mac', lambda t: t.startswith('b6='), 'b6=absolute(b4-b3)', 'kelto_spaghetti.png'),
        ('kelto_unweg.mac', lambda t: t.startswith('for k='), 'for k=b3,b4 do a3(k)=a3(k)+b5/b6*exp(-(k-b7)^2/b6^2',
         'kelto_spaghetti.png'),
        ('kelto_spaghetti.mac', lambda t: t.startswith('if ct ge 1 then OPlot'), 'if ct ge 1 then OPlot, a2,a3, Colour=b3',
         'kelto_unweg.png'),
    ]

    def test_broken_lines(self):
        with tempfile.TemporaryDirectory() as top:
            pristine = os.path.join(top, 'run')
            os.mkdir(pristine)
            run_kelto(pristine, COPPER_3A)
            for number, (macro, pick, broken, other) in enumerate(self.CASES):
                with self.subTest(macro=macro, broken=broken):
                    folder = os.path.join(top, f'case{number}')
                    shutil.copytree(pristine, folder)
                    path = os.path.join(folder, macro)
                    lines = open(path).read().split('\n')
                    where = [i for i, t in enumerate(lines) if pick(t.strip())][1]
                    lines[where] = broken
                    open(path, 'w').write('\n'.join(lines))
                    done = kelto_plot([f'case{number}', '--points', '3601'], top)
                    self.assertEqual(done.returncode, 1, done.stderr)
                    self.assertIn(f'kelto-plot: case{number}/{macro}:{where + 1}: {broken} (GDL: ', done.stderr)
                    self.assertIn(f'kelto-plot: 1 line of case{number}/{macro} failed in GDL', done.stderr)
                    self.assertFalse(os.path.exists(os.path.join(folder, macro.replace('.mac', '.png'))))
                    self.assertTrue(os.path.exists(os.path.join(folder, other)))


class CommandLine(unittest.TestCase):
    """Refusals that come before GDL runs (no GDL needed)."""

    def test_refusals(self):
        with tempfile.TemporaryDirectory() as folder:
            run_kelto(folder, COPPER_3A)
            usage = [
                (['--azimuth', '10,-10'], '--azimuth wants MIN below MAX'),
                (['--wavelength=1,x'], '--wavelength wants MIN,MAX'),
                (['--intensity', '5,5'], '--intensity wants MIN below MAX'),
                (['--points', '1'], '--points wants a whole number'),
                (['--size', '100x100'], '--size wants at least 300x200'),
                (['--radians=1'], '--radians takes no value'),
                (['--title'], '--title needs a value'),
                (['--colour'], "unknown option '--colour'"),
                (['.', 'other'], 'one folder only'),
            ]
            for args, message in usage:
                with self.subTest(args=args):
                    done = kelto_plot(args, folder)
                    self.assertEqual(done.returncode, 2)
                    self.assertIn(f'kelto-plot: {message}', done.stderr)
            for name in ('kelto_spaghetti.dat', 'kelto_spaghetti.mac', 'kelto_unweg.dat', 'kelto_unweg.mac'):
                with self.subTest(missing=name):
                    os.rename(os.path.join(folder, name), os.path.join(folder, 'aside'))
                    done = kelto_plot([], folder)
                    os.rename(os.path.join(folder, 'aside'), os.path.join(folder, name))
                    self.assertEqual(done.returncode, 1)
                    self.assertIn(f'kelto-plot: {name} is missing', done.stderr)
            done = kelto_plot(['no such folder'], folder)
            self.assertEqual((done.returncode, done.stderr), (1, 'kelto-plot: no such folder is not a folder\n'))
            done = kelto_plot([], folder, {'KELTO_PLOT_GDL': os.path.join(folder, 'no-gdl')})
            self.assertEqual(done.returncode, 1)
            self.assertIn('install the Debian package gnudatalanguage', done.stderr)
            done = kelto_plot(['--help'], folder)
            self.assertEqual(done.returncode, 0)
            self.assertTrue(done.stdout.startswith('Usage: kelto-plot [OPTION]... [FOLDER]\n'))
            self.assertFalse(any(n.endswith('.png') for n in os.listdir(folder)))


class Install(unittest.TestCase):
    """cmake --install into a temporary prefix; the installed programs, examples and pages."""

    def test_install(self):
        with tempfile.TemporaryDirectory() as top:
            # A relative prefix: the examples name the table by its absolute path all the same.
            prefix = os.path.join(top, 'prefix')
            done = subprocess.run([ARGS.cmake, '--install', ARGS.build, '--prefix', 'prefix'], cwd=top,
                                  capture_output=True, text=True, timeout=120)
            self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
            share = os.path.join(prefix, 'share', 'kelto')
            table = os.path.join(share, 'f0_it1992.txt')
            for path in ('bin/kelto', 'bin/kelto-plot'):
                self.assertTrue(os.access(os.path.join(prefix, path), os.X_OK), path)
            self.assertEqual(open(table).read(), open(os.path.join(ARGS.source, 'data', 'f0_it1992.txt')).read())

            # The examples name the installed table; their other answers are the repository's.
            examples = sorted(os.listdir(os.path.join(ARGS.source, 'examples')))
            self.assertEqual(sorted(os.listdir(os.path.join(share, 'examples'))), examples)
            for name in examples:
                mine = open(os.path.join(ARGS.source, 'examples', name)).read().split('\n')
                installed = open(os.path.join(share, 'examples', name)).read().split('\n')
                self.assertEqual(installed[1], table, name)
                self.assertEqual(installed[:1] + installed[2:], mine[:1] + mine[2:], name)

            # The installed kelto runs an installed example from a working folder of its own and
            # writes the reference output of the silicon run.
            work = os.path.join(top, 'work')
            os.mkdir(work)
            with open(os.path.join(share, 'examples', 'silicon.txt')) as answers:
                done = subprocess.run([os.path.join(prefix, 'bin', 'kelto')], stdin=answers, cwd=work,
                                      capture_output=True, text=True, timeout=120)
            self.assertEqual(done.returncode, 0, done.stdout[-500:])
            golden = os.path.join(ARGS.source, 'tests', 'golden', 'silicon')
            for name in ('kelto_spaghetti.dat', 'kelto_unweg.dat', 'kelto_spaghetti.mac', 'kelto_unweg.mac'):
                self.assertEqual(open(os.path.join(work, name)).read(),
                                 open(os.path.join(golden, name)).read(), name)

            # Both manual pages render without a warning.
            for page in ('kelto.1', 'kelto-plot.1'):
                path = os.path.join(prefix, 'share', 'man', 'man1', page)
                with self.subTest(page=page):
                    shown = subprocess.run(['man', '-l', path], capture_output=True, text=True,
                                           env={**os.environ, 'MANWIDTH': '80'})
                    self.assertEqual((shown.returncode, shown.stderr), (0, ''))
                    self.assertIn('EXIT STATUS', shown.stdout)
                    lint = subprocess.run(['groff', '-ww', '-z', '-man', path], capture_output=True, text=True)
                    self.assertEqual((lint.returncode, lint.stderr), (0, ''))

            # The installed kelto-plot finds its GDL routines under share/kelto.
            plot = os.path.join(prefix, 'bin', 'kelto-plot')
            help_text = kelto_plot(['--help'], work, program=plot)
            self.assertEqual(help_text.returncode, 0)
            if shutil.which('gdl'):
                done = kelto_plot(['--points', '3601', '--size', '400x300'], work, program=plot)
                self.assertEqual(done.returncode, 0, done.stderr)
                self.assertEqual(Picture(os.path.join(work, 'kelto_unweg.png')).width, 400)
            else:
                print('gdl is not installed: the installed kelto-plot was not run')


GROUPS = {
    'silicon': (Silicon, True),
    'small_run': (SmallRun, True),
    'broken_macro': (BrokenMacro, True),
    'command_line': (CommandLine, False),
    'install': (Install, False),
}


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument('group', choices=sorted(GROUPS))
    parser.add_argument('--kelto', required=True)
    parser.add_argument('--source', required=True)
    parser.add_argument('--build', required=True)
    parser.add_argument('--cmake', default='cmake')
    ARGS = parser.parse_args()
    case, needs_gdl = GROUPS[ARGS.group]
    if needs_gdl and not shutil.which('gdl'):
        print('SKIPPED: gdl is not installed (Debian package gnudatalanguage)')
        return SKIPPED
    suite = unittest.defaultTestLoader.loadTestsFromTestCase(case)
    result = unittest.TextTestRunner(stream=sys.stdout, verbosity=2).run(suite)
    return 0 if result.wasSuccessful() else 1


if __name__ == '__main__':
    sys.exit(main())
