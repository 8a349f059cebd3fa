#!/usr/bin/env python3
"""Tests of kelto-plot and of the installation, one group a run: GROUP --kelto K --source S --build B --cmake C.
The groups pictures and spectrum need GDL and exit with 77 (skipped) without it.  Standard library only."""
import argparse, math, os, re, shutil, struct, subprocess, sys, tempfile, unittest, zlib
from pathlib import Path

WHITE, BLACK, SHADE, GREY = (255,) * 3, (0,) * 3, (200, 235, 200), (160,) * 3
# The stick colours by direction or kind, and the darkest shade of the glitch map (relative strength 1).
COLOUR = {'in': (175, 0, 0), 'out': (0, 110, 214), 'top': (6, 100, 0), 'always': (145, 0, 173), 'glitch': BLACK}
DARK = (10, 20, 100)
RUN_FILES = ('kelto_spaghetti.dat', 'kelto_spaghetti.mac', 'kelto_unweg.dat', 'kelto_unweg.mac')
EVENTS = 'psi,psi_min,psi_max,h,k,l,coupling_h,coupling_k,coupling_l,F,F_coupling,strength,relative_strength,direction'
GLITCHES = 'energy_keV,wavelength,h,k,l,coupling_h,coupling_k,coupling_l,F,F_coupling,strength,relative_strength,kind'
GLITCHES_SHAPED = GLITCHES + ',width_eV,depth,order,rise,shares_h,shares_k,shares_l'  # the spectra of this version; earlier ones end at kind or order
MAP = ('psi_centre,psi_from,psi_to,h,k,l,coupling_h,coupling_k,coupling_l,F,F_coupling,strength,relative_strength,'
       'energy_top_keV,energy_cutoff_keV,kind')
MAP_DEEP = MAP + ',depth'  # the glitch maps of earlier versions, without the crystal
MAP_CRYSTAL = MAP_DEEP + ',crystal'  # the glitch maps of this version
WINDOWS = 'search,psi_start,psi_end,width'
FIT = 'energy_keV,depth,width_eV,matched,h,k,l,order,predicted_keV,residual_eV,line_depth,scan'
BLUE, ORANGE = COLOUR['out'], (240, 140, 30)  # the predicted spectrum, the measured scan behind it
ABOUT = '# kelto {}: crystal SI; primary {}; psi in the frame of the orientation matrix; {}'  # the first line of a table
# Answers to kelto: structure, a, hmax, lambda, symbol, psi range, primary reflection, dlambda.
SILICON = (4, 5.431, 7, 1.5406, 'si', (-180, 180), (0, 0, 2), 0.02)  # 446 curves, more than the 31 colours
COPPER = (3, 3.615, 3, 3.0, 'Cu', (-170, 175), (1, 1, 1), 0.05)  # 16 curves, 48 band crossings
REFUSALS = [  # command lines refused in a folder with a run and the tables of MALFORMED: arguments, status, message
    (['--azimuth', '10,-10'], 2, '--azimuth wants MIN below MAX'), (['--title'], 2, '--title needs a value'),
    (['--intensity', '5,5'], 2, '--intensity wants MIN below MAX'), (['.', 'x'], 2, 'one folder only'),
    (['--wavelength=1,x'], 2, '--wavelength wants MIN,MAX'), (['--points', '1'], 2, '--points wants a whole number'),
    (['--size', '100x100'], 2, '--size wants at least 300x200'), (['--radians=1'], 2, '--radians takes no value'),
    (['--colour'], 2, "unknown option '--colour'"), (['--energies', '30,5'], 2, '--energies wants MIN below MAX'),
    (['--map-scale', '0'], 2, '--map-scale wants a number above 0'), (['--map-scale=-1'], 2, '--map-scale wants a number above 0'),
    (['--map-scale', '1,2'], 2, '--map-scale wants a number above 0'),
    (['--clean=5,0.01'], 2, 'kelto finds the clean windows (kelto ... --clean WIDTH --windows kelto_windows.csv)'),
    (['no such folder'], 1, 'no such folder is not a folder\n'), (['empty'], 1, 'nothing to draw in empty'),
    (['--map', 'none.csv'], 1, 'none.csv is missing'),
    (['--spaghetti-png', 'none/s.png'], 1, 'cannot write none/s.png: the folder none is missing\n'),
    (['--unweg-png', 'kelto_unweg.dat/u.png'], 1, 'cannot write kelto_unweg.dat/u.png: kelto_unweg.dat is not a folder'),
    (['--spaghetti-png', 'empty'], 1, 'cannot write empty: it is a folder'),
    ([], 1, "GDL is not installed (no command 'no-gdl'): install the Debian package gnudatalanguage")]
MALFORMED = [  # option, table, its header and rows, the message
    ('--events', 'old.csv', EVENTS.replace('_min', '_lower').replace('_max', '_upper'), [],
     f'old.csv is not a kelto events table: its header line must be {EVENTS},width_deg (after a first line "# kelto ...", if '
     'any)'),
    ('--events', 'wide.csv', EVENTS + ',width_deg', [(2, 1, 4, 1, 1, 1, 0, 0, 2, 9, 9, 81, 1, 'in', -0.5)],
     'wide.csv:2: width_deg is -0.5, below 0'),
    ('--events', 'depth.csv', EVENTS + ',width_deg,depth', [(2, 1, 4, 1, 1, 1, 0, 0, 2, 9, 9, 81, 1, 'in', 0.5, 2)],
     'depth.csv:2: depth is 2, outside 0 to 1'),
    ('--events', 'band.csv', EVENTS, [(2, 3, 4, 1, 1, 1, 0, 0, 2, 9, 9, 81, 1, 'in')],
     'band.csv:2: psi is 2, outside psi_min to psi_max (3 to 4)'),
    ('--events', 'way.csv', EVENTS, [(2, 1, 4, 1, 1, 1, 0, 0, 2, 9, 9, 81, 1, 'up')],
     "way.csv:2: direction is 'up', not in, out, top or always"),
    ('--glitches', 'glitches.csv', GLITCHES, [(10, 1.2, 1, 1, 1, 0, 0, 2, 9, 9, 9, 1.5, 'glitch')],
     'glitches.csv:2: relative_strength is 1.5, outside 0 to 1'),
    ('--glitches', 'deep.csv', GLITCHES_SHAPED, [(10, 1.2, 1, 1, 1, 0, 0, 2, 9, 9, 9, 1, 'glitch', 0.2, 1.5, 2, 0, 0, 0, 0)],
     'deep.csv:2: depth is 1.5, outside 0 to 1'),
    ('--glitches', 'order.csv', GLITCHES_SHAPED, [(10, 1.2, 1, 1, 1, 0, 0, 2, 9, 9, 9, 1, 'glitch', 0.2, 0.5, 1.5, 0, 0, 0, 0)],
     "order.csv:2: order is '1.5', not a whole number"),
    ('--glitches', 'old glitches.csv', GLITCHES[:-5], [(10, 1.2, 1, 1, 1, 0, 0, 2, 9, 9, 9, 1)],
     'old glitches.csv is not a kelto glitch table: its header line must be energy_keV,'),
    ('--map', 'map.csv', MAP, [(0, -95, 80, 1, 1, 1, 0, 0, 2, 9, 9, 81, 1, 10, 2, 'line')],
     'map.csv:2: psi_from to psi_to (-95 to 80) reaches 90 degrees from psi_centre'),
    ('--map', 'cut.csv', MAP, [(0, -5, 8, 1, 1, 1, 0, 0, 2, 9, 9, 81, 1, 10, 12, 'line')],
     'cut.csv:2: energy_cutoff_keV is 12, above energy_top_keV (10)'),
    ('--windows', 'windows.csv', WINDOWS, [('events', 1, 2, 1), ('events', 5, 3, 2)],
     'windows.csv:3: psi_end is 3, not above psi_start (5)'),
    ('--windows', 'search.csv', WINDOWS, [('glitches', 1, 2, 1)],
     "search.csv:2: search is 'glitches', not events or energies"),
    ('--windows', 'short.csv', WINDOWS, [('events', 1, 2)], 'short.csv:2: 3 columns, not 4'),
    ('--spectrum', 'i0.csv', 'energy_keV,i0', [(10, 0.5), (11, -0.5)], 'i0.csv:3: i0 is -0.5, below 0')]
