#!/usr/bin/env python3
"""Tests of kelto-plot and of the installation, one group a run: GROUP --kelto K --source S --build B --cmake C.
The group pictures needs GDL and exits with 77 (skipped) without it.  Standard library only."""
import argparse, math, os, shutil, struct, subprocess, sys, tempfile, unittest, zlib
from pathlib import Path

WHITE, BLACK, RED, BLUE, SHADE = (255,) * 3, (0,) * 3, (175, 0, 0), (0, 110, 214), (200, 235, 200)
RUN_FILES = ('kelto_spaghetti.dat', 'kelto_spaghetti.mac', 'kelto_unweg.dat', 'kelto_unweg.mac')
EVENTS = 'psi,psi_lower,psi_upper,h,k,l,coupling_h,coupling_k,coupling_l,F,F_coupling,strength,relative_strength,direction'
GLITCHES = 'energy_keV,wavelength,h,k,l,coupling_h,coupling_k,coupling_l,F,F_coupling,strength,relative_strength'
# Answers to kelto: structure, a, hmax, lambda, symbol, psi range, primary reflection, dlambda.
SILICON = (4, 5.431, 7, 1.5406, 'si', (-180, 180), (0, 0, 2), 0.02)  # 446 curves, more than the 31 colours
COPPER = (3, 3.615, 3, 3.0, 'Cu', (-170, 175), (1, 1, 1), 0.05)  # 16 curves, 48 band crossings
REFUSALS = [  # command lines refused in a folder with a run, events.csv and glitches.csv: arguments, status, message
    (['--azimuth', '10,-10'], 2, '--azimuth wants MIN below MAX'), (['--title'], 2, '--title needs a value'),
    (['--intensity', '5,5'], 2, '--intensity wants MIN below MAX'), (['.', 'x'], 2, 'one folder only'),
    (['--wavelength=1,x'], 2, '--wavelength wants MIN,MAX'), (['--points', '1'], 2, '--points wants a whole number'),
    (['--size', '100x100'], 2, '--size wants at least 300x200'), (['--radians=1'], 2, '--radians takes no value'),
    (['--colour'], 2, "unknown option '--colour'"), (['--clean', '0'], 2, '--clean wants WIDTH[,FRACTION]'),
    (['no such folder'], 1, 'no such folder is not a folder\n'), (['empty'], 1, 'nothing to draw in empty'),
    (['--glitches=glitches.csv'], 1, 'glitches.csv:2: relative_strength is 1.5, outside 0 to 1'),
    (['--events', 'events.csv'], 1, 'events.csv is not a kelto events table: its first line must be psi,'),
    ([], 1, "GDL is not installed (no command 'no-gdl'): install the Debian package gnudatalanguage")]


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


