#!/usr/bin/env python3
"""Benchmark of large surveys: kelto on silicon (diamond, a 5.431, primary 0 0 2, hMax 80) at
shrinking wavelengths, against the write floor of the same bytes.

    python3 bench/run_bench.py [--runs 5] [--lambdas 0.5,0.3,0.2,0.15] [--workdir DIR] [--kelto BIN]

Builds a Release kelto in build-bench/, then for each wavelength runs it once untimed and --runs
times timed (standard output to a file in the run's folder) and reports the medians: families surveyed, result rows,
curves, bytes written (four files plus standard output), wall, user and system seconds, rows per
second, MB per second, and the peak resident memory against its limit of 8 MiB plus 48 bytes per
curve. In the same run it measures the write floor, the time one `cat`
process takes to copy that run's output into a new file, and the ratio of kelto's time to it.
"""
import argparse
import os
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUTPUTS = ["kelto_spaghetti.dat", "kelto_spaghetti.mac", "kelto_unweg.dat", "kelto_unweg.mac"]


def f32(x):
    return struct.unpack("f", struct.pack("f", x))[0]


def families_surveyed(a, lam, h_max):
    """Families h >= k >= l >= 0 strictly inside the limiting sphere that diamond admits."""
    two_a = f32(f32(a) + f32(a))
    n_high = (two_a * 1.0 / f32(lam)) ** 2
    count = 0
    for h in range(h_max + 1):
        for k in range(h + 1):
            for l in range(k + 1):
                n = h * h + k * k + l * l
                if not 0 < n < n_high:
                    continue
                odd = h % 2 and k % 2 and l % 2
                even = h % 2 == 0 and k % 2 == 0 and l % 2 == 0 and (h + k + l) % 4 == 0
                count += 1 if odd or even else 0
    return count


def timed(command, stdin_path, stdout_path, cwd):
    """Wall seconds, user and system CPU seconds and peak resident memory (KiB) of one process.

    CPU times and peak come from GNU time: a process forked from this Python interpreter would
    carry the interpreter's own resident memory into its peak."""
    report = os.path.join(cwd, "time.txt")
    with open(stdin_path, "rb") as stdin, open(stdout_path, "wb") as stdout:
        start = time.perf_counter()
        status = subprocess.call(["/usr/bin/time", "-f", "%U %S %M", "-o", report] + command,
                                 stdin=stdin, stdout=stdout, cwd=cwd)
        wall = time.perf_counter() - start
    if status != 0:
        sys.exit(f"{command[0]} failed with status {status}")
    with open(report) as f:
        user, system, peak = f.read().split()[-3:]
    os.remove(report)
    return wall, float(user), float(system), int(peak)


def build():
    build_dir = os.path.join(ROOT, "build-bench")
    subprocess.run(["cmake", "-S", ROOT, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release",
                    "-DKELTO_BUILD_TESTS=OFF"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build_dir, "-j2"], check=True, stdout=subprocess.DEVNULL)
    return os.path.join(build_dir, "kelto")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--lambdas", default="0.5,0.3,0.2,0.15")
    parser.add_argument("--workdir", default=None, help="folder for the runs (default: a temporary one)")
    parser.add_argument("--kelto", default=None, help="measure this kelto binary instead of building one")
    args = parser.parse_args()

    if not os.path.exists("/usr/bin/time"):
        sys.exit("the benchmark needs GNU time (Debian package: time)")
    kelto = os.path.abspath(args.kelto) if args.kelto else build()
    workdir = args.workdir or tempfile.mkdtemp(prefix="kelto-bench-")
    table = os.path.join(ROOT, "data", "f0_it1992.txt")
    header = (f"{'lambda':>6} {'families':>8} {'rows':>8} {'curves':>7} {'MB':>7} {'wall s':>7} {'user s':>7} "
              f"{'sys s':>6} {'rows/s':>10} {'MB/s':>7} {'peak KiB':>8} {'limit KiB':>9} {'floor s':>7} {'ratio':>5}")
    print(header)
    try:
        for lam in [float(x) for x in args.lambdas.split(",")]:
            folder = os.path.join(workdir, f"lambda_{lam}")
            os.makedirs(folder, exist_ok=True)
            answers = os.path.join(folder, "answers.txt")
            with open(answers, "w") as f:
                f.write(f"4\n{table}\n5.431\n80\n80\n80\n{lam}\nsi\n-180\n180\n0\n0\n2\n0.02\n")
            stdout_path = os.path.join(folder, "stdout.txt")
            walls, users, systems, peaks, floors = [], [], [], [], []
            # One run of each more than is timed: the first warms the caches and is not counted.
            for run in range(args.runs + 1):
                # Every run starts without output files, as the copy of the floor does: replacing
                # the files of an earlier run would add the cost of freeing their pages.
                for name in OUTPUTS + ["stdout.txt"]:
                    if os.path.exists(os.path.join(folder, name)):
                        os.remove(os.path.join(folder, name))
                wall, user, system, peak = timed([kelto], answers, stdout_path, folder)
                sources = [os.path.join(folder, name) for name in OUTPUTS] + [stdout_path]
                copy = os.path.join(folder, "copy.bin")
                floor = timed(["cat"] + sources, os.devnull, copy, folder)[0]
                os.remove(copy)
                if run > 0:
                    walls.append(wall)
                    users.append(user)
                    systems.append(system)
                    peaks.append(peak)
                    floors.append(floor)
            sizes = sum(os.path.getsize(os.path.join(folder, n)) for n in OUTPUTS)
            sizes += os.path.getsize(stdout_path)
            with open(os.path.join(folder, "kelto_spaghetti.dat"), "rb") as f:
                rows = sum(1 for _ in f) - 5
            curves = 0
            with open(stdout_path, "rb") as f:
                for line in f:
                    if line.startswith(b"There are "):
                        curves = int(line.split()[2])
            wall = statistics.median(walls)
            floor = statistics.median(floors)
            mb = sizes / 1e6
            # The memory target: 8 MiB plus 48 bytes per curve.
            limit = (8 * 1024 * 1024 + 48 * curves) // 1024
            print(f"{lam:>6} {families_surveyed(5.431, lam, 80):>8} {rows:>8} {curves:>7} {mb:>7.1f} {wall:>7.3f} "
                  f"{statistics.median(users):>7.3f} {statistics.median(systems):>6.3f} {rows / wall:>10.0f} "
                  f"{mb / wall:>7.1f} {max(peaks):>8} {limit:>9} {floor:>7.3f} {wall / floor:>5.2f}", flush=True)
            for name in OUTPUTS + ["stdout.txt"]:
                os.remove(os.path.join(folder, name))
    finally:
        if args.workdir is None:
            shutil.rmtree(workdir, ignore_errors=True)


if __name__ == "__main__":
    main()