# The frame psi counts in as the first line of a table says it (None: a table without that line), and as the azimuth axis
# and the title at one psi put it: shortly when the words give a sense and a zero direction, else as they are.
FRAMES = [('psi right-handed about the primary from reference 1 -1 0 to the beam', 'about 0 0 2 from 1 -1 0, right-handed'),
          ('psi in the frame of the orientation matrix: left-handed about the primary from reference -1 1 0 to the reversed '
           'beam', 'about 0 0 2 from -1 1 0 to the reversed beam, left-handed'),
          ('psi in the frame of the orientation matrix', 'in the frame of the orientation matrix'),
          ('psi zero along [1, 0, 0] of the crystal, right-handed about 0 0 1', 'about 0 0 1 from 1 0 0, right-handed'),
          (None, None)]
# What counts against the windows as the first line of a windows table says it; the keys over the events and the glitch map,
# and the energy ranges of the dashed lines on the map (keV), every one of them, each with the limit of its own.
KEYS = [('no event above 0.0200 of the strongest, at least 5.000000 degrees wide',
         'no event above 2 % of the strongest, at least 5 deg wide', 'no glitch above 2 % of the strongest', []),
        ('no event deeper than 0.200000 of I0, at least 10.000000 degrees wide',
         'no event deeper than 20 % of I0, at least 10 deg wide', 'no glitch deeper than 20 % of I0', []),
        ('no glitch above 0.0100 of the strongest from 8.000000 to 8.100000 keV; windows at least 0.500000 degrees wide',
         'no event above 1 % of the strongest', 'no glitch above 1 % of the strongest from 8 to 8.1 keV (dashed lines)',
         ['8 8.1']),
        ('no glitch deeper than 0.500000 of I0 from 8.000000 to 8.100000 keV; windows at least 1.000000 degrees wide',
         'no event deeper than 50 % of I0', 'no glitch deeper than 50 % of I0 from 8 to 8.1 keV (dashed lines)', ['8 8.1']),
        ('no glitch above 0.0300 of the strongest from 7.000000 to 8.000000 keV; and no glitch above 0.0300 of the strongest '
         'from 8.900000 to 9.900000 keV; windows at least 0.500000 degrees wide', 'no event above 3 % of the strongest',
         'no glitch above 3 % of the strongest from 7 to 8 keV and from 8.9 to 9.9 keV (dashed lines)', ['7 8', '8.9 9.9']),
        ('no glitch deeper than 0.070000 of I0 from 7.000000 to 8.000000 keV; and no glitch above 0.0500 of the strongest '
         'from 8.900000 to 9.900000 keV; and no glitch above 0.0500 of the strongest from 10.000000 to 11.500000 keV; '
         'windows at least 0.500000 degrees wide', 'no event deeper than 7 % of I0', 'no glitch deeper than 7 % of I0 from '
         '7 to 8 keV and above 5 % of the strongest from 8.9 to 9.9 keV and from 10 to 11.5 keV (dashed lines)',
         ['7 8', '8.9 9.9', '10 11.5'])]
# The glitch map on 5 to 30 keV: psi_centre, energy_top_keV, energy_cutoff_keV, kind, relative strength, depth.  A line
# reaching -70.5 to 70.5 degrees, below 11.6 keV within 30 degrees; one from 29.5 to 170.5 degrees, from 13.05 keV up within
# 60 degrees; a line always; one from 15 keV, reaching -60 to 60 degrees.
SHADED = [(0, 10, 0, 'line', 1, 0.2187), (100, 10, 0, 'line', 0.3, 0.6), (150, 20, 20, 'always', 0.5, 0.9),
          (0, 15, 0, 'line', 0.2, 0.8)]
# Options, whether the table has depths, the lines drawn (of SHADED) and --map-scale: the scale of shades runs to the
# largest shade of the lines drawn, or to --map-scale.
SCALES = [([], True, [0, 1, 2, 3], None), (['--azimuth', '-60,60', '--energies', '5,14'], True, [0, 1], None),
          (['--azimuth=-60,60', '--energies=5,12'], True, [0], None),
          (['--azimuth=-30,30', '--energies=20,30'], True, [1], None), (['--map-scale', '1', '--energies=5,12'], True, [0, 1], 1),
          (['--map-scale=0.05'], True, [0, 1, 2, 3], 0.05), ([], False, [0, 1, 2, 3], None),
          (['--azimuth', '90,180'], False, [1, 2], None)]
# Measured scans over a predicted spectrum of 5 to 15 keV: the file, options, what standard output says of the points read
# (None: refused, status 1, 2 for the usage error) and what standard error says.
MEASURED = [
    ('crlf.txt', 'E/keV;I0\r\n6;40\r\n# beam lost\r\n14 ; 80.5 ; 3\r\n10\t75\r\n', [], '3 points from 6 to 14 keV', ''),
    ('ev.dat', 'energy intensity\n9000 1e3\nn/a n/a\n-2 5\n7000 2e3 # after the fill\n', ['--measured-ev'],
     '2 points from 7 to 9 keV', 'ev.dat: 2 lines skipped, not an energy above 0 and an intensity (the first is line 3)'),
    ('words.txt', 'energy intensity\nbeam lost\nno data\n', [], None,
     'words.txt has no point to draw: no line holds an energy above 0 and an intensity, two numbers separated by a '
     'comma, a semicolon, blanks or a tab (2 lines skipped)'),
    ('comments.txt', '# nothing yet\n\nenergy, i0\n', [], None, 'comments.txt has no point to draw: no line holds an '
     'energy above 0 and an intensity, two numbers separated by a comma, a semicolon, blanks or a tab (it holds nothing'),
    ('dark.txt', '6 0\n7 -1\n', [], None, 'dark.txt has no intensity above 0 to scale the scan by'),
    ('kev.txt', '6000 5\n7000 5\n', [], None, 'kev.txt has no point on the energy axis, 5 to 15 keV (its energies run '
     'from 6000 to 7000 keV: give --measured-ev if they are in eV)'),
    ('none.txt', None, [], None, 'none.txt is missing'),
    ('crlf.txt', None, ['--measured-ev=1'], None, '--measured-ev takes no value')]