def table(path, header, rows):
    Path(path).write_text('\n'.join([header] + [','.join(map(str, row)) for row in rows]) + '\n')


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
        dark = [sum(w * (c / 255) ** 2.2 for w, c in zip((0.2126, 0.7152, 0.0722), rgb)) < 0.45 for rgb in found]
        self.assertTrue(colours <= len(found) <= 31 and all(dark), f'curve colours {found}')
        highest = highest_peak(folder, azimuth, npts)
        f = Picture(Path(folder, pngs[1]), size, 0.5, azimuth, intensity or (0, 1.1 * highest))
        height, inside = f.bottom - f.top, slice(f.left + (f.right - f.left) // 30, f.right - (f.right - f.left) // 30)
        for centre in ((psi1 + psi2) / 2 for psi1, psi2 in crossings(folder)):
            self.assertTrue(f.near(f.column(centre), f.bottom - height // 6 - 1, 2, height // 6 - 1), centre)
        drawn = next(y for y in range(f.top + height // 25, f.bottom) if set(f.rows[y][inside]) - {WHITE})  # past ticks
        self.assertLessEqual(abs(drawn - f.row(highest)), 2, f'highest peak at row {drawn}, not {f.row(highest)}')
        return f

    def pictures(self):
        """Event and glitch tables alone; silicon with every default, seeds, the default title; copper with every option."""
        # psi, lower, upper, strength: 120 too weak to spoil a window; 190 outside the azimuths, yet occupies 150 to 180
        events = [(-100, -101, -99, 1.0, 'in'), (-90, -90.5, -89.5, 0.5, 'out'), (0, 50, -50, 0.6, 'in'),
                  (25, 24, 26, 0.55, 'out'), (-178, -178.2, -141, 0.9, 'in'), (120, 119, 121, 0.01, 'out'),
                  (190, 200, 150, 0.3, 'in')]
        windows = [(-141, -101), (50, 150)]  # the clean stretches at least 40 degrees wide, the first just that
        with tempfile.TemporaryDirectory() as top:
            sticks, si, cu, shots = Path(top), Path(top, 'si'), Path(top, 'copper run'), []  # tables alone, then runs
            table(sticks / 'kelto_events.csv', EVENTS, [(*e[:3], 1, 1, 1, -1, -1, 1, 9, 9, 99, *e[3:]) for e in events])
            table(sticks / 'kelto_glitches.csv', GLITCHES,
                  [(8, 1.55, 2, 2, 0, -1, 1, 1, 9, 9, 9, 1), (11, 1.127, 3, 1, 1, 0, 0, 2, 9, 9, 9, 0.25)])
            done = kelto_plot(['--clean', '40', '--size=600x400', '--events-png', 'e.png'], sticks)
            self.assertEqual((done.returncode, done.stdout.split('\n')), (0, ['kelto-plot: wrote e.png'] + [
                f'kelto-plot: clean azimuths {a:.3f} to {b:.3f} degrees ({b - a:.3f} wide)' for a, b in windows] +
                ['kelto-plot: wrote kelto_glitches.png', '']), done.stderr)
            # Sticks at their azimuth as tall as their relative strength, none beyond the frame, clean windows shaded.
            f = Picture(sticks / 'e.png', (600, 400), 0.05, (-180, 180), (0, 1.15))
            for psi, _, _, height, direction in events[:5]:
                f.stick(psi, height, RED if direction == 'in' else BLUE)
            self.assertFalse({RED, BLUE} & {p for r in f.rows[f.top:f.bottom] for p in r[f.right + 1:]})
            shaded = {x for x in range(f.left + 1, f.right) if any(r[x] == SHADE for r in f.rows[f.top + 1:f.bottom])}
            ends = {f.column(end) + d for window in windows for end in window for d in (-1, 0, 1)}  # rounding
            self.assertEqual(shaded - ends, {x for a, b in windows for x in range(f.column(a), f.column(b) + 1)} - ends)
            # Labels above the sticks, strongest first, none crossing a stick or a label or leaving the frame.
            for psi, height, labelled in (-100, 1, 1), (0, 0.6, 1), (-90, 0.5, 0), (25, 0.55, 0), (-178, 0.9, 0):
                label = f.near(f.column(psi), f.row(height) - 14, 2, 10) - {SHADE, BLACK}
                self.assertEqual(bool(label), bool(labelled), f'label of the event at {psi}: {label}')
            f = Picture(sticks / 'kelto_glitches.png', (600, 400), 0.5, (7.85, 11.15), (0, 1.15))  # energies widened 5 %
            f.stick(8, 1, BLACK)
            f.stick(11, 0.25, BLACK)
            # Same files, seed and title: the same pictures; the default title is the table's.
            run_kelto(si, *SILICON)
            for args in [], ['--seed', '2'], ['--seed', '1', '--title', 'SI, primary reflection 0 0 2, lambda = 1.541 A']:
                done = kelto_plot(args, si)
                self.assertEqual((done.returncode, done.stderr), (0, ''))
                shots.append([(si / f'kelto_{p}.png').read_bytes() for p in ('spaghetti', 'unweg')])
            self.assertTrue(shots[0] == shots[2], 'pictures differ: not reproducible, or not the default title')
            self.assertEqual([shots[0][0] == shots[1][0], shots[0][1] == shots[1][1]], [False, True], 'seed: labels only')
            lam, half = SILICON[3], max(5 * SILICON[7], 0.05 * SILICON[3])  # the default axes; a point every 0.02 degree
            self.check_run(si, (1200, 800), (-180, 180), (lam - half, lam + half), 18001, None, SILICON, 31)
            # Every option; the units change the annotation of the azimuth axis, nothing inside the frame.
            run_kelto(cu, *COPPER)
            options = ['--azimuth', '-170,175', '--points=7001', '--wavelength', '2.8,3.3', '--intensity', '0,1500',
                       '--size', '700x500', '--title', 'copper at 3 A', '--spaghetti-png', 's.png', 'copper run']
            for units, env in ('radians', {'GDL_IS_FUSSY': '1'}), ('degrees', {}):  # fussy: no (i) subscripts
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

    def command_line(self):
        """Refusals that come before GDL runs (no GDL needed), and --help."""
        with tempfile.TemporaryDirectory() as folder:
            run_kelto(folder, *COPPER)
            Path(folder, 'empty').mkdir()
            table(Path(folder, 'events.csv'), EVENTS.replace('psi_upper', 'psi_higher'), [])
            table(Path(folder, 'glitches.csv'), GLITCHES, [(10, 1.2, 1, 1, 1, 0, 0, 2, 9, 9, 9, 1.5)])
            for name in RUN_FILES:  # runs that lack one of their files
                shutil.copytree(folder, Path(folder, 'no ' + name), ignore=lambda _, n: set(n) - set(RUN_FILES) | {name})
            for args, status, message in REFUSALS + [(['no ' + n], 1, f'no {n}/{n} is missing') for n in RUN_FILES]:
                done = kelto_plot(args, folder, {'KELTO_PLOT_GDL': 'no-gdl'})  # what gets past the checks fails there
                self.assertEqual((done.returncode, f'kelto-plot: {message}' in done.stderr), (status, True), done.stderr)
            done = kelto_plot(['--help'], folder)
            self.assertEqual((done.returncode, done.stdout.split('\n')[0]), (0, 'Usage: kelto-plot [OPTION]... [FOLDER]'))

    def install(self):
        """cmake --install into a relative prefix: the examples name the table by its absolute path; programs; pages."""
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
            args = ['--points', '3601', '--size', '400x300'] if shutil.which('gdl') else ['--help']  # without GDL, help
            done = kelto_plot(args, top, (), prefix / 'bin/kelto-plot')  # it finds its routines
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertTrue(args == ['--help'] or Picture(Path(top, 'kelto_unweg.png'), (400, 300)))


if __name__ == '__main__':
    parser = argparse.ArgumentParser()
    parser.add_argument('group', choices=('pictures', 'command_line', 'install'))
    for option in ('--kelto', '--source', '--build', '--cmake'):
        parser.add_argument(option, required=True)
    ARGS = parser.parse_args()  # read by the helpers above
    if ARGS.group == 'pictures' and not shutil.which('gdl'):
        sys.exit(print('SKIPPED: gdl is not installed (Debian package gnudatalanguage)') or 77)
    sys.exit(not unittest.TextTestRunner(stream=sys.stdout, verbosity=2).run(KeltoPlot(ARGS.group)).wasSuccessful())
