#!/usr/bin/env python3
"""The Python module's cost over the engine: events of silicon 0 0 2 at 8.048 keV from Python against
the engine's own compute time (kelto_bench's EventsOfSilicon002, the events and their table), and a
loop over 360 azimuths of glitch spectra of a silicon 1 1 1 monochromator from 5 to 30 keV.

    python3 bench/python_bench.py [--build build-bench-python] [--runs 200]

Builds a Release tree with the module and the benchmark, then reports medians. Targets on the
development machine: the module within 1.2 times the engine's time; the 360 spectra under 1 s.
"""
import argparse
import json
import os
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build-bench-python"))
    parser.add_argument("--runs", type=int, default=200)
    args = parser.parse_args()
    subprocess.run(["cmake", "-S", ROOT, "-B", args.build, "-DCMAKE_BUILD_TYPE=Release", "-DKELTO_BUILD_TESTS=OFF",
                    "-DKELTO_PYTHON=ON"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", args.build, "-j2", "--target", "kelto_bench", "kelto_python"], check=True,
                   stdout=subprocess.DEVNULL)
    done = subprocess.run([os.path.join(args.build, "bench", "kelto_bench"), "--benchmark_filter=EventsOfSilicon002",
                           "--benchmark_format=json", "--benchmark_repetitions=5"], check=True, capture_output=True, text=True)
    runs = [b for b in json.loads(done.stdout)["benchmarks"] if b.get("run_type") == "aggregate" and b["aggregate_name"] == "median"]
    engine = runs[0]["real_time"] / 1000.0 if runs[0]["time_unit"] == "us" else runs[0]["real_time"]  # milliseconds

    sys.path.insert(0, os.path.join(args.build, "python"))
    import kelto

    silicon = kelto.Crystal.cubic("diamond", 5.431, "Si")
    silicon.events((0, 0, 2), energy=8.048, band=0.02)  # numpy and the first call out of the way
    times = []
    for _ in range(args.runs):
        start = time.perf_counter()
        silicon.events((0, 0, 2), energy=8.048, band=0.02)
        times.append(time.perf_counter() - start)
    module = statistics.median(times) * 1000.0
    print(f"events of silicon 0 0 2 at 8.048 keV: module {module:.3f} ms, engine {engine:.3f} ms, "
          f"ratio {module / engine:.2f} (target 1.2)")

    loops = []
    for _ in range(5):
        start = time.perf_counter()
        for psi in range(360):
            silicon.glitches((1, 1, 1), psi, energies=(5, 30))
        loops.append(time.perf_counter() - start)
    print(f"glitch spectra of silicon 1 1 1 from 5 to 30 keV at 360 azimuths: {statistics.median(loops):.3f} s "
          f"(target 1 s)")


if __name__ == "__main__":
    main()