class Picture:
    """kelto-plot's PNG (8-bit RGB, not interlaced, of SIZE, mostly white) as rows[y][x] = (r, g, b), and
    its frame, the outermost black lines across most of it, with the axis ranges XRANGE, YRANGE on it."""

    def __init__(self, path, size, white=0.5, xrange=(0, 1), yrange=(0, 1)):
        data, pos, idat, self.rows = Path(path).read_bytes(), 8, b'', []
        width, height, *form = struct.unpack('>IIBBBBB', data[16:29])  # IHDR, the first chunk
        assert data[:8] == b'\x89PNG\r\n\x1a\n' and form == [8, 2, 0, 0, 0], f'{path}: not 8-bit RGB'
        while pos < len(data):
            length, kind = struct.unpack('>I4s', data[pos:pos + 8])
            idat, pos = idat + (data[pos + 8:pos + 8 + length] if kind == b'IDAT' else b''), pos + 12 + length
        raw, stride, up = zlib.decompress(idat), 3 * width + 1, bytes(3 * width + 3)
        for y in range(height):  # three zero bytes in front of each line: "left" of the first pixel
            kind, line = raw[y * stride], bytearray(3) + raw[y * stride + 1:(y + 1) * stride]
            for i in range(3, stride + 2) if kind else ():  # the filters sub, up, average and Paeth
                a, b, c = line[i - 3], up[i], up[i - 3]
                pa, pb, pc = abs(b - c), abs(a - c), abs(a + b - 2 * c)
                line[i] = (line[i] + (a, b, (a + b) >> 1, a if pa <= min(pb, pc) else b if pb <= pc else c)[kind - 1]) & 255
            self.rows.append(list(zip(line[3::3], line[4::3], line[5::3])))
            up = line
        rows, (self.xmin, self.xmax), (self.ymin, self.ymax) = self.rows, xrange, yrange
        assert (width, height) == size and sum(r.count(WHITE) for r in rows) > white * width * height, (path, size)
        lines = [y for y in range(height) if rows[y].count(BLACK) >= 0.5 * width] or [0]  # curves break them
        self.top, self.bottom = min(lines), max(lines)
        columns = [x for x, c in enumerate(zip(*rows[self.top:self.bottom + 1])) if c.count(BLACK) >= 0.6 * len(c)]
        self.left, self.right = min(columns or [0]), max(columns or [0])
        assert self.right - self.left > 0.3 * width and self.bottom - self.top > 0.3 * height, f'no frame in {path}'

    def column(self, x):
        return round(self.left + (x - self.xmin) / (self.xmax - self.xmin) * (self.right - self.left))

    def row(self, y):
        return round(self.bottom - (y - self.ymin) / (self.ymax - self.ymin) * (self.bottom - self.top))

    def near(self, x, y, dx, dy):  # the colours in the box, less the background
        return {p for r in self.rows[y - dy:y + dy + 1] for p in r[x - dx:x + dx + 1]} - {WHITE}

    def stick(self, at, height, colour):  # from the axis up to HEIGHT at AT, a pixel of rounding either way
        x, y = self.column(at), self.row(height)
        run = max(([r[c] == colour for r in self.rows[y - 3:self.bottom]] for c in (x - 1, x, x + 1)), key=sum)
        assert any(run) and abs(run.index(True) - 3) <= 1 and sum(run) > 0.8 * len(run), at


def run(command, env=(), **options):
    return subprocess.run(command, capture_output=True, text=True, timeout=300, env={**os.environ, **dict(env)}, **options)


def kelto_plot(args, cwd, env=(), program=None):
    return run([program or Path(ARGS.source, 'plot/kelto-plot'), *args], env, cwd=cwd)


def run_kelto(folder, structure, a, hmax, lam, symbol, psi, primary, dlambda):
    Path(folder).mkdir(exist_ok=True)
    answers = [structure, Path(ARGS.source, 'data/f0_it1992.txt'), a, *[hmax] * 3, lam, symbol, *psi, *primary, dlambda]
    done = run([ARGS.kelto], input=''.join(f'{a}\n' for a in answers), cwd=folder)
    assert done.returncode == 0, f'kelto failed in {folder}: {done.stdout[-500:]}'


def table(path, header, rows, about=None):  # ABOUT: the first line, "# kelto ..."
    Path(path).write_text('\n'.join([about] * bool(about) + [header] + [','.join(map(str, r)) for r in rows]) + '\n')


def glitch_line(centre, top, cutoff, relative, kind='line', emax=30):
    """A row of the glitch map: the line E(psi) = sqrt(Ec^2 + (Et^2 - Ec^2) / cos^2(psi - centre)) up to EMAX."""
    reach = math.degrees(math.acos(math.sqrt((top ** 2 - cutoff ** 2) / (emax ** 2 - cutoff ** 2)))) * (kind == 'line')
    return (centre, centre - reach, centre + reach, 1, 1, 1, 0, 0, 2, 9, 9, 81 * relative, relative, top, cutoff, kind)


def luminance(rgb):
    return sum(w * (c / 255) ** 2.2 for w, c in zip((0.2126, 0.7152, 0.0722), rgb))


def crossings(folder):  # (psi1, psi2) of every band crossing
    return [tuple(map(float, r.split()[:2])) for r in Path(folder, 'kelto_unweg.dat').read_text().splitlines()[1:]]


def highest_peak(folder, azimuth, npts):
    """The top of the Umweg pattern on the azimuth grid: each crossing a Gaussian 10000/b6 high, 1/e half-width
    b6 = |psi2 - psi1| grid points, sampled a point apart from b7 - 3 b6 to b7 + 3 b6 (b7 its centre), added up."""
    pattern = [0.0] * npts
    for b3, b4 in (((psi - azimuth[0]) / (azimuth[1] - azimuth[0]) * npts for psi in c) for c in crossings(folder)):
        b6, b7 = abs(b4 - b3), (b4 + b3) / 2
        start, end = (min(max(b7 + side * 3 * b6, 0), npts - 1) for side in (-1, 1))
        for k in (start + j for j in range(int(end - start) + 1) if b6):
            pattern[int(k)] += 10000 / b6 * math.exp(-(k - b7) ** 2 / b6 ** 2)
    return max(pattern)


