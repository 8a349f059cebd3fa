#!/usr/bin/env python3
"""The silicon planning of docs/python.md, as in a notebook: the multiple-beam events of silicon
0 0 2 at Cu K-alpha 1 with their clean azimuth windows, and the glitch spectrum of a silicon 1 1 1
monochromator at psi 10 degrees from 5 to 30 keV. With matplotlib installed it draws both as sticks
into silicon_events.png and silicon_glitches.png in the current folder.

    PYTHONPATH=build/python python3 examples/silicon_planning.py
"""
import kelto

silicon = kelto.Crystal.cubic("diamond", 5.431, "Si")

# The same rows as: kelto --structure diamond --lattice 5.431 --symbol Si --primary 0,0,2
#                         --wavelength 1.5406 --band 0.02 --events kelto_events.csv
events = silicon.events((0, 0, 2), wavelength=1.5406, band=0.02)
strongest = events[events["relative_strength"].argmax()]
print(f"{len(events)} multiple-beam events; the strongest: {strongest['h']} {strongest['k']} {strongest['l']} "
      f"at psi {strongest['psi']:.3f} degrees ({strongest['direction']})")
for window in kelto.clean_windows(events, 5):
    print(f"  clean from {window['psi_start']:.3f} to {window['psi_end']:.3f} degrees ({window['width']:.3f} wide)")

# The same rows as: kelto ... --primary 1,1,1 --glitches kelto_glitches.csv --at-psi 10 --energies 5,30
glitches = silicon.glitches((1, 1, 1), 10, energies=(5, 30))
print(f"{len(glitches)} glitches from 5 to 30 keV at psi 10 degrees; the first at {glitches['energy_keV'][0]:.4f} keV")

try:
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
except ImportError:
    print("matplotlib is not installed: no pictures")
else:
    for name, x, label, rows in (("silicon_events.png", "psi", "azimuth psi [deg]", events),
                                 ("silicon_glitches.png", "energy_keV", "energy [keV]", glitches)):
        figure, axes = plt.subplots(figsize=(12, 4))
        axes.vlines(rows[x], 0, rows["relative_strength"], linewidth=0.8)
        axes.set_xlabel(label)
        axes.set_ylabel("relative strength")
        figure.savefig(name, dpi=100)
        print(f"wrote {name}")