class KeltoPlot(unittest.TestCase):
    def check_run(self, folder, size, azimuth, wavelength, npts, intensity, answers, colours,
                  pngs=('kelto_spaghetti.png', 'kelto_unweg.png')):
        """The band lines, a curve through each band crossing, COLOURS dark curve colours at least; the Umweg peaks and
        labels at the crossings, the highest as high as the pattern's on INTENSITY (default: 0 to 1.1 times that)."""
        f = Picture(Path(folder, pngs[0]), size, 0.3, azimuth, wavelength)
        lam, half, span = answers[3], answers[7] / 2, range(f.left + 3, f.right - 2)
        for y in f.row(lam - half), f.row(lam), f.row(lam + half):  # black, each within a pixel, dashed at most
            self.assertGreater(sum(BLACK in (r[x] for r in f.rows[y - 1:y + 2]) for x in span), len(span) / 5, y)
        for psi, edge in ((p, e) for c in crossings(folder) for p, e in zip(c, (lam - half, lam + half))):
            self.assertTrue(f.near(f.column(psi), f.row(edge), 2, 2) - {BLACK}, f'no curve at psi {psi}, lambda {edge}')
        found = {p for r in f.rows[f.top + 1:f.bottom] for p in r[f.left + 1:f.right]} - {WHITE, BLACK}
        dark = [luminance(rgb) < 0.45 for rgb in found]
        self.assertTrue(colours <= len(found) <= 31 and all(dark), f'curve colours {found}')
        highest = highest_peak(folder, azimuth, npts)
        f = Picture(Path(folder, pngs[1]), size, 0.5, azimuth, intensity or (0, 1.1 * highest))
        height, inside = f.bottom - f.top, slice(f.left + (f.right - f.left) // 30, f.right - (f.right - f.left) // 30)
        for centre in ((psi1 + psi2) / 2 for psi1, psi2 in crossings(folder)):
            self.assertTrue(f.near(f.column(centre), f.bottom - height // 6 - 1, 2, height // 6 - 1), centre)
        labels = [list(map(int, l.split()[1:5])) for l in Path(folder, 'drawn/kelto_unweg.labels').read_text().split('\n')
                  if l.startswith('label')]  # the pattern below the labels over its peaks
        drawn = next(y for y in range(f.top + height // 25, f.bottom) if {p for x, p in enumerate(f.rows[y]) if inside.start <= x
                     < inside.stop and not any(a <= x <= c and b <= size[1] - y <= d for a, b, c, d in labels)} - {WHITE})
        self.assertLessEqual(abs(drawn - f.row(highest)), 2, f'highest peak at row {drawn}, not {f.row(highest)}')
        return f

    def shaded(self, f, pieces):
        """The columns inside the frame F with shading are those of the PIECES (degrees), give or take a pixel at an end."""
        shaded = {x for x in range(f.left + 1, f.right) if any(r[x] == SHADE for r in f.rows[f.top + 1:f.bottom])}
        ends = {f.column(end) + d for piece in pieces for end in piece for d in (-1, 0, 1)}
        self.assertEqual(shaded - ends, {x for a, b in pieces for x in range(f.column(a), f.column(b) + 1)} - ends)

    def pictures(self):
        """Hand-made tables alone, with and without their first line; silicon with every default, seeds, the default
        title; copper with every option."""
        # psi, psi_min, psi_max, relative strength, direction: 150 of strength 0, 190 outside the azimuths
        events = [(-100, -101, -99, 1.0, 'in'), (-90, -90.5, -89.5, 0.5, 'out'), (0, -50, 50, 0.6, 'top'),
                  (25, 24, 26, 0.55, 'out'), (-178, -178.2, -141, 0.9, 'in'), (60, 60, 60, 0.7, 'always'),
                  (150, 149, 151, 0, 'in'), (190, 189, 191, 0.3, 'in')]
        windows = {'events': [(-141, -101), (170, 200)], 'energies': [(-10, 10), (175, 185)]}  # as kelto lists them
        pieces = {'events': [(-141, -101), (170, 180), (-180, -160)], 'energies': [(-10, 10), (175, 180), (-180, -175)]}
        glitches = [(8, 'glitch', 1), (11, 'glitch', 0.25), (6.5, 'always', 0.5)]  # energy, kind, relative strength
        # From 5 to 30 keV: a strong line and the same line weaker, listed after it; a weak line reaching past
        # -180 degrees; lines always, from the bottom of the range and from their cut-off at 20 keV.
        lines = [glitch_line(0, 10, 0, 1), glitch_line(0, 10, 0, 0.05), glitch_line(-120, 12, 6, 0.1),
                 glitch_line(90, 3, 3, 0.6, 'always'), glitch_line(135, 20, 20, 0.6, 'always')]
        about = ('multiple-beam events', '0 0 2', 'wavelength 1.540600 angstrom; band 0.020000 angstrom; psi -180.000000 '
                 'to 180.000000 degrees')
        with tempfile.TemporaryDirectory() as top:
            sticks, titled, si, cu, shots = Path(top), Path(top, 'titled'), Path(top, 'si'), Path(top, 'copper run'), []
            titled.mkdir()
            for folder in sticks, titled:
                table(folder / 'kelto_events.csv', EVENTS, [(*e[:3], 1, 1, 1, -1, -1, 1, 9, 9, 99, *e[3:]) for e in events],
                      ABOUT.format(*about))
                table(folder / 'kelto_windows.csv', WINDOWS, [(s, a, b, b - a) for s in windows for a, b in windows[s]])
            table(sticks / 'kelto_glitches.csv', GLITCHES,
                  [(e, 12.398 / e, 2, 2, 0, -1, 1, 1, 9, 9, 9, r, k) for e, k, r in glitches])  # no first line
            table(sticks / 'kelto_glitch_map.csv', MAP, lines, ABOUT.format(
                'glitch map', '1 1 1', 'psi -180.000000 to 180.000000 degrees; energies 5.000000 to 30.000000 keV'))
            done = kelto_plot(['--size=600x400', '--events-png', 'e.png'], sticks)
            listed = {s: [f'kelto-plot: clean azimuths {a:.3f} to {b:.3f} degrees ({b - a:.3f} wide)' for a, b in w]
                      for s, w in windows.items()}
            self.assertEqual((done.returncode, done.stdout.split('\n')), (0, [
                'kelto-plot: wrote e.png', *listed['events'], 'kelto-plot: wrote kelto_glitches.png',
                'kelto-plot: wrote kelto_glitch_map.png', *listed['energies'], '']), done.stderr)
            # Sticks at their azimuth as tall as their relative strength in the colour of their direction, strength 0 a
            # grey mark, none beyond the frame; the clean windows of the events shaded, at both ends across the seam.
            f = Picture(sticks / 'e.png', (600, 400), 0.05, (-180, 180), (0, 1.15))
            for psi, _, _, height, direction in events[:6]:
                f.stick(psi, height, COLOUR[direction])
            self.assertEqual(f.near(f.column(150), f.bottom - 3, 1, 2) - {BLACK}, {GREY})
            self.assertFalse(set(COLOUR.values()) - {BLACK} & {p for r in f.rows[f.top:f.bottom] for p in r[f.right + 1:]})
            self.shaded(f, pieces['events'])
            # Labels in the colour of their stick, strongest first, none crossing a stick or a label or leaving the frame.
            for psi, height, direction, labelled in ((-100, 1, 'in', 1), (0, 0.6, 'top', 1), (60, 0.7, 'always', 1),
                                                     (-90, 0.5, 'out', 0), (25, 0.55, 'out', 0), (-178, 0.9, 'in', 0)):
                label = f.near(f.column(psi), f.row(height) - 14, 2, 10) - {SHADE, BLACK}
                self.assertEqual(label, {COLOUR[direction]} if labelled else set(), f'label of the event at {psi}')
            # The title from the first line: the wavelength as an energy, hc / lambda.
            done = kelto_plot(['--size=600x400', '--title',
                               'Multiple-beam events of SI, primary 0 0 2\t8.0478 keV (1.5406 A), band 0.02 A'], titled)
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertTrue((titled / 'kelto_events.png').read_bytes() == (sticks / 'e.png').read_bytes(), 'not that title')
            f = Picture(sticks / 'kelto_glitches.png', (600, 400), 0.5, (6.275, 11.225), (0, 1.15))  # energies widened 5 %
            for energy, kind, height in glitches:
                f.stick(energy, height, COLOUR[kind])
            # The map over the energies of its first line: the strong line drawn over its weaker copy, the weak line light
            # and cut at the frame, the lines always from the larger of their cut-off and 5 keV up; windows shaded.
            f = Picture(sticks / 'kelto_glitch_map.png', (600, 400), 0.5, (-180, 180), (5, 30))
            for psi in -60, -30, 0, 30, 60:
                energy = 10 / math.cos(math.radians(psi))
                self.assertEqual(f.near(f.column(psi), f.row(energy), 1, 1) - {SHADE}, {DARK}, psi)
            weak = f.near(f.column(-120), f.row(12), 1, 1) - {SHADE}
            self.assertTrue(len(weak) == 1 and 0.4 < luminance(*weak) < 0.95, weak)
            self.assertEqual({p for r in f.rows for p in r[:f.left]} - {WHITE, BLACK}, set(), 'drawn left of the frame')
            for psi, energies, drawn in (90, (5.5, 29), [True, True]), (135, (19, 20.5, 29), [False, True, True]):
                self.assertEqual([bool(f.near(f.column(psi), f.row(e), 1, 0) - {SHADE}) for e in energies], drawn, psi)
            self.shaded(f, pieces['energies'])
            # Same files, seed and title: the same pictures; the default title is the table's.
            run_kelto(si, *SILICON)
            (si / 'drawn').mkdir()
            for args in [], ['--seed', '2'], ['--seed', '1']:
                done = kelto_plot(args, si, {'KELTO_PLOT_TABLES': 'drawn'})
                self.assertEqual((done.returncode, done.stderr), (0, ''))
                shots.append([(si / f'kelto_{p}.png').read_bytes() for p in ('spaghetti', 'unweg')])
            self.assertTrue(shots[0] == shots[2], 'pictures differ: not reproducible')
            # The survey's pictures: the frame named, the title and the beam, labels inside the frame clear of each other.
            beam = 'lambda 1.5406 A (8.0478 keV), band 1.5306 to 1.5506 A'
            for name, what in ('spaghetti', 'Dispersion curves'), ('unweg', 'Approximate Umweg pattern'):
                lines = (si / f'drawn/kelto_{name}.labels').read_text().split('\n')[:-1]
                boxes = [(*map(int, l.split()[1:5]), l.split(' ', 5)[5]) for l in lines[1:]]
                self.assertEqual([lines[0]] + [b[4] for b in boxes[:2]], ['Azimuthal angle psi about 0 0 2 in the frame of '
                                 'the orientation matrix', f'{what} of SI, primary 0 0 2', beam])
                f = Picture(si / f'kelto_{name}.png', (1200, 800), 0.3)
                self.assertGreater(len(boxes), 60, name)
                for i, (x0, y0, x1, y1, text) in enumerate(boxes[2:]):
                    self.assertTrue(f.left < x0 and x1 < f.right and 800 - f.bottom < y0 and y1 < 800 - f.top, text)
                    self.assertFalse([b for b in boxes[i + 3:] if b[0] <= x1 and x0 <= b[2] and b[1] <= y1 and y0 <= b[3]],
                                     text)
                self.assertEqual({p for r in f.rows[:f.top] for p in r} - {WHITE, BLACK}, set(), 'colour above the frame')
            self.assertEqual([shots[0][0] == shots[1][0], shots[0][1] == shots[1][1]], [False, True], 'seed: labels only')
            lam, half = SILICON[3], max(5 * SILICON[7], 0.05 * SILICON[3])  # the default axes; a point every 0.02 degree
            self.check_run(si, (1200, 800), (-180, 180), (lam - half, lam + half), 18001, None, SILICON, 31)
            # Every option; the units change the annotation of the azimuth axis, nothing inside the frame.
            run_kelto(cu, *COPPER)
            options = ['--azimuth', '-170,175', '--points=7001', '--wavelength', '2.8,3.3', '--intensity', '0,1500',
                       '--size', '700x500', '--title', 'copper at 3 A', '--spaghetti-png', 's.png', 'copper run']
            (cu / 'drawn').mkdir()
            for units, env in ('radians', {'GDL_IS_FUSSY': '1'}), ('degrees', {'KELTO_PLOT_TABLES': 'copper run/drawn'}):
                done = kelto_plot(options + [f'--{units}', f'--unweg-png={units}.png'], top, env)
                self.assertEqual(done.stdout, f'kelto-plot: wrote s.png\nkelto-plot: wrote {units}.png\n', done.stderr)
            f = self.check_run(cu, (700, 500), (-170, 175), (2.8, 3.3), 7001, (0, 1500), COPPER, 2,
                               ('../s.png', '../degrees.png'))
            radians, inside = Picture(Path(top, 'radians.png'), (700, 500)).rows, slice(f.left + 21, f.right - 20)
            same = [[r[inside] for r in rows[f.top + 20:f.bottom - 19]] for rows in (f.rows, radians)]
            self.assertEqual([same[0] == same[1], f.rows[f.bottom + 3:] == radians[f.bottom + 3:]], [True, False])
            # A line GDL cannot compile, or cannot run, is named; that picture is not written, the other one is.
            for folder, macro, other, start, broken in (
                    (si, 'kelto_spaghetti.mac', 'u', 'a3 =', 'a3 = 5.4310/sqrt(0.125/(cos(0.785-a0)^2)+1.00'),
                    (cu, 'kelto_unweg.mac', 's', 'b6=', 'b6=absolute(b4-b3)')):
                lines = (folder / macro).read_text().split('\n')
                where = [i for i, t in enumerate(lines) if t.strip().startswith(start)][1]
                (folder / macro).write_text('\n'.join(lines[:where] + [broken] + lines[where + 1:]))
                done = kelto_plot([folder.name, '--points', '3601', '--spaghetti-png=s.png', '--unweg-png=u.png'], top)
                self.assertEqual((done.returncode, done.stdout), (1, f'kelto-plot: wrote {other}.png\n'), done.stderr)
                self.assertTrue(f'kelto-plot: {folder.name}/{macro}:{where + 1}: {broken} (GDL: ' in done.stderr and
                                f'kelto-plot: 1 line of {folder.name}/{macro} failed in GDL' in done.stderr, done.stderr)
        self.windows_as_they_are()
        self.windows_as_kelto_lists_them()
        self.ranges_in_colours()

    def windows_as_they_are(self):
        """Two windows a tenth of a degree apart (a fifth of a pixel), an event between them: two bands, the gap clear; on
        the glitch map only between the energies of the search; a picture into a folder that is not there: refused."""
        event = (20.05, 20, 20.1, 1, 1, 1, -1, -1, 1, 9, 9, 30, 0.3, 'in')
        pairs = [(s, a, b, b - a) for s in ('events', 'energies') for a, b in ((10, 20), (20.1, 40))]
        with tempfile.TemporaryDirectory() as top:
            folder = Path(top)
            table(folder / 'kelto_events.csv', EVENTS, [event])
            table(folder / 'kelto_glitch_map.csv', MAP, [glitch_line(-120, 12, 0, 1)])
            table(folder / 'kelto_windows.csv', WINDOWS, pairs, '# kelto clean azimuth windows: crystal SI; primary 1 1 1; '
                  'no glitch deeper than 0.500000 of I0 from 10.000000 to 20.000000 keV; windows at least 0.5 degrees wide')
            done = kelto_plot(['--size=600x400', '--events-png', 'gone/e.png'], folder)
            self.assertEqual((done.returncode, done.stdout, done.stderr, list(folder.glob('**/*.png'))),
                             (1, '', 'kelto-plot: cannot write gone/e.png: the folder gone is missing\n', []))
            done = kelto_plot(['--size=600x400', '--energies=5,30'], folder)
            self.assertEqual(done.returncode, 0, done.stderr)
            for name, yrange, heights in (('events', (0, 1.15), [0.9]), ('glitch_map', (5, 30), [12, 19])):
                f = Picture(folder / f'kelto_{name}.png', (600, 400), 0.05, (-180, 180), yrange)
                for height in heights:  # clear at the event, shaded across the rest of both windows
                    row, gap = f.rows[f.row(height)], f.column(20.05)
                    clear = [x for x in range(f.column(10) + 2, f.column(40) - 1) if row[x] != SHADE]
                    self.assertTrue(clear and all(abs(x - gap) <= 1 for x in clear), (name, height, clear, gap))
            # The map: nothing shaded above or below the energies of the search (a row of rounding), dashed lines on them.
            shaded = [y for y in range(f.top + 1, f.bottom) if SHADE in f.rows[y][f.left + 1:f.right]]
            self.assertTrue(abs(shaded[0] - f.row(20)) <= 1 and abs(shaded[-1] - f.row(10)) <= 1, (shaded, f.row(20)))
            for energy in 10, 20:
                self.assertIn(COLOUR['top'], f.near(f.column(30), f.row(energy), 30, 0), energy)
            self.assertEqual(f.near(f.column(-120), f.row(12), 1, 1), {DARK}, 'one range: its lines shaded by depth')
            f = Picture(folder / 'kelto_events.png', (600, 400), 0.05, (-180, 180), (0, 1.15))
            f.stick(20.05, 0.3, COLOUR['in'])

    def ranges_in_colours(self):
        """Windows clean from 10 to 12 and from 20 to 24 keV: each range's dashed lines, the stretches of the lines inside
        it and its name above the frame in its colour, the windows shaded in both ranges and nowhere else; the deepest line
        drawn the darkest, on any scale that ends below it."""
        green, red = COLOUR['top'], COLOUR['in']
        with tempfile.TemporaryDirectory() as top:
            folder = Path(top)
            table(folder / 'kelto_glitch_map.csv', MAP_DEEP, [(*glitch_line(0, 6, 0, 1), 0.2), (*glitch_line(180, 12, 0, 1), 0.05)])
            table(folder / 'kelto_windows.csv', WINDOWS, [('energies', -30, 30, 60)], '# kelto clean azimuth windows: crystal '
                  'SI; primary 1 1 1; no glitch above 0.0300 of the strongest from 10.000000 to 12.000000 keV; and no glitch '
                  'above 0.0300 of the strongest from 20.000000 to 24.000000 keV; windows at least 0.500000 degrees wide')
            for options, dark in ([], True), (['--map-scale', '0.1'], True), (['--map-scale=1'], False):
                done = kelto_plot(['--size=800x500', '--energies=5,30', *options], folder)
                self.assertEqual(done.returncode, 0, done.stderr)
                f = Picture(folder / 'kelto_glitch_map.png', (800, 500), 0.5, (-180, 180), (5, 30))
                line = {e: f.near(f.column(math.degrees(math.acos(6 / e))), f.row(e), 1, 1) - {SHADE} for e in (8, 11, 15, 22)}
                self.assertEqual([line[11], line[22], line[8] == line[15] == {DARK}], [{green}, {red}, dark], options)
                self.assertTrue(dark or luminance(*line[8]) > 0.3, line[8])
            for energy, colour in (10, green), (12, green), (20, red), (24, red):
                self.assertIn(colour, f.near(f.column(-100), f.row(energy), 20, 1), energy)
            self.assertEqual([SHADE in f.near(f.column(0), f.row(e), 0, 0) for e in (8, 11, 15, 22, 27)],
                             [False, True, False, True, False])
            self.assertTrue({green, red} <= {p for r in f.rows[:f.top - 2] for p in r}, 'no range named in the key')

    def windows_as_kelto_lists_them(self):
        """The windows listed as kelto lists them, digit for digit: those of a search of the events all, in the order of
        the table; of the energies the widest ten, then how many more; on cases where the widths are not the differences
        of the rounded ends."""
        window = re.compile(r'^ +(-?[0-9.]+) to +(-?[0-9.]+) degrees, +([0-9.]+) wide$')
        more = re.compile(r'^  \(([0-9]+) more windows from ([0-9.]+) to ([0-9.]+) degrees wide not shown')
        with tempfile.TemporaryDirectory() as top:
            for name, options, drawn in (
                    ('events', ['--wavelength', '1.5406', '--band', '0.01', '--events', 'kelto_events.csv', '--clean', '1'],
                     'kelto_events.png'),
                    ('energies', ['--clean-energies', '8.9,9.3'], 'kelto_glitch_map.png')):
                folder = Path(top, name)
                folder.mkdir()
                done = run([ARGS.kelto, '--crystal', 'Si', '--primary', '0,0,2' if name == 'events' else '2,2,0', *options,
                            '--windows', 'kelto_windows.csv', '-o', folder])
                self.assertEqual(done.returncode, 0, done.stderr)
                printed = [window.match(line) for line in done.stdout.split('\n')]
                printed = [m.groups() for m in printed if m]
                rest = [m.groups() for m in map(more.match, done.stdout.split('\n')) if m]
                self.assertTrue(any(f'{float(b) - float(a):.3f}' != w for a, b, w in printed), 'no window to round')
                self.assertEqual(len(rest), name == 'energies', done.stdout)
                if name == 'energies':
                    table(folder / 'kelto_glitch_map.csv', MAP, [glitch_line(0, 10, 0, 1)])
                done = kelto_plot(['--size=600x400', folder.name], top)
                self.assertEqual(done.stdout.split('\n'), [f'kelto-plot: wrote {name}/{drawn}'] + [
                    f'kelto-plot: clean azimuths {a} to {b} degrees ({w} wide)' for a, b, w in printed] + [
                    f'kelto-plot: {n} more windows from {a} to {b} degrees wide not shown' for n, a, b in rest] + [''],
                    done.stderr)

    def spectrum(self):
        """The predicted spectrum alone and over a measured scan; the measured scans read and refused; glitch sticks
        and glitch lines shaded by depth."""
        about = ABOUT.format('predicted I0 spectrum', '2 2 0', 'at psi 15.000000 degrees; energies 5.000000 to 15.000000 '
                             'keV; harmonics to 1')
        # The prediction: 1 but for a dip to 0.2 at 10 keV.  The measurement, in eV, unsorted, its I0 rising threefold from
        # 5 to 15 keV, a point every 5 eV: the same dip, dips of its own to 0.5 at 6 keV and to 0.3 at 14 keV.
        predicted = [(e / 1000, 0.2 if e == 10000 else 1) for e in range(5000, 15001, 5)]
        measured = [(e, (1 + 2 * (e - 5000) / 10000) * {6000: 0.5, 10000: 0.2, 14000: 0.3}.get(e, 1))
                    for e in range(5000, 15001, 5)]
        scan, separators = ['# I0 of the energy scan', 'energy_eV;I0'], ' ,;\t'
        for e, i in sorted(measured, key=lambda point: point[0] // 5 * 7 % 2001):  # shuffled
            scan += [f'{e}{separators[e // 5 % 4]}{1e5 * i:.1f}' + ' # top-up' * (e % 7 == 0)]
            scan += ['bad line'] * (e % 1000 == 0)
        deep = [(7, 0.8, 0.1, 'glitch', 1), (9, 0.8, 0.5, 'glitch', 2), (11, 0.8, 0.9, 'glitch', 3),
                (6, 0.8, 0.6, 'always', 1), (12.5, 0.9, 0.3, 'glitch', 1)]  # energy, relative strength, depth, kind, order
        with tempfile.TemporaryDirectory() as top:
            folder = Path(top)
            table(folder / 'kelto_spectrum.csv', 'energy_keV,i0', predicted, about)
            (folder / 'scan.txt').write_text('\n'.join(scan) + '\n')
            table(folder / 'kelto_glitches.csv', GLITCHES_SHAPED,
                  [(e, 12.398 / e, 2, 2, 0, -1, 1, 1, 9, 9, 9, r, k, 0.5, d, n, 0, 0, 0, 0) for e, r, d, k, n in deep])
            # A double monochromator's second crystal at psi 200, outside the map: a level at 20 keV across it.
            table(folder / 'kelto_glitch_map.csv', MAP_CRYSTAL, [(*glitch_line(0, 10, 0, 1), 0.05, 1),
                                                                  (*glitch_line(90, 12, 0, 0.05), 1, 1),
                                                                  (200, -180, 180, *glitch_line(0, 20, 0, 0.5)[3:15], 'level', 0.5, 2)])
            for name, text, options, points, message in MEASURED:  # read and drawn, or refused with no picture at all
                if text is not None:
                    (folder / name).write_bytes(text.encode())
                done = kelto_plot(['--measured', name, *options], folder)
                self.assertEqual((done.returncode, done.stdout), (0, f'kelto-plot: wrote kelto_glitches.png\n'
                                 f'kelto-plot: wrote kelto_glitch_map.png\nkelto-plot: wrote kelto_spectrum.png\n'
                                 f'kelto-plot: measured {name}: {points}, {points.split()[0]} on the energy axis\n')
                                 if points else (2 if '=' in ''.join(options) else 1, ''), done.stderr)
                lines = done.stderr.split('\n')  # a refusal one line, a usage error with its hint
                self.assertEqual((lines[0][:len(message) + 12], len(lines) - (done.returncode == 2)),
                                 (f'kelto-plot: {message}' if message else '', 2 if message else 1), done.stderr)
                drawn = ['kelto_glitch_map.png', 'kelto_glitches.png', 'kelto_spectrum.png'] if points else []
                self.assertEqual(sorted(p.name for p in folder.glob('*.png')), drawn, name)
                for picture in folder.glob('*.png'):
                    picture.unlink()
            # kelto's own: the title from its first line, psi with its frame; the curve across the frame down to its lowest
            # point.
            (folder / 'si').mkdir()
            done = run([ARGS.kelto, '--crystal', 'Si', '--primary', '2,2,0', '--spectrum', 'si/kelto_spectrum.csv',
                        '--at-psi', '15', '--reference', '1,-1,0', '--energies', '5,30', '-q'], cwd=folder)
            self.assertEqual(done.returncode, 0, done.stderr)
            for options in ['--title', 'Predicted I0 of Si, primary 2 2 0, at psi 15 deg about 2 2 0 from 1 -1 0, right-handed'
                            '\t5 to 30 keV, sigma polarisation, no divergence',
                            '--spectrum-png=t.png'], []:
                done = kelto_plot(options + ['--size=600x400', 'si'], folder)
                self.assertEqual((done.returncode, done.stderr), (0, ''))
            self.assertEqual((folder / 't.png').read_bytes(), (folder / 'si/kelto_spectrum.png').read_bytes())
            rows = (folder / 'si/kelto_spectrum.csv').read_text().split('\n')[2:-1]
            rows = [tuple(map(float, r.split(','))) for r in rows]
            f, lowest = Picture(folder / 't.png', (600, 400), 0.5, (5, 30), (0, 1.1)), min(rows, key=lambda r: r[1])
            self.assertIn(BLUE, f.near(f.column(lowest[0]), f.row(lowest[1]), 1, 1), lowest)
            inside = range(f.left + 15, f.right - 14)  # clear of the ticks, which are drawn over the curve at 1
            self.assertTrue(all(BLUE in (r[x] for r in f.rows) for x in inside), 'not across the frame')
            (folder / 'alone').mkdir()
            done = kelto_plot(['--measured', 'scan.txt', 'alone'], folder)
            self.assertEqual(done.returncode, 1)
            self.assertIn('--measured draws a measured scan behind the predicted spectrum, and alone holds no', done.stderr)
            # Over the measured scan: both dips of its own as deep as they are at either end of the rising I0, the shared
            # dip in blue over it, both at 1 between the dips.
            (folder / 'kelto_glitches.csv').rename(folder / 'glitches.csv')
            (folder / 'kelto_glitch_map.csv').rename(folder / 'map.csv')
            done = kelto_plot(['--measured', 'scan.txt', '--measured-ev', '--size', '800x500'], folder)
            self.assertEqual((done.returncode, done.stdout.split('\n')[1:]), (0, [
                'kelto-plot: measured scan.txt: 2001 points from 5 to 15 keV, 2001 on the energy axis', '']))
            self.assertEqual(done.stderr, 'kelto-plot: scan.txt: 11 lines skipped, not an energy above 0 and an intensity '
                             f'(the first is line {scan.index("bad line") + 1})\n')
            f = Picture(folder / 'kelto_spectrum.png', (800, 500), 0.5, (5, 15), (0, 1.1))
            for energy, height, colour in ((6, 0.5, ORANGE), (14, 0.3, ORANGE), (10, 0.2, BLUE), (8, 1, ORANGE),
                                           (8, 1, BLUE)):
                self.assertIn(colour, f.near(f.column(energy), f.row(height), 1, 2), (energy, height))
            self.assertNotIn(BLUE, f.near(f.column(6), f.row(0.5), 2, 2))
            # Shifted by an offset of 100 eV (measured minus predicted): its own dip at 5.9 keV, nothing left at 6.
            done = kelto_plot(['--measured', 'scan.txt', '--measured-ev', '--offset=100', '--size', '800x500'], folder)
            self.assertIn('on the energy axis, shifted by -100 eV\n', done.stdout)
            f = Picture(folder / 'kelto_spectrum.png', (800, 500), 0.5, (5, 15), (0, 1.1))
            self.assertEqual([ORANGE in f.near(f.column(e), f.row(0.5), 1, 2) for e in (5.9, 6)], [True, False])
            # The prediction alone: no orange; the title that of its first line.
            done = kelto_plot(['--size', '800x500', '--title',
                               'Predicted I0 of SI, primary 2 2 0, at psi 15 deg in the frame of the orientation matrix\t5 to 15 keV',
                               '--spectrum-png', 'titled.png'], folder)
            self.assertEqual((done.returncode, done.stdout), (0, 'kelto-plot: wrote titled.png\n'), done.stderr)
            done = kelto_plot(['--size', '800x500'], folder)
            self.assertEqual((done.returncode, done.stderr), (0, ''))
            self.assertEqual((folder / 'titled.png').read_bytes(), (folder / 'kelto_spectrum.png').read_bytes())
            f = Picture(folder / 'titled.png', (800, 500), 0.5, (5, 15), (0, 1.1))
            self.assertEqual([c in {p for r in f.rows for p in r} for c in (BLUE, ORANGE)], [True, False])
            self.assertIn(BLUE, f.near(f.column(10), f.row(0.2), 1, 2))
            # Sticks as deep as their depth, on an axis up to 1.15 times the deepest, each order in its colour.
            done = kelto_plot(['--glitches', 'glitches.csv', '--map', 'map.csv', '--size', '800x500'], folder)
            self.assertEqual((done.returncode, done.stderr), (0, ''))
            f = Picture(folder / 'kelto_glitches.png', (800, 500), 0.5, (5.675, 12.825), (0, 1.15 * 0.9))  # widened 5 %
            for energy, _, depth, kind, order in deep[:5]:
                f.stick(energy, depth, {1: BLACK, 2: BLUE, 3: COLOUR['top']}[order] if kind == 'glitch' else COLOUR['always'])
            # Lines by depth, not by relative strength: the strongest line shallow and light, the weak one deep and dark.
            f = Picture(folder / 'kelto_glitch_map.png', (800, 500), 0.5, (-180, 180), (10, 30))
            strong, weak = (f.near(f.column(c + 30), f.row(top / math.cos(math.radians(30))), 1, 1) for c, top in
                            ((0, 10), (90, 12)))
            self.assertEqual((len(strong), luminance(*strong) > 0.5, weak), (1, True, {DARK}), strong)
            level = [f.near(f.column(psi), f.row(energy), 0, 1) for psi in (-150, -100, 170) for energy in (20, 22)]
            self.assertEqual((len(level[0]), level[0] == level[2] == level[4], level[1] | level[3] | level[5]), (1, True, set()), level)
            self.assertTrue(0.02 < luminance(*level[0]) < 0.5, level[0])  # half as deep as the darkest
            # The dips of a fit: dark green where paired with a glitch, dark red where not; the title from its first line.
            (folder / 'fit').mkdir()
            table(folder / 'fit/kelto_fit.csv', FIT, [(8, 0.5, 1, 1, 2, 2, 0, 1, 8.0001, -0.1, 0.4, 1),
                                                     (10, 0.3, 1, 0, '', '', '', '', '', '', '', 1),
                                                     (12, 0.8, 1, 1, -3, 1, 1, 2, 12, 0, 0.7, 2)],
                  ABOUT.format('glitch fit', '2 2 0', 'psi -180.000000 to 180.000000 degrees; energies 6.000000 to 14.000000 keV; '
                               'fitted psi 15.200000 +/- 0.001000 degrees (one standard error); 2 of 3 dips matched; rms 0.1 eV; '
                               'p 0.0100 from 99 trials of the dips moved out of reach of any match, 0 as good (significant at '
                               '0.0100)'))
            done = kelto_plot(['--size', '800x500', 'fit'], folder)
            self.assertEqual((done.returncode, done.stdout, done.stderr), (0, 'kelto-plot: wrote fit/kelto_fit.png\n', ''))
            f = Picture(folder / 'fit/kelto_fit.png', (800, 500), 0.5, (6, 14), (0, 1.0))
            for energy, depth, colour in ((8, 0.5, COLOUR['top']), (10, 0.3, COLOUR['in']), (12, 0.8, COLOUR['top'])):
                f.stick(energy, depth, colour)
            table(folder / 'fit/kelto_fit.csv', FIT, [(8, 0.5, 1, 2, 2, 2, 0, 1, 8, 0, 0.4, 1)])
            done = kelto_plot(['fit'], folder)
            self.assertEqual((done.returncode, done.stderr), (1, "kelto-plot: fit/kelto_fit.csv:2: matched is '2', not 0 or 1\n"))

    def command_line(self):
        """Refusals that come before GDL runs (no GDL needed), and --help."""
        with tempfile.TemporaryDirectory() as folder:
            run_kelto(folder, *COPPER)
            Path(folder, 'empty').mkdir()
            for _, name, header, rows, _ in MALFORMED:
                table(Path(folder, name), header, rows)
            for name in RUN_FILES:  # runs that lack one of their files
                shutil.copytree(folder, Path(folder, 'no ' + name), ignore=lambda _, n: set(n) - set(RUN_FILES) | {name})
            for args, status, message in REFUSALS + [([o, n], 1, m) for o, n, _, _, m in MALFORMED] + [
                    (['no ' + n], 1, f'no {n}/{n} is missing') for n in RUN_FILES]:
                done = kelto_plot(args, folder, {'KELTO_PLOT_GDL': 'no-gdl'})  # what gets past the checks fails there
                self.assertEqual((done.returncode, f'kelto-plot: {message}' in done.stderr), (status, True), done.stderr)
            done = kelto_plot(['--help'], folder)
            self.assertEqual((done.returncode, done.stdout.split('\n')[0]), (0, 'Usage: kelto-plot [OPTION]... [FOLDER]'))
        # The frame on the azimuth axes and in the title at one psi; the keys of the windows and the dashed energies; read
        # from the tables kelto-plot leaves for GDL (KELTO_PLOT_TABLES), which is not needed for that.
        for (about, frame), (condition, events_key, map_key, dashed) in zip(FRAMES * 2, KEYS):  # every frame and key
            with tempfile.TemporaryDirectory() as folder:
                line = (lambda what, rest: about and f'# kelto {what}: crystal SI; primary 0 0 2; {about}; {rest}')
                table(Path(folder, 'kelto_events.csv'), EVENTS, [(2, 1, 4, 1, 1, 1, 0, 0, 2, 9, 9, 81, 1, 'in')],
                      line('multiple-beam events', 'wavelength 1.540600 angstrom; psi -180.000000 to 180.000000 degrees'))
                table(Path(folder, 'kelto_glitches.csv'), GLITCHES, [(10, 1.2, 1, 1, 1, 0, 0, 2, 9, 9, 9, 1, 'glitch')],
                      line('glitch spectrum', 'at psi 10.000000 degrees; energies 5.000000 to 30.000000 keV'))
                table(Path(folder, 'kelto_glitch_map.csv'), MAP, [glitch_line(0, 10, 0, 1)],
                      line('glitch map', 'psi -180.000000 to 180.000000 degrees; energies 5.000000 to 30.000000 keV'))
                table(Path(folder, 'kelto_windows.csv'), WINDOWS, [('events', 1, 2, 1), ('energies', 3, 5, 2)],
                      '# kelto clean azimuth windows: crystal SI; primary 0 0 2; psi in the frame of the orientation matrix; '
                      f'psi -180.000000 to 180.000000 degrees; {condition}; divergence 0.000000 degrees')
                Path(folder, 'drawn').mkdir()
                done = kelto_plot([folder], folder, {'KELTO_PLOT_GDL': 'no-gdl', 'KELTO_PLOT_TABLES': 'drawn'})
                self.assertIn('GDL is not installed', done.stderr)
                drawn = {name: Path(folder, 'drawn', name + '.table').read_text().split('\n') for name in ('events', 'map')}
                glitches = Path(folder, 'drawn/glitches.table').read_text().split('\n')[1]
                axis = f'Azimuth psi {frame} [deg]' if frame else 'Azimuth psi [deg]'
                self.assertEqual([drawn['events'][2], drawn['map'][2], glitches], [axis, axis, 'Glitch spectrum' + (
                    f' of SI, primary 0 0 2, at psi 10 deg {frame}\t5 to 30 keV' if frame else '')], about)
                ranges = int(drawn['map'][0].split()[10])  # after the key and the bar of shades, their names, then them
                self.assertEqual([drawn['events'][3], drawn['map'][3], drawn['map'][6:6 + 2 * ranges]],
                                 ['clean azimuths: ' + events_key, 'clean azimuths: ' + map_key,
                                  [r.replace(' ', ' to ') + ' keV' for r in dashed] + dashed], condition)
        # The top of the scale of shades and the end of the key's bar: the largest depth (relative strength in a table
        # without depths) among the lines drawn, those the table for GDL keeps, or --map-scale.
        with tempfile.TemporaryDirectory() as folder:
            Path(folder, 'drawn').mkdir()
            for options, deep, drawn, scale in SCALES:
                rows = [(*glitch_line(c, top, cut, r, kind), d)[:16 + deep] for c, top, cut, kind, r, d in SHADED]
                table(Path(folder, 'kelto_glitch_map.csv'), MAP_DEEP if deep else MAP, rows, ABOUT.format(
                    'glitch map', '1 1 1', 'psi -180.000000 to 180.000000 degrees; energies 5.000000 to 30.000000 keV'))
                done = kelto_plot(options, folder, {'KELTO_PLOT_GDL': 'no-gdl', 'KELTO_PLOT_TABLES': 'drawn'})
                self.assertIn('GDL is not installed', done.stderr)
                head, *_, words, end = Path(folder, 'drawn/map.table').read_text().split('\n')[:6]
                lines = Path(folder, 'drawn/map.table').read_text().split('\n')[6:-1]
                shades = sorted(SHADED[i][5 - (not deep)] for i in drawn)
                top = scale or max(shades)
                self.assertEqual((int(head.split()[6]), float(head.split()[9]), words, end, [float(l.split()[3]) for l in lines]),
                                 (len(drawn), top, 'depth 0' if deep else 'relative strength 0',
                                  f'{scale:g}' if scale else f'{top:.2g}', shades), options)

    def install(self):
        """cmake --install into a relative prefix: the examples name the table by its absolute path; kelto; pages."""
        with tempfile.TemporaryDirectory() as top:
            done = run([ARGS.cmake, '--install', ARGS.build, '--prefix', 'prefix'], cwd=top)
            self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
            prefix, source = Path(top, 'prefix'), Path(ARGS.source)
            share, golden = prefix / 'share/kelto', source / 'tests/golden/silicon'
            self.assertEqual({p.name: p.read_text() for p in (share / 'examples').iterdir()},
                             {p.name: p.read_text().replace('\ndata/f0_it1992.txt\n', f"\n{share / 'f0_it1992.txt'}\n")
                              for p in (source / 'examples').iterdir()})
            done = run([prefix / 'bin/kelto'], input=(share / 'examples/silicon.txt').read_text(), cwd=top)
            self.assertEqual(done.returncode, 0, done.stdout[-500:])
            self.assertEqual([n for n in RUN_FILES if Path(top, n).read_text() != (golden / n).read_text()], [])
            # The installed kelto takes the installed table when no --table is given.
            self.assertIn(f"{share / 'f0_it1992.txt'})", run([prefix / 'bin/kelto', '--help'], cwd=top).stdout)
            for page in ('kelto.1', 'kelto-plot.1'):  # with all of groff's warnings on: none
                shown = run(['man', '--warnings=w', '-l', prefix / 'share/man/man1' / page], {'MANWIDTH': '80'})
                self.assertEqual((shown.returncode, shown.stderr, 'EXIT STATUS' in shown.stdout), (0, '', True), page)
            # The installed kelto-plot drawing from its routines: the manual's examples, run by the documentation test.


if __name__ == '__main__':
    parser = argparse.ArgumentParser()
    parser.add_argument('group', choices=('pictures', 'spectrum', 'command_line', 'install'))
    for option in ('--kelto', '--source', '--build', '--cmake'):
        parser.add_argument(option, required=True)
    ARGS = parser.parse_args()  # read by the helpers above
    if ARGS.group in ('pictures', 'spectrum') and not shutil.which('gdl'):
        sys.exit(print('SKIPPED: gdl is not installed (Debian package gnudatalanguage)') or 77)
    sys.exit(not unittest.TextTestRunner(stream=sys.stdout, verbosity=2).run(KeltoPlot(ARGS.group)).wasSuccessful())
